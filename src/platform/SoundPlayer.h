#pragma once

#include <QString>

#include <memory>

class QSoundEffect;

// Plays the short system sounds the app uses ("Glass" when a link is ready).
class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;
    virtual void play(const QString &name) = 0;
};

// Plays a chime made here once and kept in the app's data folder, so no
// sound theme needs to be installed. Unknown names and missing audio output
// are silent.
class EffectSoundPlayer final : public SoundPlayer {
public:
    explicit EffectSoundPlayer(QString folder);
    ~EffectSoundPlayer() override;
    void play(const QString &name) override;

    // A 16-bit mono WAV of a short two-tone chime.
    static QByteArray glassChimeWav();

private:
    QString m_folder;
    std::unique_ptr<QSoundEffect> m_glass;
};
