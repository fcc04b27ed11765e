#pragma once

// Event-loop helpers for tests: run(task) runs a coroutine to its end and
// rethrows what it threw; failureText(task or call) gives the sentence it
// failed with; waitUntil(done) runs the loop until done() holds.

#include <QCoreApplication>
#include <QCoroTask>
#include <QString>

#include <exception>
#include <functional>
#include <optional>
#include <type_traits>

// Runs `task` to its end on this thread's event loop and rethrows its error.
// (QCoro's own waitFor never returns from a task that throws.)
template <typename T> T run(QCoro::Task<T> task)
{
    std::conditional_t<std::is_void_v<T>, bool, std::optional<T>> value{};
    std::exception_ptr error;
    bool done = false;
    auto body = [&]() -> QCoro::Task<> {
        try {
            if constexpr (std::is_void_v<T>)
                co_await task;
            else
                value.emplace(co_await task);
        } catch (...) {
            error = std::current_exception();
        }
        done = true;
    };
    QCoro::Task<> running = body();
    while (!done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (error)
        std::rethrow_exception(error);
    if constexpr (!std::is_void_v<T>)
        return std::move(*value);
}

// The sentence `call` throws, empty when it returns.
QString failureText(const std::function<void()> &call);
// The sentence `task` fails with, empty when it succeeds.
template <typename T> QString failureText(QCoro::Task<T> task)
{
    return failureText([&task] { run(std::move(task)); });
}

// Runs the event loop until `done()` holds (true) or `timeoutMs` passes
// (false). Wakes at least every few milliseconds to ask again.
bool waitUntil(const std::function<bool()> &done, int timeoutMs = 5000);

// Lets queued calls run for `ms` milliseconds (0: once).
void settle(int ms = 0);
