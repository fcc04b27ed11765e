#pragma once

#include <QMutex>
#include <QString>

class PreferenceStore;

// The installation's only credential, kept under "deviceToken": 64 lowercase
// hex characters made from two random UUIDs, stored before first use and never
// changed. The lock makes first creation happen once even when two requests
// start together on a fresh installation.
class DeviceToken {
public:
    static constexpr const char *kPreferenceKey = "deviceToken";

    explicit DeviceToken(PreferenceStore &store) : m_store(store) {}

    // The stored token; made and stored first when there is none.
    QString value();
    static QString make();

private:
    PreferenceStore &m_store;
    QMutex m_mutex;
};
