#pragma once

#include <QCoreApplication>
#include <QCoroTask>

#include <exception>
#include <optional>

// Runs a task to its end on this thread's event loop, rethrowing its
// exception. Unlike QCoro::waitFor it also returns when the task threw
// before ever suspending (as stop does when nothing is recorded). Tests only.
template <typename T> T awaitTask(QCoro::Task<T> task)
{
    std::optional<T> value;
    std::exception_ptr error;
    bool done = false;
    auto run = [&]() -> QCoro::Task<> {
        try {
            value.emplace(co_await task);
        } catch (...) {
            error = std::current_exception();
        }
        done = true;
    };
    QCoro::Task<> running = run();
    while (!done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (error)
        std::rethrow_exception(error);
    return std::move(*value);
}

inline void awaitTask(QCoro::Task<> task)
{
    std::exception_ptr error;
    bool done = false;
    auto run = [&]() -> QCoro::Task<> {
        try {
            co_await task;
        } catch (...) {
            error = std::current_exception();
        }
        done = true;
    };
    QCoro::Task<> running = run();
    while (!done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (error)
        std::rethrow_exception(error);
}
