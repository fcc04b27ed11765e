#pragma once

// Older name of run() from Await.h.
#include "Await.h"

template <typename T> T runTask(QCoro::Task<T> &&task)
{
    return run(std::move(task));
}
