#include "platform/SoundPlayer.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QSoundEffect>
#include <QUrl>
#include <QtEndian>

#include <cmath>

namespace {
constexpr int kSampleRate = 44100;
constexpr double kChimeSeconds = 0.35;

void appendLe32(QByteArray &bytes, quint32 value)
{
    char raw[4];
    qToLittleEndian(value, raw);
    bytes.append(raw, 4);
}

void appendLe16(QByteArray &bytes, quint16 value)
{
    char raw[2];
    qToLittleEndian(value, raw);
    bytes.append(raw, 2);
}
} // namespace

EffectSoundPlayer::EffectSoundPlayer(QString folder) : m_folder(std::move(folder))
{
}

EffectSoundPlayer::~EffectSoundPlayer() = default;

QByteArray EffectSoundPlayer::glassChimeWav()
{
    const int frames = static_cast<int>(kSampleRate * kChimeSeconds);
    QByteArray samples;
    samples.reserve(frames * 2);
    for (int i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / kSampleRate;
        const double envelope = std::exp(-t * 9.0) * std::min(1.0, t * 400.0);
        const double tone = 0.6 * std::sin(2 * M_PI * 1568.0 * t) + 0.4 * std::sin(2 * M_PI * 2093.0 * t);
        appendLe16(samples, static_cast<quint16>(static_cast<qint16>(tone * envelope * 0.5 * 32767)));
    }
    QByteArray wav("RIFF");
    appendLe32(wav, 36 + samples.size());
    wav.append("WAVEfmt ");
    appendLe32(wav, 16);
    appendLe16(wav, 1); // PCM
    appendLe16(wav, 1); // mono
    appendLe32(wav, kSampleRate);
    appendLe32(wav, kSampleRate * 2);
    appendLe16(wav, 2);
    appendLe16(wav, 16);
    wav.append("data");
    appendLe32(wav, samples.size());
    return wav + samples;
}

void EffectSoundPlayer::play(const QString &name)
{
    if (name != QLatin1String("Glass"))
        return;
    if (!m_glass) {
        const QString path = QDir(m_folder).filePath(QStringLiteral("Glass.wav"));
        if (!QFile::exists(path)) {
            QDir().mkpath(m_folder);
            QSaveFile file(path);
            if (!file.open(QIODevice::WriteOnly) || file.write(glassChimeWav()) < 0 || !file.commit())
                return;
        }
        m_glass = std::make_unique<QSoundEffect>();
        m_glass->setSource(QUrl::fromLocalFile(path));
    }
    m_glass->play();
}
