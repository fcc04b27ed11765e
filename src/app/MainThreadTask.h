#pragma once

#include <QCoroTask>
#include <QMetaObject>
#include <QObject>

#include <functional>

// Starts `work` as its own task on `context`'s thread once the current event
// is handled, as menu actions and command URLs want: the caller returns first.
// Nothing starts when `context` is gone by then. `work` should call a
// coroutine, not be one: its captures end when it returns.
inline void launchTask(QObject *context, std::function<QCoro::Task<>()> work)
{
    QMetaObject::invokeMethod(
        context,
        [work = std::move(work)] {
            // The task runs on by itself once dropped here.
            [[maybe_unused]] auto task = work();
        },
        Qt::QueuedConnection);
}
