#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// The test sound server: scripts/test starts PulseAudio with a null sink
// "mivra-feed" whose monitor is remapped as the microphone "mivra-mic".
bool haveTestSoundServer();

// Plays a tone into the test microphone in real time while it lives.
class ToneFeed {
public:
    explicit ToneFeed(double seconds = 10.0, int frequencyHz = 440);
    ~ToneFeed();
    bool running() const { return m_player.state() == QProcess::Running; }

private:
    QTemporaryDir m_dir; // the tone's file, this feed's own
    QProcess m_player;
};
