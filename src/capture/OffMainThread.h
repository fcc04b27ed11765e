#pragma once

#include <QCoroFuture>
#include <QCoroTask>
#include <QFuture>
#include <QPromise>
#include <QThreadPool>

#include <exception>
#include <memory>
#include <optional>
#include <type_traits>

// Runs blocking work (opening devices, joining capture threads, reading a
// file) on `pool`; the awaiting coroutine resumes on its own thread. An
// exception thrown by the work is rethrown to the awaiter. A pool of one
// thread keeps the works in the order they were given.
template <typename Work>
auto offMainThread(Work work, QThreadPool *pool = QThreadPool::globalInstance())
    -> QCoro::Task<std::invoke_result_t<Work>>
{
    using Result = std::invoke_result_t<Work>;
    struct Outcome {
        QPromise<void> done;
        std::conditional_t<std::is_void_v<Result>, bool, std::optional<Result>> value{};
        std::exception_ptr error;
    };
    auto outcome = std::make_shared<Outcome>();
    QFuture<void> finished = outcome->done.future();
    pool->start([outcome, work = std::move(work)]() mutable {
        outcome->done.start();
        try {
            if constexpr (std::is_void_v<Result>)
                work();
            else
                outcome->value.emplace(work());
        } catch (...) {
            outcome->error = std::current_exception();
        }
        outcome->done.finish();
    });
    co_await finished;
    if (outcome->error)
        std::rethrow_exception(outcome->error);
    if constexpr (!std::is_void_v<Result>)
        co_return std::move(*outcome->value);
}
