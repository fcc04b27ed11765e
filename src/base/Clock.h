#pragma once

#include <QDateTime>

#include <functional>

// The current time, injectable so that expiry and prompt rules can be tested.
using NowFunction = std::function<QDateTime()>;

inline QDateTime systemNow()
{
    return QDateTime::currentDateTimeUtc();
}
