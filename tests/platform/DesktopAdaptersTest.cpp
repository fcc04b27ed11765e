#include "platform/ScreenLocator.h"
#include "platform/SoundPlayer.h"

#include <QtEndian>
#include <gtest/gtest.h>

namespace {

TEST(ScreenLocator, PointerScreenThenMainThenFirst)
{
    const QList<QRect> frames{QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 1024), QRect(-1280, 0, 1280, 800)};
    EXPECT_EQ(ScreenLocator::indexUnder(QPoint(2000, 500), frames, 0), 1);
    EXPECT_EQ(ScreenLocator::indexUnder(QPoint(-5, 10), frames, 0), 2);
    EXPECT_EQ(ScreenLocator::indexUnder(QPoint(10, 10), frames, 1), 0);
    // Off every screen: the main one, or the first when there is no main one.
    EXPECT_EQ(ScreenLocator::indexUnder(QPoint(0, 5000), frames, 1), 1);
    EXPECT_EQ(ScreenLocator::indexUnder(QPoint(0, 5000), frames, -1), 0);
    EXPECT_EQ(ScreenLocator::indexUnder(QPoint(0, 0), {}, -1), -1);
}

TEST(SoundPlayer, GlassChimeIsAConsistentWav)
{
    const QByteArray wav = EffectSoundPlayer::glassChimeWav();
    ASSERT_GT(wav.size(), 44);
    const auto number = [&](int at) { return qsizetype(qFromLittleEndian<quint32>(wav.constData() + at)); };
    // The chunk sizes agree with the length; 44.1 kHz.
    EXPECT_EQ(std::tuple(wav.left(4), number(4), wav.mid(8, 8), number(24), wav.mid(36, 4), number(40)),
              std::tuple(QByteArray("RIFF"), wav.size() - 8, QByteArray("WAVEfmt "), 44100, QByteArray("data"),
                         wav.size() - 44));
}

} // namespace
