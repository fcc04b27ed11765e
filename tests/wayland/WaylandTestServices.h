#pragma once

#include "Await.h"
#include "capture/ScreenRecorder.h"
#include "platform/capture/PipeWireHandles.h"

#include <QCoroTask>
#include <QDBusConnection>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <optional>
#include <ostream>

// Readable QString values in failure messages.
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

// A program a test started; ended by its PID when the owner goes.
class TestProcess {
public:
    TestProcess() = default;
    ~TestProcess() { stop(); }
    TestProcess(const TestProcess &) = delete;
    TestProcess &operator=(const TestProcess &) = delete;

    bool start(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment);
    void stop();
    bool running() const { return m_process && m_process->state() == QProcess::Running; }
    QProcess *process() { return m_process.get(); }

private:
    std::unique_ptr<QProcess> m_process;
};

// A D-Bus session bus of the test's own, in a private folder.
class PrivateSessionBus {
public:
    ~PrivateSessionBus();
    // False (with the reason) when dbus-daemon cannot run here.
    bool start(const QString &folder, QString *whyNot);
    QString address() const { return m_address; }
    // A new connection of this process to the bus.
    QDBusConnection connect();

private:
    TestProcess m_daemon;
    QString m_address;
    QStringList m_connections;
};

// PipeWire and WirePlumber (which links streams, so frames flow) on a private
// bus and runtime folder, and video nodes made with gst-launch.
class PrivatePipeWire {
public:
    bool start(QString *whyNot);
    // A fresh connection to the daemon, as the portal would hand one out.
    UniqueFd connect() const;
    // Starts a gst-launch video source named `nodeName` offering `caps`
    // (e.g. "video/x-raw,format=BGRx,width=320,height=240,framerate=30/1")
    // and returns its node id once PipeWire lists it.
    std::optional<uint32_t> startProducer(TestProcess &producer, const QString &nodeName, const QString &pattern,
                                          const QString &caps, const QString &extraSource = QString());
    std::optional<uint32_t> nodeId(const QString &nodeName) const;
    // The bus WirePlumber uses; a fake portal can join it.
    PrivateSessionBus &bus() { return m_bus; }

private:
    QProcessEnvironment environment() const;

    QTemporaryDir m_runtime{QDir::tempPath() + QStringLiteral("/mivra-pw-XXXXXX")};
    PrivateSessionBus m_bus;
    TestProcess m_pipewire;
    TestProcess m_wireplumber;
};
