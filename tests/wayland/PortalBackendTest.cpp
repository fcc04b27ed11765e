// A portal that runs without a screen-sharing backend for the desktop.
#include "platform/capture/PortalScreenCast.h"

#include "Await.h"
#include "FakeScreenCastPortal.h"
#include "MemoryPreferenceStore.h"
#include "WaylandTestServices.h"

#include <gtest/gtest.h>

namespace {

TEST(PortalBackend, NoSourceTypesMeansNoBackendAndNamesThePackages)
{
    QTemporaryDir folder(QDir::tempPath() + QStringLiteral("/mivra-bus-XXXXXX"));
    PrivateSessionBus bus;
    QString whyNot;
    if (!bus.start(folder.path(), &whyNot))
        GTEST_SKIP() << "No private session bus: " << whyNot.toStdString();
    QDBusConnection portalBus = bus.connect();
    FakeScreenCastPortal fake;
    fake.sourceTypes = 0;
    ASSERT_TRUE(fake.registerOn(portalBus));
    PortalScreenCast::Options options;
    options.bus = bus.connect();
    PortalScreenCast portal(std::make_shared<MemoryPreferenceStore>(), options);

    const QString text = failureText(portal.open());
    EXPECT_TRUE(text.startsWith(QStringLiteral("No screen-sharing backend for this desktop is installed")))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("xdg-desktop-portal-gnome"))) << text.toStdString();
    EXPECT_TRUE(fake.calls.isEmpty());
    fake.unregister();
}

} // namespace
