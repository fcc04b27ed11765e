// gtest main with a Qt application object: a GUI one when a display (or the
// offscreen platform) is available, a core one otherwise.
#include <QApplication>
#include <QCoreApplication>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

int main(int argc, char **argv)
{
    ::testing::InitGoogleMock(&argc, argv);
    std::unique_ptr<QCoreApplication> app;
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM") || qEnvironmentVariableIsSet("DISPLAY") ||
        qEnvironmentVariableIsSet("WAYLAND_DISPLAY"))
        app = std::make_unique<QApplication>(argc, argv);
    else
        app = std::make_unique<QCoreApplication>(argc, argv);
    return RUN_ALL_TESTS();
}
