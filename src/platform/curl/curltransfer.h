// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/urltransfer.h"

#include <QByteArray>
#include <QPointer>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

class QEventLoop;

// The URL transfer service on libcurl. One easy handle (inside one multi handle) lives as long
// as the service, so successive transfers to one host reuse the connection; one worker thread,
// also as long-lived, runs the transfers. OpenURL hands the address to the worker and waits in a
// nested event loop; the worker reports transfer states through a queue that the caller's
// thread empties, so StateChanged arrives there in order and before OpenURL returns.
//
// Addresses without a scheme are http, and http addresses without a port use port 80; only
// http and https are fetched (redirects too, at most 10); the usual proxy environment variables
// apply; https certificates are verified. A status of 400 or above, a body larger than the
// maximum size, no data for the time-out, a cancelled transfer and a second OpenURL while one
// is under way are failures, raised as TransferError.
class CurlTransfer : public UrlTransfer {
    Q_OBJECT
public:
    explicit CurlTransfer(QObject *parent = nullptr);
    ~CurlTransfer() override;

    QVariant OpenURL(const QString &url, qint32 dataType = icString) override;
    void Cancel() override;

    // Time allowed to connect, and longest wait for the next byte of a response. A long download
    // that keeps sending is never cut off. 0 lifts the wait limit (libcurl still gives up
    // connecting after 300 seconds). Default 60; applies from the next OpenURL.
    void setTimeoutSeconds(int seconds);
    // Longest accepted body; a larger one fails as soon as it is seen. Default 256 MiB.
    void setMaxBodySize(qint64 bytes);

private:
    enum class Abort { None, Cancelled, TimedOut, TooLarge };

    // Filled by the worker during a transfer, read by the caller once it has finished.
    struct Outcome {
        int curlCode = 0;
        long httpStatus = 0;
        Abort abort = Abort::None;
        QString detail;
        QVariant value;
    };

    void workerLoop();
    void runTransfer();
    void finishTransfer(int curlCode);
    void pushState(qint16 state);
    void pushStates(std::initializer_list<qint16> states);
    void flushDeferredClose();
    void beginHop();
    void drainStates();
    QString failureMessage(const Outcome &outcome, const QString &url) const;

    // What the libcurl callbacks do; called on the worker thread (closeSocket also from the
    // destructor, when the connection cache is emptied).
    friend struct CurlCallbacks;
    void resolverStarting();
    int openSocket(int family, int type, int protocol);
    void closeSocket(int socket);
    void requestStarting(int localPort);
    void headerReceived(const char *data, size_t size);
    bool bodyReceived(const char *data, size_t size);

    void *m_multi = nullptr;
    void *m_easy = nullptr;
    char m_errorBuffer[256] = {};

    // Worker hand-over.
    std::thread m_worker;
    std::mutex m_mutex;
    std::condition_variable m_wake;     // the worker waits for a job or the end
    std::condition_variable m_finished; // the caller waits for a job's end (after app exit)
    bool m_jobPending = false;
    bool m_jobDone = false;
    bool m_quit = false;
    std::vector<qint16> m_pendingStates;
    bool m_drainPosted = false;
    std::atomic<bool> m_cancel{false};

    // Caller side.
    bool m_busy = false;
    bool m_draining = false;
    QPointer<QEventLoop> m_loop;
    int m_timeoutSeconds = 60;
    qint64 m_maxBodySize = qint64(256) * 1024 * 1024;

    // Per transfer; owned by the worker while the transfer runs.
    QByteArray m_url;
    qint32 m_dataType = icString;
    std::chrono::milliseconds m_idleLimit{0};
    qint64 m_bodyLimit = 0;
    bool m_inTransfer = false;
    bool m_watchIdle = false;
    std::chrono::steady_clock::time_point m_lastByte;
    QByteArray m_body;
    bool m_responseChecked = false;
    bool m_discardBody = false;
    qint64 m_discarded = 0;
    bool m_resolveShown = false;
    bool m_connectShown = false;
    bool m_headerShown = false;
    bool m_deferredClose = false;
    std::set<int> m_requestPorts; // local ports of connections that carried a request
    Outcome m_outcome;
};
