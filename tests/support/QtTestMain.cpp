// gtest main with a Qt application object: a GUI one when a display (or the
// offscreen platform) is available, a core one otherwise.
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

int main(int argc, char **argv)
{
    ::testing::InitGoogleMock(&argc, argv);
    // Every test process gets its own config, data, state and cache folders,
    // so no test touches the user's files or another test's.
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/mivra-test-XXXXXX"));
    for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME"})
        qputenv(name, (home.path() + QLatin1Char('/') + QString::fromLatin1(name).toLower()).toUtf8());
    const bool gui = qEnvironmentVariableIsSet("QT_QPA_PLATFORM") || qEnvironmentVariableIsSet("DISPLAY") ||
                     qEnvironmentVariableIsSet("WAYLAND_DISPLAY");
    const std::unique_ptr<QCoreApplication> app(gui ? new QApplication(argc, argv) : new QCoreApplication(argc, argv));
    return RUN_ALL_TESTS();
}
