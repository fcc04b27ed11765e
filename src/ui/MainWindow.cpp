#include "ui/MainWindow.h"

#include "platform/ClipboardWriter.h"
#include "ui/MainViewBackend.h"
#include "ui/RecentLinksModel.h"

#include "base/Diag.h"

#include <QEvent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWidget>
#include <QVBoxLayout>

namespace {
constexpr int kWidth = 440;
const QColor kBackground = QColor::fromRgbF(0.043f, 0.043f, 0.059f);
} // namespace

MainWindow::MainWindow(AppState &state, std::shared_ptr<ClipboardWriter> clipboard, const QUrl &serviceOrigin,
                       const std::function<void(QQmlEngine &)> &setupEngine, QWidget *parent)
    : QWidget(parent), m_clipboard(std::move(clipboard)),
      m_backend(new MainViewBackend(state, *m_clipboard, serviceOrigin, systemNow, this)),
      m_view(new QQuickWidget(this))
{
    // The recording road finds the main window by these two.
    setObjectName(QStringLiteral("main"));
    setWindowTitle(QStringLiteral("Mivra Video"));
    QPalette dark = palette();
    dark.setColor(QPalette::Window, kBackground);
    setPalette(dark);
    setAutoFillBackground(true);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
    m_view->setClearColor(kBackground);
    m_view->setResizeMode(QQuickWidget::SizeRootObjectToView);
    m_view->rootContext()->setContextProperty(QStringLiteral("app"), m_backend);
    if (setupEngine)
        setupEngine(*m_view->engine());
    m_view->setSource(QUrl(QStringLiteral("qrc:/qml/MainView.qml")));
    for (const QQmlError &error : m_view->errors())
        Diag::log(QStringLiteral("main window: ") + error.toString());
    if (QQuickItem *root = m_view->rootObject())
        connect(root, &QQuickItem::implicitHeightChanged, this, &MainWindow::followContentHeight, Qt::QueuedConnection);
    followContentHeight();
}

MainWindow::~MainWindow()
{
    // The view's bindings must not outlive the backend they read.
    delete m_view;
}

void MainWindow::followContentHeight()
{
    const QQuickItem *root = m_view->rootObject();
    const int height = root ? qCeil(root->implicitHeight()) : 520;
    setFixedSize(kWidth, std::max(520, height));
}

bool MainWindow::event(QEvent *event)
{
    // Expiry texts are relative: worked out again whenever the window comes back.
    if (event->type() == QEvent::Show || event->type() == QEvent::WindowActivate)
        m_backend->links()->refreshTexts();
    return QWidget::event(event);
}
