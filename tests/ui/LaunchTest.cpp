// The real `mivra` binary on the test's X display: command line, start-up,
// and a second launch handing its URL to the running app.

#include "XEmbedTrayStub.h"

#include "platform/FilePreferenceStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

namespace {

const QString kBinary = QStringLiteral(MIVRA_BINARY_DIR "/src/mivra");

struct ProcessRun {
    int status = -1;
    QString out;
    QString err;
};

class LaunchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QFile::exists(kBinary)) << kBinary.toStdString();
        QFile::setPermissions(m_home.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME"})
            m_env.insert(QString::fromLatin1(name), m_home.path() + QLatin1Char('/') + QString::fromLatin1(name));
        m_env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_home.path());
        m_env.insert(QStringLiteral("HOME"), m_home.path());
        // Nothing listens there: the first refresh fails at once and quietly.
        m_env.insert(QStringLiteral("MIVRA_SERVICE_ORIGIN"), QStringLiteral("http://127.0.0.1:9"));
        m_env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    }
    void TearDown() override
    {
        if (m_app.state() != QProcess::NotRunning) {
            m_app.terminate();
            if (!m_app.waitForFinished(3000))
                m_app.kill();
            m_app.waitForFinished(3000);
        }
    }

    ProcessRun run(const QStringList &arguments, QProcessEnvironment env = {})
    {
        QProcess process;
        process.setProcessEnvironment(env.isEmpty() ? m_env : env);
        process.start(kBinary, arguments);
        ProcessRun result;
        if (!process.waitForFinished(10000)) {
            process.kill();
            process.waitForFinished();
            return result;
        }
        result.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        result.out = QString::fromUtf8(process.readAllStandardOutput());
        result.err = QString::fromUtf8(process.readAllStandardError());
        return result;
    }

    QString log() const
    {
        QFile file(m_home.path() + QStringLiteral("/XDG_STATE_HOME/Mivra Video/Logs/Mivra.log"));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    bool waitForLog(const QString &text, int timeoutMs = 5000)
    {
        for (int waited = 0; waited < timeoutMs; waited += 20) {
            if (log().contains(text))
                return true;
            QThread::msleep(20);
        }
        return false;
    }

    QTemporaryDir m_home;
    QProcessEnvironment m_env;
    QProcess m_app;
};

TEST_F(LaunchTest, CommandLineConventions)
{
    const ProcessRun help = run({QStringLiteral("--help")});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.startsWith(QStringLiteral("Usage: mivra"))) << help.out.toStdString();
    EXPECT_TRUE(help.out.contains(QStringLiteral("mivra://record?silent=1")));
    EXPECT_TRUE(help.err.isEmpty());

    const ProcessRun version = run({QStringLiteral("--version")});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, QStringLiteral("mivra " MIVRA_VERSION "\n"));

    for (const char *bad : {"--bogus", "https://example.com", "frobnicate"}) {
        const ProcessRun wrong = run({QString::fromLatin1(bad)});
        EXPECT_EQ(wrong.status, 2) << bad;
        EXPECT_TRUE(wrong.out.isEmpty()) << bad;
        EXPECT_TRUE(wrong.err.startsWith(QStringLiteral("mivra: "))) << wrong.err.toStdString();
    }

    // Nothing running and no display to start on.
    QProcessEnvironment headless = m_env;
    headless.remove(QStringLiteral("DISPLAY"));
    headless.remove(QStringLiteral("WAYLAND_DISPLAY"));
    const ProcessRun orphan = run({QStringLiteral("mivra://stop")}, headless);
    EXPECT_EQ(orphan.status, 1);
    EXPECT_TRUE(orphan.err.contains(QStringLiteral("not running"))) << orphan.err.toStdString();
}

TEST_F(LaunchTest, StaysUpAndTakesCommandsFromLaterLaunches)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X display (run under Xvfb)";
    // No microphone here: record the screen alone.
    FilePreferenceStore(m_home.path() + QStringLiteral("/XDG_CONFIG_HOME/Mivra Video/preferences.json"))
        .setValue(QStringLiteral("micEnabled"), false);
    m_app.setProcessEnvironment(m_env);
    m_app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const bool trayBefore = QSystemTrayIcon::isSystemTrayAvailable();
    m_app.start(kBinary, {});
    ASSERT_TRUE(m_app.waitForStarted(5000));
    ASSERT_TRUE(waitForLog(QStringLiteral("start: idle in the tray after "))) << log().toStdString();
    const QRegularExpression startup(QStringLiteral("start: idle in the tray after (\\d+) ms"));
    const int startupMs = startup.match(log()).captured(1).toInt();
    std::printf("start-up to an idle tray: %d ms\n", startupMs);
    EXPECT_LT(startupMs, 1000);
    // Plain Xvfb has no tray (unless a parallel test runs its stand-in): the
    // app says so and opens its window instead.
    if (!trayBefore)
        EXPECT_TRUE(log().contains(QStringLiteral("tray: this desktop has no system tray")));

    const ProcessRun record = run({QStringLiteral("mivra://record")});
    EXPECT_EQ(record.status, 0) << record.err.toStdString();
    ASSERT_TRUE(waitForLog(QStringLiteral("phase starting")));
    // The first recording measures the encoder's speed before it starts.
    ASSERT_TRUE(waitForLog(QStringLiteral("phase recording"), 30000)) << log().toStdString();
    EXPECT_EQ(run({QStringLiteral("mivra://discard")}).status, 0);
    EXPECT_TRUE(waitForLog(QStringLiteral("discarded recording Mivra "), 15000)) << log().toStdString();
    EXPECT_TRUE(waitForLog(QStringLiteral("phase idle")));
    const QStringList phases = log().split(QLatin1Char('\n')).filter(QStringLiteral(" phase "));
    EXPECT_EQ(phases.size(), 4) << log().toStdString(); // starting, recording, finishing, idle

    const ProcessRun reopen = run({});
    EXPECT_EQ(reopen.status, 0);
    EXPECT_FALSE(m_app.waitForFinished(200)) << "the app is still up";
    // Still the one instance: a second app would have logged its own start.
    EXPECT_EQ(log().count(QStringLiteral("start: idle in the tray")), 1);
}

TEST_F(LaunchTest, WithATrayTheAppDocksThereAndOpensNoWindow)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X display (run under Xvfb)";
    XEmbedTrayStub trayManager;
    ASSERT_TRUE(trayManager.ready());
    m_app.setProcessEnvironment(m_env);
    m_app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_app.start(kBinary, {});
    ASSERT_TRUE(m_app.waitForStarted(5000));
    // The stub answers dock requests from the test's event loop.
    for (int waited = 0; waited < 5000 && trayManager.docked() == 0; waited += 20) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(20);
    }
    EXPECT_GE(trayManager.docked(), 1);
    ASSERT_TRUE(waitForLog(QStringLiteral("start: idle in the tray after ")));
    EXPECT_FALSE(log().contains(QStringLiteral("tray: this desktop has no system tray")));
}

} // namespace
