#include "setup/UpdatesWindowHost.h"

#include "base/Diag.h"
#include "setup/Updates.h"

#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickWindow>

UpdatesWindowHost::UpdatesWindowHost(Updates &updates, QObject *parent) : QObject(parent), m_updates(updates)
{
    connect(&m_updates, &Updates::windowRequested, this, &UpdatesWindowHost::show);
}

UpdatesWindowHost::~UpdatesWindowHost()
{
    delete m_engine;
}

void UpdatesWindowHost::show()
{
    if (!m_window) {
        delete m_engine;
        m_engine = new QQmlApplicationEngine;
        m_engine->rootContext()->setContextProperty(QStringLiteral("updates"), &m_updates);
        connect(m_engine, &QQmlApplicationEngine::warnings, this, [](const QList<QQmlError> &warnings) {
            for (const QQmlError &warning : warnings)
                Diag::log(QStringLiteral("updates window: ") + warning.toString());
        });
        m_engine->load(QUrl(QStringLiteral("qrc:/qml/UpdatesWindow.qml")));
        m_window =
            m_engine->rootObjects().isEmpty() ? nullptr : qobject_cast<QQuickWindow *>(m_engine->rootObjects().first());
        if (!m_window)
            return;
    }
    m_window->show();
    m_window->raise();
    m_window->requestActivate();
}
