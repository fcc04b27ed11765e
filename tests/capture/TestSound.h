#pragma once

#include "Await.h"
#include "PrivateHome.h"

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// The test sound server: scripts/test starts PulseAudio with a null sink
// "mivra-feed" whose monitor is remapped as the microphone "mivra-mic".
inline bool haveTestSoundServer()
{
    QProcess pactl;
    pactl.start(QStringLiteral("pactl"), {QStringLiteral("info")});
    return pactl.waitForFinished(3000) && pactl.exitStatus() == QProcess::NormalExit && pactl.exitCode() == 0;
}

// Plays a 440 Hz tone (for up to 10 s) into the test microphone in real
// time while it lives.
class ToneFeed {
public:
    ToneFeed()
    {
        const QString wav = m_dir.filePath(QStringLiteral("tone.wav"));
        QProcess ffmpeg;
        ffmpeg.start("ffmpeg",
                     QString("-v error -f lavfi -i sine=frequency=440:sample_rate=48000:duration=10 -ac 2").split(' ')
                         << wav);
        ffmpeg.waitForFinished(30000);
        // Small latency: the microphone then delivers sound as a real one does.
        m_player.start("paplay", {"--latency-msec=20", "--device=mivra-feed", wav});
        if (!m_player.waitForStarted(3000))
            return;
        // The remapped source delivers only while something plays: wait until
        // the server has this player's stream (others may play too).
        const QByteArray ours = "application.process.id = \"" + QByteArray::number(m_player.processId()) + '"';
        waitUntil([&] {
            QProcess pactl;
            pactl.start("pactl", {"list", "sink-inputs"});
            pactl.waitForFinished(3000);
            return m_player.state() != QProcess::Running || pactl.readAllStandardOutput().contains(ours);
        });
    }
    ~ToneFeed() { stopChild(m_player); }

private:
    QTemporaryDir m_dir; // the tone's file, this feed's own
    QProcess m_player;
};
