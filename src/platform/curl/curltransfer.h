// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/browsersession.h"
#include "platform/curl/curljob.h"
#include "platform/curl/curlsession.h"
#include "platform/pagetext.h"
#include "platform/transferdefaults.h"
#include "platform/urltransfer.h"

#include <QByteArray>
#include <QList>

#include <coroutine>

#include <map>
#include <memory>
#include <vector>

class CurlMulti;

// The URL transfer service on libcurl's multi-socket interface, run by the event loop of the
// thread that owns the service (curlmulti.h). Each transfer has a reused easy handle
// (curljob.h): the one-at-a-time transfers share one, so successive transfers to one host reuse
// the connection, and side-by-side transfers have one each, kept for the next one. They share
// the multi handle's connections: to one host several connections at once, or streams of one
// HTTP/2 connection where the server offers it.
//
// finishTransfer is the one way of waiting: the awaiting coroutine is suspended until the
// transfer has ended, and resumed by the service, never by a loop of its own. The states
// libcurl's callbacks report are collected while libcurl runs and emitted with their tickets, in
// order, once it has returned; the awaiters of the transfers that have ended resume after that,
// in the order the transfers ended. Cancelling ends a transfer at once, and its awaiter resumes
// with the failure before cancelTransfer returns.
//
// Addresses without a scheme are http, and http addresses without a port use port 80; only
// http and https are fetched (redirects too, at most 10); the usual proxy environment variables
// apply; https certificates are verified (against the file that CURL_CA_BUNDLE or SSL_CERT_FILE
// names, if set). A final status other than a 2xx with a body (a 206 too: no range is asked for),
// a body larger than the maximum size or shorter than its Content-Length, Content-Length values
// that disagree, a transfer slower than one byte a second for the time-out or longer than the
// longest time, and a cancelled transfer are failures, raised as TransferError. Bodies sent with
// a Content-Encoding (gzip, deflate, br, zstd) are decoded; one that is corrupt or ends inside
// its compressed stream fails. A request on a kept connection that the server had closed is
// tried again at once on a fresh one.
//
// Image requests (byte transfers) ask for a JPEG first (Accept) and carry the Referer they are
// given; a reply to one that is not a picture fails. libcurl's cookie
// engine runs in memory for the life of the service, shared by every transfer: a cookie a page
// sets goes with its images. The cookies of the simple browser come in through session()
// (curlsession.h); a request to a host the browser holds cookies for goes with the browser's
// User-Agent, every other one with "Harvix/<version>".
//
// libcurl is set up by the first transfer, not by the constructor, so creating the service
// costs nothing at program start.
class CurlTransfer : public UrlTransfer {
    Q_OBJECT
public:
    explicit CurlTransfer(QObject *parent = nullptr);
    ~CurlTransfer() override;

    int startTransfer(const QString &url, qint32 dataType, const QString &referer = {},
                      Lane lane = Lane::OneAtATime, int retries = kServiceRetries) override;
    QCoro::Task<TransferReply> finishTransfer(int ticket) override;
    void cancelTransfer(int ticket) override;

    // Time allowed to connect, and longest time a response may stay slower than one byte a
    // second (so a stalled or trickling server fails, while a long download that keeps sending
    // is never cut off). 0 lifts the speed limit (libcurl still gives up connecting after 300
    // seconds). Default transferdefaults::kLowSpeedSeconds; applies from the next transfer.
    void setTimeoutSeconds(int seconds);
    // Longest time one transfer (the page, or one image) may take as a whole, however fast it
    // goes; a longer one fails as timed out. 0 for no limit. Default
    // transferdefaults::kMaxTimeSeconds.
    void setMaxTimeSeconds(int seconds);
    // Longest accepted body of a byte transfer (an image); a larger one fails as soon as it is
    // seen. Default 256 MiB. The transfers side by side hold half of it at most, together,
    // besides the one awaited; the others pause meanwhile.
    void setMaxBodySize(qint64 bytes);
    // The same for a text transfer (a page, which is decoded and scanned as a whole, so it
    // costs several times its size). Default 64 MiB.
    void setMaxPageSize(qint64 bytes);

    // How often a transfer that failed for a passing reason (connection refused or reset, a
    // time-out, HTTP 408, 429 or 5xx) is tried again: after 1 s, 2 s, 4 s... or after the
    // server's Retry-After (at most 60 s). Default 0. A transfer started with a count of its own
    // keeps that count.
    void setRetries(int retries);
    // Sent as User-Agent with every request instead of "Harvix/<version>" (and instead of the
    // browser's). Empty for the default.
    void setUserAgent(const QString &userAgent) { m_session.setUserAgent(userAgent); }
    // Puts cookies into the service's cookie engine: lines of a Netscape cookies.txt file.
    void addCookies(const QList<QByteArray> &netscapeLines) { m_session.addCookies(netscapeLines); }
    // Host names are looked up with DNS over HTTPS at this address (https, or an IP address
    // that needs no lookup itself) instead of the system's resolver. Empty for the system's.
    void setDnsOverHttps(const QString &url);

    // Where the simple browser hands its cookies and User-Agent over; as long as the service.
    BrowserSession &session() { return m_session; }

private:
    class TransferEnd;
    struct PendingState {
        int ticket;
        qint16 state; // or kRetryWaiting, kRetryStarted
    };
    static constexpr qint16 kRetryWaiting = -1;
    static constexpr qint16 kRetryStarted = -2;

    // Sets libcurl up, once.
    void start();
    CurlJob *newJob();
    CurlJob &jobFor(Lane lane);
    void release(int ticket, CurlJob &job);
    void abort(CurlJob &job);
    // A transfer has ended (or failed for a passing reason, and waits to be tried again).
    void ended(CurlJob &job, int curlCode, CurlJob::Abort reason = CurlJob::Abort::None);
    // A transfer's next try is due.
    void retry(CurlJob &job);
    // Collects the transfers libcurl has finished and delivers the states: after each of
    // libcurl's actions.
    void afterAction();
    void deliverStates();
    // Resumes the awaiters of the transfers that have ended, once their states are out.
    void resumeAwaiters();
    // Lets the transfers paused for the budget go on, oldest first, as far as there is room.
    void resumePaused();

    CurlSession m_session;          // first: every easy handle uses its cookie engine
    void *m_imageHeaders = nullptr; // the Accept header of image requests
    BodyBudget m_budget;            // before the jobs, which count their bodies in it
    std::unique_ptr<CurlConnections> m_connections;
    std::vector<std::unique_ptr<CurlJob>> m_jobs; // every easy handle ever made, kept for reuse
    std::unique_ptr<CurlMulti> m_multi;           // after the jobs: closed first
    CurlJob *m_oneAtATime = nullptr;              // the handle of one-at-a-time transfers
    int m_oneAtATimeTicket = 0;                   // the one under way, 0 when none is

    // States reported by the callbacks, not yet emitted.
    std::vector<PendingState> m_pendingStates;
    size_t m_delivered = 0; // how many of them are out

    std::map<int, CurlJob *> m_tickets;                // transfers not yet claimed or cancelled
    std::map<int, std::coroutine_handle<>> m_awaiters; // the finishTransfer suspended on a ticket
    std::vector<int> m_ended;                          // awaited tickets that ended, in order
    bool m_closing = false;                            // the destructor has begun
    int m_lastTicket = 0;
    int m_timeoutSeconds = transferdefaults::kLowSpeedSeconds;
    int m_maxTimeSeconds = transferdefaults::kMaxTimeSeconds;
    qint64 m_maxBodySize = qint64(256) * 1024 * 1024;
    qint64 m_maxPageSize = pagetext::kMaxPageSize;
    int m_retries = 0;
    QByteArray m_dnsOverHttps;
};
