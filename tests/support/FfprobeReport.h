#pragma once

// ffprobe on a real MP4: its streams, frame count, boxes and decoded pictures.

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QVector>

#include <string>

// What ffprobe says about a media file, and the order of its top-level boxes.
struct FfprobeReport {
    bool ok = false;
    QJsonObject format;
    QJsonObject video; // the first video stream
    QJsonObject audio; // the first audio stream, empty when none
    double durationSeconds() const { return seconds(format); }
    double videoDurationSeconds() const { return seconds(video); }
    double audioDurationSeconds() const { return seconds(audio); }
    static double seconds(const QJsonObject &object) { return object.value("duration").toString().toDouble(); }
};

FfprobeReport ffprobe(const QString &path);
// The values of a stream's space-separated `keys`, joined by spaces ("h264 640 360").
std::string streamFields(const QJsonObject &stream, const char *keys);
// The lines of `ffprobe -v error <arguments> -of csv=p=0 <path>`.
QList<QByteArray> ffprobeLines(const QString &arguments, const QString &path);
// Seconds of the video track that decode without error (frames times their spacing).
double decodableVideoSeconds(const QString &path);
struct Mp4Box {
    QString type; // "ftyp", "moov", "moof", "mdat", ...
    qint64 offset = 0;
    qint64 size = 0;
};
// Top-level MP4 boxes in file order.
QList<Mp4Box> topLevelBoxes(const QString &path);
QStringList boxTypes(const QList<Mp4Box> &boxes);
// One decoded picture near timeSeconds as B,G,R,X rows (width × height × 4 bytes).
QByteArray decodeFrameBgrx(const QString &path, double timeSeconds, int width, int height);
// The sound track decoded to one channel of float samples at sampleRate.
QVector<float> decodeAudioMono(const QString &path, int sampleRate);
