#include "ui/MainWindowPlaceholder.h"

#include "app/AppState.h"
#include "app/MainThreadTask.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

MainWindowPlaceholder::MainWindowPlaceholder(AppState &state, QWidget *parent)
    : QWidget(parent), m_state(state), m_status(new QLabel(this)), m_error(new QLabel(this)),
      m_button(new QPushButton(this))
{
    // The recording road finds the main window by these two.
    setObjectName(QStringLiteral("main"));
    setWindowTitle(QStringLiteral("Mivra Video"));
    m_error->setWordWrap(true);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_status);
    layout->addWidget(m_error);
    layout->addWidget(m_button);
    resize(360, 160);

    connect(m_button, &QPushButton::clicked, this, [this] {
        AppState *target = &m_state;
        if (m_state.phase().is(Phase::Kind::recording))
            launchTask(target, [target] { return target->stopRecording(); });
        else
            launchTask(target, [target] { return target->startRecording(); });
    });
    for (auto changed : {&AppState::phaseChanged, &AppState::elapsedChanged, &AppState::lastErrorChanged})
        connect(&m_state, changed, this, &MainWindowPlaceholder::refresh);
    refresh();
}

void MainWindowPlaceholder::refresh()
{
    const Phase phase = m_state.phase();
    switch (phase.kind()) {
    case Phase::Kind::idle:
        m_status->setText(QStringLiteral("Ready to record."));
        break;
    case Phase::Kind::starting:
        m_status->setText(QStringLiteral("Starting\u2026"));
        break;
    case Phase::Kind::recording:
        m_status->setText(QStringLiteral("Recording ") + m_state.elapsed());
        break;
    case Phase::Kind::finishing:
        m_status->setText(QStringLiteral("Finishing recording\u2026"));
        break;
    case Phase::Kind::uploading:
        m_status->setText(phase.uploadText());
        break;
    }
    m_error->setText(m_state.lastErrorText());
    m_error->setVisible(m_state.hasLastError());
    m_button->setText(phase.is(Phase::Kind::recording) ? QStringLiteral("Done") : QStringLiteral("Start Recording"));
    m_button->setEnabled(phase.is(Phase::Kind::idle) || phase.is(Phase::Kind::recording));
}
