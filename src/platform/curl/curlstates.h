// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

#include <functional>
#include <initializer_list>

// The 1-12 states of one transfer, made from what libcurl's callbacks report: each state once
// per request, in order, a connection's close reported after the body it carried, and a new
// request (a redirect, a try on a fresh connection) starting the states over.
class CurlStates {
public:
    explicit CurlStates(std::function<void(qint16 state)> report) : m_report(std::move(report)) {}

    // A new transfer, or a new try of it: nothing is reported yet.
    void reset();

    void resolverStarting();
    void socketOpened();
    void connectionClosed();
    void requestStarting();
    // The first header line of a response; true once a response has begun.
    void headerReceived();
    bool replyBegun() const { return m_headerShown; }
    // The transfer has ended: the end of the body when it arrived, a close that waited for it,
    // and the final state.
    void ended(bool bodyArrived, bool succeeded);
    // A close that waited for the body goes out now (before another try).
    void flushDeferredClose();

private:
    void push(std::initializer_list<qint16> states);
    void beginHop();

    std::function<void(qint16)> m_report;
    bool m_resolveShown = false;
    bool m_connectShown = false;
    bool m_headerShown = false;
    bool m_deferredClose = false;
};
