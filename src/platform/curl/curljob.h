// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <curl/curl.h>

#include <functional>
#include <initializer_list>
#include <map>

class CurlJob;

// Which job a connection carried last, by the connection's local port, so that a closed
// connection is reported to that job (libcurl closes a socket with the data of the job that
// opened it, and a kept connection may carry several jobs' requests).
class CurlConnections {
public:
    void carried(int localPort, CurlJob *job) { m_carriers[localPort] = job; }
    // Closes socket; the job whose request it carried last hears of it.
    void close(int socket);

private:
    std::map<int, CurlJob *> m_carriers;
};

// What one transfer asks for.
struct CurlRequest {
    QByteArray address; // as libcurl takes it (see requestaddress.h)
    bool image = false; // a byte transfer: an image is asked for
    QByteArray referer;
    QByteArray userAgent;
    qint64 bodyLimit = 0;
    int timeoutSeconds = 60;
    int maxTimeSeconds = 600; // the whole transfer; 0 for no limit
    int retries = 0;
};

// One easy handle, kept for one transfer after the other, and what its current transfer has
// reported so far: the options every transfer shares, libcurl's callbacks, the states they make
// (handed to report as they happen, in order), the body, and once the transfer has ended its
// outcome and failure text.
class CurlJob {
public:
    enum class Abort { None, Cancelled, TooLarge, ConflictingLength };

    // share is the cookie engine every job uses; imageHeaders the header list of an image
    // request. report receives the job's states.
    CurlJob(void *share, curl_slist *imageHeaders, CurlConnections &connections,
            std::function<void(CurlJob &, qint16 state)> report);
    ~CurlJob();
    CurlJob(const CurlJob &) = delete;
    CurlJob &operator=(const CurlJob &) = delete;

    CURL *easy() const { return m_easy; }
    static CurlJob *of(void *easy);

    // Sets the handle up for a new transfer; the outcome of the last one is forgotten.
    void prepare(const QString &url, const CurlRequest &request);
    // The next try after a passing failure: a request of its own, whose states start over.
    void prepareRetry();
    // libcurl has ended the transfer with curlCode (or the caller has, for the reason given).
    // Reads the reply's outcome; false when the failure passes and a try is left: then the job
    // waits for retryDelayMs and prepareRetry, and nothing is final yet.
    bool end(int curlCode, Abort reason = Abort::None);
    // The states that close a transfer that has ended: the close of its connection if it came
    // while the body arrived, and the final state.
    void reportEnd();
    long retryDelayMs() const;

    bool succeeded() const;
    QString failureMessage() const;

    const QString &url() const { return m_url; }
    bool image() const { return m_request.image; }
    QByteArray takeBody() { return std::exchange(m_body, QByteArray()); }
    const QByteArray &contentType() const { return m_contentType; }
    const QString &finalUrl() const { return m_finalUrl; }

    // The transfer's place in the service; kept by the service.
    int ticket = 0;
    bool assigned = false;     // a ticket holds it (until claimed or cancelled)
    bool active = false;       // in the multi handle
    bool done = false;         // ended; the outcome is final
    bool retryPending = false; // waiting to be tried again, out of the multi handle
    quint64 generation = 0;    // counts the transfers and tries, so a stale retry timer is known

    // Called by libcurl's callbacks.
    void resolverStarting();
    void socketOpened();
    void connectionClosed();
    void requestStarting(int localPort);
    bool headerReceived(const char *data, size_t size);
    bool bodyReceived(const char *data, size_t size);

private:
    void push(std::initializer_list<qint16> states);
    void flushDeferredClose();
    void beginHop();
    void resetReply();

    CURL *m_easy = nullptr;
    CurlConnections &m_connections;
    curl_slist *m_imageHeaders = nullptr;
    std::function<void(CurlJob &, qint16)> m_report;
    char m_errorBuffer[CURL_ERROR_SIZE] = {};

    QString m_url;
    CurlRequest m_request;
    int m_retriesLeft = 0;
    int m_retriesMade = 0;

    QByteArray m_body;
    bool m_responseChecked = false;
    bool m_discardBody = false;
    qint64 m_discarded = 0;

    // Which states of the current request have been reported.
    bool m_resolveShown = false;
    bool m_connectShown = false;
    bool m_headerShown = false;
    bool m_deferredClose = false;

    // Content-Length of the current response, -1 before one is seen.
    qint64 m_declaredLength = -1;
    // Whether this try goes on a fresh connection, after a kept one died under the last try.
    bool m_freshConnection = false;
    bool m_immediateRetry = false; // the try waiting is that one

    int m_curlCode = CURLE_OK;
    long m_httpStatus = 0;
    Abort m_abort = Abort::None;
    QString m_detail;
    QString m_finalUrl;        // where the body came from, after redirects
    QByteArray m_contentType;  // of the final response
    bool m_notAnImage = false; // an image was asked for and a web page or text came
};
