// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

// libcurl's multi handle driven by the event loop of the thread that owns it: each socket
// libcurl asks to watch gets socket notifiers (attached to the socket with curl_multi_assign),
// and its time-outs one single-shot timer, so no other thread is involved. After libcurl has
// acted on a socket or a time-out, the owner's afterAction runs: that is where finished
// transfers are collected and their states delivered.
class CurlMulti : public QObject {
public:
    explicit CurlMulti(std::function<void()> afterAction);
    // Closes the cached connections (their sockets' close callbacks still run).
    ~CurlMulti() override;
    CurlMulti(const CurlMulti &) = delete;
    CurlMulti &operator=(const CurlMulti &) = delete;

    // Adds an easy handle to the multi handle; false when libcurl refuses it.
    bool add(void *easy);
    // Takes an easy handle out, ending its transfer if it is unfinished.
    void remove(void *easy);
    // Hands each transfer that has ended since the last call to done (its easy handle, already
    // taken out of the multi handle, and libcurl's result code), in the order they ended.
    void takeFinished(const std::function<void(void *easy, int curlCode)> &done);
    // Connections kept open for reuse once their transfers have ended. Throws TransferError when
    // libcurl refuses.
    void setMaxConnects(long count);

private:
    struct Watch;
    static int socketCallback(void *easy, int socket, int what, void *self, void *watch);
    static int timerCallback(void *multi, long ms, void *self);

    void act(int socket, int flags);

    void *m_multi = nullptr;
    QTimer m_timer;
    std::function<void()> m_afterAction;
};
