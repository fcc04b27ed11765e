// The setup card, the leftover note and the updates window, rendered with
// the software renderer and saved under <build>/setup-shots for a look.
#include "Await.h"
#include "BundleRig.h"
#include "FeedServer.h"
#include "SetupRig.h"

#include "setup/Installation.h"
#include "setup/Updates.h"
#include "setup/UpdatesWindowHost.h"

#include <QNetworkAccessManager>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>
#include <QTest>

#include <gtest/gtest.h>

namespace {
const QString kShots = QStringLiteral(MIVRA_BINARY_DIR "/setup-shots/");

QImage render(QQuickWindow &window, const QString &name)
{
    QDir().mkpath(kShots);
    QImage shot = window.grabWindow();
    shot.save(kShots + name + QStringLiteral(".png"));
    return shot;
}

class SetupViewsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { QQuickWindow::setGraphicsApi(QSGRendererInterface::Software); }
};

TEST_F(SetupViewsTest, TheCardAndTheNoteShowTheirTexts)
{
    const struct {
        const char *name;
        QString preview;
        bool leftover;
        QString file;
        QString header;
    } cases[] = {
        {"preview microphone", "microphone", false, "SetupCard.qml", "Step 3 of 4"},
        {"screen asked", "screen-asked", false, "SetupCard.qml", "Step 4 of 4"},
        {"leftover", "", true, "LeftoverNote.qml", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        SetupWorld world;
        if (c.leftover) {
            const QString download = BundleRig::makeBundle(world.downloads(), "Mivra Video", "1.0");
            world.store->setValue(Installation::kLeftoverKey, download);
        }
        const auto setup = world.makeSetup(BundleRig::makeBundle(world.apps(), "Mivra Video", "1.0"), c.preview);
        QQuickView view;
        view.rootContext()->setContextProperty("setup", setup.get());
        view.setResizeMode(QQuickView::SizeViewToRootObject);
        view.setColor(QColor::fromRgbF(0.043f, 0.043f, 0.059f)); // the main window's background
        view.setSource(QUrl("qrc:/qml/" + c.file));
        ASSERT_EQ(view.status(), QQuickView::Ready) << qPrintable(view.errors().value(0).toString());
        QQuickItem *root = view.rootObject();
        root->setWidth(384); // the main window's column
        QCoreApplication::processEvents();
        root->setHeight(root->implicitHeight());
        view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
        // Wrapped text settles its height after the first layout.
        QCoreApplication::processEvents();
        root->setHeight(root->implicitHeight());
        QCoreApplication::processEvents();
        const QImage shot = render(view, QString::fromLatin1(c.name).replace(' ', '-'));
        EXPECT_FALSE(shot.isNull());
        EXPECT_TRUE(view.rootObject()->isVisible());
        const auto *header = view.rootObject()->findChild<QObject *>("setupHeader");
        EXPECT_EQ(header ? header->property("text").toString() : QString(), c.header);
    }
}

TEST_F(SetupViewsTest, TheUpdatesWindowFollowsTheCheck)
{
    FeedServer server;
    server.files["/appcast.xml"] = {BundleRig::feed(
        {BundleRig::feedItem("2.1.0", QUrl("/m.tar.xz"), 9, "x",
                             "<ul><li>Links are ready sooner.</li><li>The bubble keeps its place.</li></ul>")})};
    QTemporaryDir folder;
    QNetworkAccessManager network;
    Updates::Config config;
    config.bundle = BundleInfo::read(BundleRig::makeBundle(folder.path(), "Mivra Video", "2.0.3"));
    config.feedUrl = server.url("/appcast.xml");
    Updates updates(config, &network);
    UpdatesWindowHost host(updates);
    updates.checkForUpdates();
    ASSERT_TRUE(host.window());
    ASSERT_TRUE(waitUntil([&] { return !updates.busy(); }, 20000));
    const auto *message = host.window()->findChild<QObject *>("updateMessage");
    ASSERT_TRUE(message);
    EXPECT_EQ(message->property("text").toString(), "Mivra Video 2.1.0 is available");
    EXPECT_FALSE(render(*host.window(), "updates-available").isNull());
}
} // namespace
