// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/browsersession.h"
#include "platform/urltransfer.h"

#include <QByteArray>
#include <QList>
#include <QTimer>

#include <map>
#include <memory>
#include <vector>

class QSocketNotifier;

// The URL transfer service on libcurl's multi-socket interface, driven by the event loop of the
// thread that owns the service: libcurl's sockets are watched by socket notifiers and its
// time-outs by one single-shot timer, so no other thread is involved. OpenURL uses one easy
// handle for the life of the service, so successive transfers to one host reuse the connection
// (side-by-side transfers have a handle each, kept for reuse too). OpenURL starts
// the transfer and waits in a nested event loop; the states libcurl's callbacks report are
// collected while libcurl runs and emitted, in order, once it has returned, and all of them
// before OpenURL returns. Cancel ends the transfer at once.
//
// Addresses without a scheme are http, and http addresses without a port use port 80; only
// http and https are fetched (redirects too, at most 10); the usual proxy environment variables
// apply; https certificates are verified (against the file that CURL_CA_BUNDLE or SSL_CERT_FILE
// names, if set). A final status other than a 2xx with a body, a body larger than the
// maximum size, a transfer slower than one byte a second for the time-out, a cancelled transfer
// and a second OpenURL while one is under way are failures, raised as TransferError.
//
// Image requests (byte transfers) ask for a JPEG first (Accept) and carry the Referer they are
// given; a reply to one that is a web page or text instead of a picture fails. libcurl's cookie
// engine runs in memory for the life of the service, shared by every transfer: a cookie a page
// sets goes with its images. The cookies of the simple browser come in through BrowserSession;
// a request to a host the browser holds cookies for goes with the browser's User-Agent, every
// other one with "Harvix/<version>".
//
// libcurl is set up by the first transfer, not by the constructor, so creating the service
// costs nothing at program start.
class CurlTransfer : public UrlTransfer, public ParallelTransfer, public BrowserSession {
    Q_OBJECT
public:
    explicit CurlTransfer(QObject *parent = nullptr);
    ~CurlTransfer() override;

    QVariant OpenURL(const QString &url, qint32 dataType = icString) override;
    void Cancel() override;
    PageReply fetchPage(const QString &url, const QString &referer = {}) override;
    QByteArray fetchImage(const QString &url, const QString &referer = {}) override;

    // Side-by-side transfers share the multi handle, so they also share its connections: to one
    // host several connections at once, or streams of one HTTP/2 connection where the server
    // offers it. Each has an easy handle of its own, kept for the next one.
    int startBytes(const QString &url, const QString &referer = {}) override;
    QByteArray finishBytes(int ticket) override;
    void cancelBytes(int ticket) override;
    void setStateHandler(std::function<void(int ticket, qint16 state)> handler) override;

    // Time allowed to connect, and longest time a response may stay slower than one byte a
    // second (so a stalled or trickling server fails, while a long download that keeps sending
    // is never cut off). 0 lifts the speed limit (libcurl still gives up connecting after 300
    // seconds). Default 60; applies from the next OpenURL.
    void setTimeoutSeconds(int seconds);
    // Longest accepted body of an icByteArray transfer (an image); a larger one fails as soon as
    // it is seen. Default 256 MiB.
    void setMaxBodySize(qint64 bytes);
    // The same for an icString transfer (a page, which is decoded and scanned as a whole, so it
    // costs several times its size). Default 64 MiB.
    void setMaxPageSize(qint64 bytes);

    // How often a transfer that failed for a passing reason (connection refused or reset, a
    // time-out, HTTP 408, 429 or 5xx) is tried again: after 1 s, 2 s, 4 s... or after the
    // server's Retry-After (at most 60 s). Default 0.
    void setRetries(int retries);
    // Sent as User-Agent with every request instead of "Harvix/<version>" (and instead of the
    // browser's). Empty for the default.
    void setUserAgent(const QString &userAgent);
    // Puts cookies into the service's cookie engine: lines of a Netscape cookies.txt file.
    void addCookies(const QList<QByteArray> &netscapeLines);

    // BrowserSession
    void browserCookieAdded(const BrowserCookie &cookie) override;
    void browserCookieRemoved(const BrowserCookie &cookie) override;
    void setBrowserUserAgent(const QString &userAgent) override;

private:
    struct Job;
    struct Wait;
    struct SocketWatch;
    struct PendingState {
        int ticket; // 0 for the transfer of OpenURL
        qint16 state;
    };
    enum class Abort : int;
    friend struct CurlCallbacks;

    void start();
    Job *newJob();
    void begin(Job &job, const QString &url, qint32 dataType, int ticket,
               const QString &referer = {});
    void runSerial(const QString &url, qint32 dataType, const QString &referer);
    bool retryLater(Job &job);
    void retry(Job &job);
    QByteArray userAgentFor(const QString &url) const;
    // Drops a cookie of the browser's from the list of those held; how many were dropped.
    qsizetype forgetBrowserCookie(const BrowserCookie &cookie);
    void abort(Job &job, Abort reason);
    void finish(Job &job, int curlCode);
    void socketClosed(int socket);
    void collectFinished();
    bool deliverStates();
    void socketActivity(int socket, int flags);
    void timerExpired();
    void afterAction();

    // What libcurl's multi handle asks for.
    void watchSocket(int socket, int what);
    void unwatchSocket(int socket);
    void setTimer(long ms);

    void *m_multi = nullptr;
    void *m_share = nullptr;                  // the cookie engine every easy handle shares
    void *m_imageHeaders = nullptr;           // the Accept header of image requests
    std::vector<std::unique_ptr<Job>> m_jobs; // every easy handle ever made, kept for reuse
    Job *m_serial = nullptr;                  // the one that OpenURL uses
    std::map<int, std::unique_ptr<SocketWatch>> m_sockets;
    std::map<int, Job *> m_requestPorts; // local port of a connection -> job it carried last
    QTimer m_timer;

    // States reported by the callbacks, not yet emitted.
    std::vector<PendingState> m_pendingStates;
    bool m_draining = false;

    Wait *m_wait = nullptr;         // the OpenURL that waits, if one does
    std::map<int, Job *> m_tickets; // side-by-side transfers not yet claimed
    int m_lastTicket = 0;
    std::function<void(int, qint16)> m_stateHandler;
    int m_timeoutSeconds = 60;
    qint64 m_maxBodySize = qint64(256) * 1024 * 1024;
    qint64 m_maxPageSize = qint64(64) * 1024 * 1024;
    int m_retries = 0;
    QByteArray m_userAgent;        // set by setUserAgent, empty for the default
    QByteArray m_browserUserAgent; // the simple browser's
    QList<BrowserCookie> m_browserCookies;
};
