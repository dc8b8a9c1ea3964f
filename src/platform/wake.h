// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

#include <coroutine>

// What a waiting coroutine suspends on when several things may wake it (a process that ends, a
// timer, a hang-up): the first fire() after it suspended resumes it once, from the event loop,
// so that whatever fired never runs the rest of the coroutine inside its own call. (QCoro's
// signal awaiter cannot take the signals that carry Qt's private tag, such as QProcess's and
// QTimer's: they are connected to fire() instead.)
class Wake {
public:
    Wake() = default;
    Wake(const Wake &) = delete;
    Wake &operator=(const Wake &) = delete;

    void fire();

    // What co_await takes: co_await wake.next().
    struct Awaiter {
        Wake *wake;
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> waiting) noexcept { wake->m_waiting = waiting; }
        void await_resume() const noexcept {}
    };
    Awaiter next() { return {this}; }

private:
    std::coroutine_handle<> m_waiting;
    // The resumption is posted to this object: a Wake that goes takes its posted resumption along.
    QObject m_context;
};
