#include "controls/RecordingBar.h"

#include "base/Diag.h"
#include "controls/BarGeometry.h"
#include "controls/RecordingBarBackend.h"
#include "platform/AllDesktops.h"
#include "platform/DesktopCoordinates.h"
#include "platform/LeftOutWindows.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QScreen>

#include <optional>

namespace {
// Dragged by any point its controls leave free.
class BarWindow final : public QQuickWindow {
protected:
    void mousePressEvent(QMouseEvent *event) override
    {
        QQuickWindow::mousePressEvent(event);
        if (event->button() != Qt::LeftButton || event->exclusiveGrabber(event->points().constFirst()))
            return;
        // Without a window manager to move it, the bar moves itself.
        if (!startSystemMove())
            m_grab = event->position().toPoint();
    }
    void mouseMoveEvent(QMouseEvent *event) override
    {
        if (m_grab)
            setPosition(event->globalPosition().toPoint() - *m_grab);
        else
            QQuickWindow::mouseMoveEvent(event);
    }
    void mouseReleaseEvent(QMouseEvent *event) override
    {
        if (!std::exchange(m_grab, std::nullopt))
            QQuickWindow::mouseReleaseEvent(event);
    }

private:
    std::optional<QPoint> m_grab;
};

const QUrl kView(QStringLiteral("qrc:/qml/RecordingBarView.qml"));

QRect primaryFrame()
{
    const QScreen *primary = QGuiApplication::primaryScreen();
    return primary ? primary->geometry() : QRect();
}

QRectF visibleFrame(const QScreen *screen)
{
    return DesktopCoordinates::fromDesktop(screen->availableGeometry(), primaryFrame());
}
} // namespace

RecordingBar::RecordingBar(QObject *parent) : QObject(parent)
{
}

RecordingBar::~RecordingBar()
{
    detach();
    if (m_panel)
        LeftOutWindows::setLeftOut(m_panel.get(), false);
    // The view's items must go before the engine that made them.
    dropContent();
    for (const QPointer<QObject> &dropped : std::as_const(m_dropped))
        delete dropped.data();
}

bool RecordingBar::capturable()
{
    static const bool value = qgetenv("MIVRA_CAPTURABLE_CONTROLS") == "1";
    return value;
}

QWindow *RecordingBar::panel() const
{
    return m_panel.get();
}

void RecordingBar::createPanel()
{
    m_panel = std::make_unique<BarWindow>();
    m_panel->setFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus);
    m_panel->setTitle(QStringLiteral("Mivra Video Recording Controls"));
    QSurfaceFormat format = m_panel->format();
    format.setAlphaBufferSize(8);
    m_panel->setFormat(format);
    m_panel->setColor(Qt::transparent);
    m_engine = std::make_unique<QQmlEngine>();
    m_component = new QQmlComponent(m_engine.get(), kView, QQmlComponent::PreferSynchronous, m_engine.get());
    // Only on a real X display: the offscreen platform also answers to X11 but has no connection.
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        showOnAllDesktops(m_panel.get());
}

void RecordingBar::show(QScreen *screen, AppState *state, bool showHint)
{
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    m_hint = showHint;
    m_placement.setEdge(BarPlacement::Edge::top);
    m_placement.setPillOffset(0);
    const QRect frame =
        DesktopCoordinates::toDesktop(BarGeometry::showFrame(visibleFrame(screen), m_hint), primaryFrame());
    if (!m_panel)
        createPanel();
    m_panel->setGeometry(frame);

    // Fresh content each time, so the view's own state starts afresh.
    dropContent();
    m_backend = new RecordingBarBackend(state, &m_placement, showHint, this);
    QObject *root =
        m_component->createWithInitialProperties({{QStringLiteral("backend"), QVariant::fromValue(m_backend.data())}});
    m_content = qobject_cast<QQuickItem *>(root);
    if (!m_content) {
        delete root;
        Diag::log(QStringLiteral("recording bar: the controls could not be made: ") + m_component->errorString());
        return;
    }
    m_content->setParentItem(m_panel->contentItem());
    m_content->setSize(frame.size());
    LeftOutWindows::setLeftOut(m_panel.get(), !capturable());
    m_panel->show();
}

void RecordingBar::attach(QWindow *bubbleWindow)
{
    if (!m_panel || !bubbleWindow)
        return;
    detach();
    m_bubble = bubbleWindow;
    place(bubbleWindow);
    // No child windows across toolkits on X11: the bar moves with each move
    // of the bubble, at once, so it keeps up with a drag.
    const auto follow = [this] {
        if (m_bubble)
            place(m_bubble);
    };
    m_moveObserver = {connect(bubbleWindow, &QWindow::xChanged, this, follow),
                      connect(bubbleWindow, &QWindow::yChanged, this, follow),
                      connect(bubbleWindow, &QWindow::screenChanged, this, follow)};
    m_panel->raise();
}

void RecordingBar::detach()
{
    for (const QMetaObject::Connection &connection : std::as_const(m_moveObserver))
        disconnect(connection);
    m_moveObserver.clear();
    m_bubble = nullptr;
}

void RecordingBar::hide()
{
    if (!m_panel)
        return;
    m_panel->hide();
    LeftOutWindows::setLeftOut(m_panel.get(), false);
    dropContent();
}

void RecordingBar::dropContent()
{
    m_dropped.removeIf([](const QPointer<QObject> &dropped) { return dropped.isNull(); });
    // Later, in case a button of the view is still handling its click.
    if (m_content) {
        m_content->setParentItem(nullptr);
        m_content->deleteLater();
        m_dropped.append(m_content.data());
    }
    if (m_backend) {
        m_backend->deleteLater();
        m_dropped.append(m_backend.data());
    }
    m_content = nullptr;
    m_backend = nullptr;
}

void RecordingBar::place(QWindow *near)
{
    if (!m_panel)
        return;
    const QScreen *screen = near->screen() ? near->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect primary = primaryFrame();
    const BarGeometry::Placement placed =
        BarGeometry::place(DesktopCoordinates::fromDesktop(near->geometry(), primary), visibleFrame(screen), m_hint);
    m_placement.setEdge(placed.edge);
    m_placement.setPillOffset(placed.pillOffset);
    const QRect frame = DesktopCoordinates::toDesktop(placed.frame, primary);
    if (m_panel->geometry() != frame)
        m_panel->setGeometry(frame);
}
