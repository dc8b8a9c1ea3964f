// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoro/QCoroTask>
#include <QEventLoop>

#include <exception>
#include <optional>
#include <utility>

// Runs the event loop until task has ended and gives its result, or throws what it threw: a
// test's own wait for a coroutine of the program. (QCoro::waitFor never returns from a task
// that throws.)
template <typename T> T awaitTask(QCoro::Task<T> task)
{
    QEventLoop loop;
    std::optional<T> result;
    std::exception_ptr failure;
    bool done = false;
    const auto run = [&]() -> QCoro::Task<> {
        try {
            result.emplace(co_await task);
        } catch (...) {
            failure = std::current_exception();
        }
        done = true;
        loop.quit();
    };
    const QCoro::Task<> running = run();
    if (!done)
        loop.exec();
    if (failure)
        std::rethrow_exception(failure);
    return std::move(*result);
}
