#pragma once

#include <QWidget>

class AppState;
class QLabel;
class QPushButton;

// A small stand-in for the main window: the phase, the last error and one
// button to start or finish a recording. Closing it only hides it.
class MainWindowPlaceholder : public QWidget {
    Q_OBJECT

public:
    explicit MainWindowPlaceholder(AppState &state, QWidget *parent = nullptr);

private:
    void refresh();

    AppState &m_state;
    QLabel *m_status;
    QLabel *m_error;
    QPushButton *m_button;
};
