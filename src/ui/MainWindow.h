#pragma once

#include <QWidget>

#include <functional>
#include <memory>

class AppState;
class ClipboardWriter;
class MainViewBackend;
class QQmlEngine;
class QQuickWidget;
class QUrl;

// The app's one ordinary window, showing qrc:/qml/MainView.qml: 440 wide,
// as tall as its content (at least 520). Made on first open, so start-up
// never loads QML; closing it only hides it.
class MainWindow : public QWidget {
    Q_OBJECT

public:
    // `setupEngine` adds what the view's engine needs beyond the backend
    // (image providers).
    MainWindow(AppState &state, std::shared_ptr<ClipboardWriter> clipboard, const QUrl &serviceOrigin,
               const std::function<void(QQmlEngine &)> &setupEngine = {}, QWidget *parent = nullptr);
    ~MainWindow() override;

    MainViewBackend &backend() const { return *m_backend; }
    QQuickWidget *view() const { return m_view; }

protected:
    bool event(QEvent *event) override;

private:
    void followContentHeight();

    std::shared_ptr<ClipboardWriter> m_clipboard;
    MainViewBackend *m_backend;
    QQuickWidget *m_view;
};
