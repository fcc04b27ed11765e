#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// The test sound server: scripts/test starts PulseAudio with a null sink
// "mivra-feed" whose monitor is remapped as the microphone "mivra-mic".
bool haveTestSoundServer();

// Plays a 440 Hz tone (for up to 10 s) into the test microphone in real
// time while it lives.
class ToneFeed {
public:
    ToneFeed();
    ~ToneFeed();
    bool running() const { return m_player.state() == QProcess::Running; }

private:
    QTemporaryDir m_dir; // the tone's file, this feed's own
    QProcess m_player;
};
