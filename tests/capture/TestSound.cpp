#include "TestSound.h"

#include <QDir>
#include <QFile>
#include <QThread>

bool haveTestSoundServer()
{
    QProcess pactl;
    pactl.start(QStringLiteral("pactl"), {QStringLiteral("info")});
    return pactl.waitForFinished(3000) && pactl.exitStatus() == QProcess::NormalExit && pactl.exitCode() == 0;
}

ToneFeed::ToneFeed(double seconds, int frequencyHz)
{
    m_wavPath = QDir::temp().filePath(QStringLiteral("mivra-tone-%1-%2.wav").arg(frequencyHz).arg(seconds));
    if (!QFile::exists(m_wavPath)) {
        QProcess ffmpeg;
        ffmpeg.start(QStringLiteral("ffmpeg"),
                     {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-f"),
                      QStringLiteral("lavfi"), QStringLiteral("-i"),
                      QStringLiteral("sine=frequency=%1:sample_rate=48000:duration=%2").arg(frequencyHz).arg(seconds),
                      QStringLiteral("-ac"), QStringLiteral("2"), m_wavPath});
        ffmpeg.waitForFinished(30000);
    }
    // Small latency: the microphone then delivers sound as a real one does.
    m_player.start(QStringLiteral("paplay"),
                   {QStringLiteral("--latency-msec=20"), QStringLiteral("--device=mivra-feed"), m_wavPath});
    m_player.waitForStarted(3000);
    // The remapped source delivers only while something plays: wait until
    // the player's stream is there, and a little for sound to flow.
    for (int i = 0; i < 40; ++i) {
        QProcess pactl;
        pactl.start(QStringLiteral("pactl"),
                    {QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sink-inputs")});
        pactl.waitForFinished(3000);
        if (!pactl.readAllStandardOutput().trimmed().isEmpty())
            break;
        QThread::msleep(50);
    }
    QThread::msleep(150);
}

ToneFeed::~ToneFeed()
{
    if (m_player.state() != QProcess::NotRunning) {
        m_player.kill();
        m_player.waitForFinished(3000);
    }
}
