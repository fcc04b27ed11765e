#pragma once

#include "Await.h"
#include "PrivateHome.h"
#include "QtPrinters.h"
#include "platform/capture/PipeWireHandles.h"

#include <QDBusConnection>

// A program a test started; stopped by its PID when it goes.
class TestProcess final : public QProcess {
public:
    ~TestProcess() override { stopChild(*this); }
    // False when `program` does not start; a running one is stopped first.
    bool start(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment);
};

// A D-Bus session bus of the test's own, in a private folder.
class PrivateSessionBus {
public:
    ~PrivateSessionBus();
    // False when dbus-daemon cannot run here.
    bool start();
    QString address() const { return m_address; }
    // A new connection of this process to the bus.
    QDBusConnection connect();

private:
    QTemporaryDir m_folder{QDir::tempPath() + QStringLiteral("/mivra-bus-XXXXXX")};
    TestProcess m_daemon;
    QString m_address;
    QStringList m_connections;
};

// PipeWire and WirePlumber (which links streams, so frames flow) on a private
// bus and runtime folder, and video nodes made with gst-launch.
class PrivatePipeWire {
public:
    // False when one of them, gst-launch-1.0 or pw-dump cannot run here.
    bool start();
    // A fresh connection to the daemon, as the portal would hand one out.
    UniqueFd connect() const;
    // Starts a gst-launch video source of videotestsrc `pattern` offering
    // `caps` (e.g. "video/x-raw,format=BGRx,width=320,height=240,framerate=30/1")
    // and returns its node id once PipeWire lists it.
    std::optional<uint32_t> startProducer(TestProcess &producer, const QString &pattern, const QString &caps);
    // The bus WirePlumber uses; a fake portal can join it.
    PrivateSessionBus &bus() { return m_bus; }

private:
    QProcessEnvironment environment() const;
    std::optional<uint32_t> nodeId(const QString &nodeName) const;

    QTemporaryDir m_runtime{QDir::tempPath() + QStringLiteral("/mivra-pw-XXXXXX")};
    PrivateSessionBus m_bus;
    TestProcess m_pipewire;
    TestProcess m_wireplumber;
};
