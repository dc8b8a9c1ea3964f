// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/curl/contentdecoder.h"
#include "platform/curl/curlreply.h"
#include "platform/curl/curlstates.h"
#include "platform/curl/requestaddress.h"
#include "platform/transferdefaults.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <QTimer>

#include <curl/curl.h>

#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <vector>

class CurlJob;

// Which job a connection carried last, so that a closed connection is reported to that job
// (libcurl closes a socket with the data of the job that opened it, and a kept connection may
// carry several jobs' requests). A connection is told by both of its ends, addresses and
// ports: two connections to different servers can share a local port. (libcurl names a
// transfer's socket only once the transfer is over, too late for this.)
class CurlConnections {
public:
    // The two ends of a connection: local address and port, remote address and port.
    using Ends = std::tuple<std::string, int, std::string, int>;

    void carried(const Ends &ends, CurlJob *job) { m_carriers[ends] = job; }
    // Closes socket; the job whose request it carried last hears of it.
    void close(curl_socket_t socket);

private:
    std::map<Ends, CurlJob *> m_carriers;
};

// The room every transfer's body takes together, counted in bytes allocated, so that many
// transfers side by side hold no more than one large body (a compression bomb decoded 16 times
// at once would take gigabytes). A transfer that would pass the limit pauses until room is
// made, except the one the caller waits for (the harvest takes bodies in order, so it must
// always go on); that one is bounded by its own body limit.
struct BodyBudget {
    qint64 limit = 0;
    qint64 held = 0;
    std::vector<CurlJob *> paused; // in the order they paused
};

// What one transfer asks for.
struct CurlRequest {
    TransferAddress address;
    bool image = false; // a byte transfer: an image is asked for
    QByteArray referer;
    QByteArray userAgent;
    qint64 bodyLimit = 0;
    int timeoutSeconds = transferdefaults::kLowSpeedSeconds;
    int maxTimeSeconds = transferdefaults::kMaxTimeSeconds; // the whole transfer; 0 for no limit
    int retries = 0;
};

// One easy handle, kept for one transfer after the other, and the life of its current
// transfer: idle until it is started, running while libcurl has it, waiting (on a timer of its
// own) to be tried again after a passing failure, and done once its outcome is final. It holds
// the options every transfer shares, libcurl's callbacks, the states they make (handed to
// report as they happen, in order) and the body.
class CurlJob {
public:
    enum class Phase { Idle, Running, WaitingToRetry, Done };
    using Abort = curlreply::Abort;

    // share is the cookie engine every job uses; imageHeaders the header list of an image
    // request. report receives the job's states; retryDue is called when a job that waits to be
    // tried again is due (it is then running again, and must be handed to libcurl).
    CurlJob(void *share, curl_slist *imageHeaders, CurlConnections &connections, BodyBudget &budget,
            std::function<void(CurlJob &, qint16 state)> report,
            std::function<void(CurlJob &)> retryDue);
    ~CurlJob();
    CurlJob(const CurlJob &) = delete;
    CurlJob &operator=(const CurlJob &) = delete;

    CURL *easy() const { return m_easy; }
    static CurlJob *of(void *easy);

    // The ticket of its transfer (the last one once it is released): its states go with it.
    int ticket() const { return m_ticket; }
    // Whether a ticket holds the job; a released job is free for another transfer.
    bool isHeld() const { return m_held; }
    void release() { m_held = false; }
    Phase phase() const { return m_phase; }
    // How long the current (or the last) wait for the next request is: 0 for a redirect or a
    // dropped kept connection, which go at once, more after a passing failure.
    long retryDelayMs() const { return m_retryDelayMs; }

    // Sets the handle up for the transfer of ticket and makes it running; the outcome of the
    // last one is forgotten. Throws TransferError when libcurl refuses an option.
    void start(int ticket, const QString &url, const CurlRequest &request);
    // libcurl has ended the running transfer with curlCode, or the service ends it for the
    // reason given (also while it waits to be tried again). True when the outcome is final
    // (done, its closing states reported); false when a passing failure waits for its next try.
    bool end(int curlCode, Abort reason = Abort::None);

    bool succeeded() const;
    // Why the transfer did not give its body.
    TransferError failure() const;

    const QString &url() const { return m_url; }
    bool image() const { return m_request.image; }
    QByteArray takeBody();
    // The caller waits for this transfer now: it never pauses for the budget, and goes on at
    // once if it had.
    void setAwaited();
    // A paused transfer goes on when it is awaited or the budget has room again; true when it
    // did (or was not paused).
    bool resumeIfRoom();
    const QByteArray &contentType() const { return m_contentType; }
    const QString &finalUrl() const { return m_finalUrl; }

    // Called by libcurl's callbacks.
    void resolverStarting();
    void socketOpened();
    void connectionClosed();
    void requestStarting(const CurlConnections::Ends &ends);
    bool headerReceived(const char *data, size_t size);
    // The bytes taken (size), none (0: the transfer fails) or CURL_WRITEFUNC_PAUSE.
    size_t bodyReceived(const char *data, size_t size);

private:
    // After a redirect's reply: the next request is set up for its target and waits for its
    // turn (CURLE_OK); or the redirect cannot be followed (its libcurl code); or the reply is no
    // redirect to follow (-1).
    int followRedirect();
    // Waits delayMs, then the next try.
    void waitToRetry(long delayMs);
    void resetReply();
    // Adds bytes of the decoded body: like bodyReceived.
    size_t keep(const char *data, size_t size);
    // Counts what the body holds now against the budget.
    void countBody();
    void dropBody();

    CURL *m_easy = nullptr;
    CurlConnections &m_connections;
    curl_slist *m_imageHeaders = nullptr;
    BodyBudget &m_budget;
    CurlStates m_states;
    std::function<void(CurlJob &)> m_retryDue;
    QTimer m_retryTimer;
    long m_retryDelayMs = 0;
    char m_errorBuffer[CURL_ERROR_SIZE] = {};

    Phase m_phase = Phase::Idle;
    int m_ticket = 0;
    bool m_held = false;
    QString m_url;
    CurlRequest m_request;
    int m_retriesLeft = 0;
    int m_retriesMade = 0;
    QElapsedTimer m_sinceFirstTry; // the whole-time limit counts from the first try

    QByteArray m_body;
    qint64 m_counted = 0; // what the body holds, as counted in the budget
    bool m_awaited = false;
    bool m_paused = false;
    // The bytes the transfer was adding when it paused: it goes on once the budget has room for
    // them, not before (it would only pause again).
    qint64 m_pausedFor = 0;
    bool m_responseChecked = false;
    bool m_discardBody = false;
    qint64 m_discarded = 0;

    QByteArray m_contentEncoding; // of the current response, as sent
    ContentDecoder m_decoder;
    QString m_decodeError;          // why the body could not be decoded
    QByteArray m_decoded;           // the last piece decoded
    qsizetype m_decodedWaiting = 0; // of it, what waits to be kept, after a pause
    qsizetype m_rawTaken = 0;       // of the bytes handed over before a pause, those decoded

    // Content-Length of the current response, -1 before one is seen.
    qint64 m_declaredLength = -1;
    // Whether this try goes on a fresh connection, after a kept one died under the last try.
    bool m_freshConnection = false;
    int m_redirects = 0;     // followed so far
    QByteArray m_hopReferer; // the Referer of the current request

    QString m_finalUrl;       // where the body came from, after redirects
    QByteArray m_contentType; // of the final response
    curlreply::Ended m_ended; // the outcome, final once done
};
