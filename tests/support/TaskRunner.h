#pragma once

#include <QCoroTask>

// Runs a coroutine to its end on the test's event loop. Tests only:
// production code never blocks on a task.
template <typename T> T runTask(QCoro::Task<T> &&task)
{
    return QCoro::waitFor(std::move(task));
}
