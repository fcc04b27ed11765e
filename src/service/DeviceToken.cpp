#include "service/DeviceToken.h"

#include "platform/PreferenceStore.h"

#include <QUuid>

QString DeviceToken::make()
{
    QString token =
        QUuid::createUuid().toString(QUuid::WithoutBraces) + QUuid::createUuid().toString(QUuid::WithoutBraces);
    token.remove(QLatin1Char('-'));
    return token.toLower();
}

QString DeviceToken::value()
{
    const QMutexLocker lock(&m_mutex);
    const QString key = QString::fromLatin1(kPreferenceKey);
    // An empty stored text is no credential at all: replace it like a missing one.
    if (const auto stored = m_store.textValue(key); stored && !stored->isEmpty())
        return *stored;
    const QString token = make();
    // Even if the write does not reach the disk, the store holds the value for
    // this run, so every request of the run still agrees.
    m_store.setValue(key, token);
    return token;
}
