// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/curl/curltransfer.h"

#include "platform/curl/httptext.h"

#include <QEventLoop>
#include <QMetaObject>
#include <QScopeGuard>

#include <curl/curl.h>

#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace std::chrono;

namespace {

// Bodies of error responses are read and dropped, so that the connection stays usable for the
// next transfer; a longer one is not worth waiting for and ends the connection instead.
constexpr qint64 kMaxErrorBody = 64 * 1024;
constexpr long kMaxRedirects = 10;
constexpr int kPollMs = 1000;

void initLibcurlOnce()
{
    static const CURLcode result = curl_global_init(CURL_GLOBAL_DEFAULT);
    if (result != CURLE_OK)
        throw TransferError(QStringLiteral("cannot initialise libcurl: ") +
                            QString::fromUtf8(curl_easy_strerror(result)));
}

int localPortOf(int socket)
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getsockname(socket, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return -1;
    if (address.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in *>(&address)->sin_port);
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6 *>(&address)->sin6_port);
    return -1;
}

bool isTlsFailure(int code)
{
    switch (code) {
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_CLIENTCERT:
    case CURLE_USE_SSL_FAILED:
        return true;
    default:
        return false;
    }
}

// The address as libcurl takes it: without surrounding white space, in UTF-8, and with spaces
// after the host written as %20, as browsers send them (an image named "my photo.jpg" is found;
// a space in the host still makes the address bad).
QByteArray requestAddress(const QString &url)
{
    QByteArray address = url.trimmed().toUtf8();
    const qsizetype scheme = address.indexOf("://");
    qsizetype pathStart = scheme < 0 ? 0 : scheme + 3;
    while (pathStart < address.size() && address.at(pathStart) != '/' &&
           address.at(pathStart) != '?' && address.at(pathStart) != '#')
        ++pathStart;
    if (address.indexOf(' ', pathStart) >= 0)
        address = address.first(pathStart) + address.sliced(pathStart).replace(" ", "%20");
    return address;
}

} // namespace

// Trampolines with libcurl's exact callback types.
struct CurlCallbacks {
    static int resolverStart(void *, void *, void *self)
    {
        static_cast<CurlTransfer *>(self)->resolverStarting();
        return 0;
    }
    static curl_socket_t openSocket(void *self, curlsocktype purpose, curl_sockaddr *address)
    {
        if (purpose != CURLSOCKTYPE_IPCXN)
            return CURL_SOCKET_BAD;
        return static_cast<CurlTransfer *>(self)->openSocket(address->family, address->socktype,
                                                             address->protocol);
    }
    static int closeSocket(void *self, curl_socket_t socket)
    {
        static_cast<CurlTransfer *>(self)->closeSocket(socket);
        return 0;
    }
    static int prereq(void *self, char *, char *, int, int localPort)
    {
        static_cast<CurlTransfer *>(self)->requestStarting(localPort);
        return CURL_PREREQFUNC_OK;
    }
    static size_t header(char *data, size_t size, size_t count, void *self)
    {
        static_cast<CurlTransfer *>(self)->headerReceived(data, size * count);
        return size * count;
    }
    static size_t write(char *data, size_t size, size_t count, void *self)
    {
        return static_cast<CurlTransfer *>(self)->bodyReceived(data, size * count) ? size * count
                                                                                   : 0;
    }
};

CurlTransfer::CurlTransfer(QObject *parent) : UrlTransfer(parent)
{
    initLibcurlOnce();
    m_multi = curl_multi_init();
    m_easy = curl_easy_init();
    if (!m_multi || !m_easy) {
        curl_easy_cleanup(m_easy);
        curl_multi_cleanup(m_multi);
        throw TransferError(QStringLiteral("cannot create a libcurl handle"));
    }
    curl_multi_setopt(m_multi, CURLMOPT_MAXCONNECTS, 8L);

    CURL *easy = m_easy;
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, m_errorBuffer);
    curl_easy_setopt(easy, CURLOPT_DEFAULT_PROTOCOL, "http");
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, "Harvix/1.0");
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, 64L * 1024);
    // A proxy's answer to CONNECT is not the response: keep it out of the response states.
    curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);

    curl_easy_setopt(easy, CURLOPT_RESOLVER_START_FUNCTION, &CurlCallbacks::resolverStart);
    curl_easy_setopt(easy, CURLOPT_RESOLVER_START_DATA, this);
    curl_easy_setopt(easy, CURLOPT_OPENSOCKETFUNCTION, &CurlCallbacks::openSocket);
    curl_easy_setopt(easy, CURLOPT_OPENSOCKETDATA, this);
    curl_easy_setopt(easy, CURLOPT_CLOSESOCKETFUNCTION, &CurlCallbacks::closeSocket);
    curl_easy_setopt(easy, CURLOPT_CLOSESOCKETDATA, this);
    curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &CurlCallbacks::prereq);
    curl_easy_setopt(easy, CURLOPT_PREREQDATA, this);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &CurlCallbacks::header);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &CurlCallbacks::write);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);

    m_worker = std::thread([this] { workerLoop(); });
}

CurlTransfer::~CurlTransfer()
{
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_cancel = true;
    m_wake.notify_all();
    curl_multi_wakeup(m_multi);
    if (m_worker.joinable())
        m_worker.join();
    // Closes the cached connections; no transfer is under way, so no state is reported.
    curl_multi_cleanup(m_multi);
    curl_easy_cleanup(m_easy);
}

void CurlTransfer::setTimeoutSeconds(int seconds)
{
    m_timeoutSeconds = qMax(0, seconds);
}

void CurlTransfer::setMaxBodySize(qint64 bytes)
{
    m_maxBodySize = qMax<qint64>(0, bytes);
}

QVariant CurlTransfer::OpenURL(const QString &url, qint32 dataType)
{
    if (m_busy)
        throw TransferError(
            QStringLiteral("another transfer is under way; %1 was not fetched").arg(url));
    if (dataType != icString && dataType != icByteArray)
        throw TransferError(QStringLiteral("unknown data type %1 for %2").arg(dataType).arg(url));
    m_busy = true;
    const auto notBusy = qScopeGuard([this] { m_busy = false; });

    // The worker is idle until the job is posted below, so its fields can be set from here.
    m_url = requestAddress(url);
    m_dataType = dataType;
    m_idleLimit = seconds(m_timeoutSeconds);
    m_bodyLimit = m_maxBodySize;
    curl_easy_setopt(m_easy, CURLOPT_URL, m_url.constData());
    curl_easy_setopt(m_easy, CURLOPT_CONNECTTIMEOUT, long(m_timeoutSeconds));
    m_cancel = false;
    {
        std::lock_guard lock(m_mutex);
        m_jobDone = false;
        m_jobPending = true;
    }
    m_wake.notify_one();

    QEventLoop loop;
    m_loop = &loop;
    loop.exec();
    m_loop = nullptr;

    bool done = false;
    {
        std::lock_guard lock(m_mutex);
        done = m_jobDone;
    }
    if (!done) {
        // The loop was left before the transfer ended (the application is quitting): stop the
        // transfer and wait for the worker, which then gives up within moments.
        m_cancel = true;
        curl_multi_wakeup(m_multi);
        std::unique_lock lock(m_mutex);
        m_finished.wait(lock, [this] { return m_jobDone; });
    }
    drainStates();

    Outcome outcome = std::exchange(m_outcome, Outcome{});
    if (!done)
        outcome.abort = Abort::Cancelled;
    if (outcome.abort == Abort::None && outcome.curlCode == CURLE_OK && outcome.httpStatus < 400)
        return outcome.value;
    throw TransferError(failureMessage(outcome, url));
}

void CurlTransfer::Cancel()
{
    if (!m_busy)
        return;
    m_cancel = true;
    curl_multi_wakeup(m_multi);
}

void CurlTransfer::workerLoop()
{
    for (;;) {
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_quit || m_jobPending; });
            if (m_quit)
                return;
            m_jobPending = false;
        }
        runTransfer();
    }
}

void CurlTransfer::runTransfer()
{
    m_outcome = Outcome{};
    m_body = QByteArray();
    m_responseChecked = false;
    m_discardBody = false;
    m_discarded = 0;
    m_resolveShown = m_connectShown = m_headerShown = m_deferredClose = false;
    m_watchIdle = false;
    m_errorBuffer[0] = '\0';
    m_inTransfer = true;

    int code = CURLE_OK;
    Abort abort = Abort::None;
    if (curl_multi_add_handle(m_multi, m_easy) != CURLM_OK) {
        code = CURLE_FAILED_INIT;
    } else {
        for (;;) {
            int running = 0;
            if (curl_multi_perform(m_multi, &running) != CURLM_OK) {
                code = CURLE_FAILED_INIT;
                break;
            }
            if (running == 0) {
                int left = 0;
                while (CURLMsg *message = curl_multi_info_read(m_multi, &left)) {
                    if (message->msg == CURLMSG_DONE && message->easy_handle == m_easy)
                        code = message->data.result;
                }
                break;
            }
            if (m_cancel) {
                abort = Abort::Cancelled;
                break;
            }
            int waitMs = kPollMs;
            if (m_watchIdle && m_idleLimit.count() > 0) {
                const auto left =
                    duration_cast<milliseconds>(m_idleLimit - (steady_clock::now() - m_lastByte));
                if (left.count() <= 0) {
                    abort = Abort::TimedOut;
                    break;
                }
                waitMs = int(qMin<qint64>(waitMs, left.count() + 1));
            }
            curl_multi_poll(m_multi, nullptr, 0, waitMs, nullptr);
        }
        // Ends an unfinished transfer too; its connection is then closed.
        curl_multi_remove_handle(m_multi, m_easy);
    }
    if (abort != Abort::None)
        m_outcome.abort = abort;
    finishTransfer(code);
}

void CurlTransfer::finishTransfer(int code)
{
    m_outcome.curlCode = code;
    curl_easy_getinfo(m_easy, CURLINFO_RESPONSE_CODE, &m_outcome.httpStatus);
    m_outcome.detail = QString::fromUtf8(m_errorBuffer);
    if (m_outcome.detail.isEmpty())
        m_outcome.detail = QString::fromUtf8(curl_easy_strerror(CURLcode(code)));

    const bool received = code == CURLE_OK && m_outcome.abort == Abort::None;
    const bool ok = received && m_outcome.httpStatus < 400;
    if (received)
        pushState(icResponseReceived);
    flushDeferredClose();
    if (ok) {
        if (m_dataType == icByteArray) {
            m_outcome.value = QVariant(m_body);
        } else {
            const char *contentType = nullptr;
            curl_easy_getinfo(m_easy, CURLINFO_CONTENT_TYPE, &contentType);
            m_outcome.value = QVariant(httptext::decode(m_body, QByteArrayView(contentType)));
        }
    }
    m_body = QByteArray();
    m_inTransfer = false;

    bool post = false;
    {
        std::lock_guard lock(m_mutex);
        m_pendingStates.push_back(ok ? icResponseCompleted : icError);
        m_jobDone = true;
        post = !std::exchange(m_drainPosted, true);
    }
    if (post)
        QMetaObject::invokeMethod(
            this, [this] { drainStates(); }, Qt::QueuedConnection);
    m_finished.notify_all();
}

void CurlTransfer::pushStates(std::initializer_list<qint16> states)
{
    bool post = false;
    {
        std::lock_guard lock(m_mutex);
        m_pendingStates.insert(m_pendingStates.end(), states);
        post = !std::exchange(m_drainPosted, true);
    }
    if (post)
        QMetaObject::invokeMethod(
            this, [this] { drainStates(); }, Qt::QueuedConnection);
}

void CurlTransfer::pushState(qint16 state)
{
    pushStates({state});
}

void CurlTransfer::drainStates()
{
    // A StateChanged receiver that runs an event loop of its own brings us back here; the outer
    // call goes on with the queue, which keeps the states in order.
    if (m_draining)
        return;
    m_draining = true;
    const auto reset = qScopeGuard([this] { m_draining = false; });
    std::vector<qint16> batch;
    for (;;) {
        bool done = false;
        {
            std::lock_guard lock(m_mutex);
            batch.swap(m_pendingStates);
            m_drainPosted = false;
            done = m_jobDone;
        }
        if (batch.empty()) {
            if (done && m_loop)
                m_loop->quit();
            return;
        }
        for (const qint16 state : batch)
            emit StateChanged(state);
        batch.clear();
    }
}

void CurlTransfer::flushDeferredClose()
{
    if (m_deferredClose) {
        m_deferredClose = false;
        pushStates({icDisconnecting, icDisconnected});
    }
}

// A transfer can take several requests (redirects, a retry on a fresh connection). Once a
// response has begun, the next connection or request starts the states over.
void CurlTransfer::beginHop()
{
    if (!m_headerShown)
        return;
    flushDeferredClose();
    m_resolveShown = m_connectShown = m_headerShown = false;
}

void CurlTransfer::resolverStarting()
{
    if (!m_inTransfer)
        return;
    beginHop();
    if (!m_resolveShown) {
        m_resolveShown = true;
        pushState(icResolvingHost);
    }
}

int CurlTransfer::openSocket(int family, int type, int protocol)
{
    const int socket = ::socket(family, type | SOCK_CLOEXEC, protocol);
    if (m_inTransfer) {
        beginHop();
        // Several sockets may be tried for one connection (IPv6 and IPv4); report it once.
        // A host name found in libcurl's cache was resolved all the same.
        if (!m_connectShown) {
            m_connectShown = true;
            if (!std::exchange(m_resolveShown, true))
                pushStates({icResolvingHost, icHostResolved, icConnecting});
            else
                pushStates({icHostResolved, icConnecting});
        }
    }
    return socket < 0 ? int(CURL_SOCKET_BAD) : socket;
}

void CurlTransfer::closeSocket(int socket)
{
    // Only a connection that carried a request is reported as disconnected: a socket that lost
    // the race between addresses or never connected is not a connection the user saw.
    bool carried = false;
    if (!m_requestPorts.empty())
        carried = m_requestPorts.erase(localPortOf(socket)) > 0;
    ::close(socket);
    if (!m_inTransfer || !carried)
        return;
    if (m_headerShown) {
        // The response has arrived or is arriving: report the end of its body first.
        m_deferredClose = true;
    } else {
        pushStates({icDisconnecting, icDisconnected});
        m_resolveShown = m_connectShown = false;
    }
}

void CurlTransfer::requestStarting(int localPort)
{
    if (!m_inTransfer)
        return;
    beginHop();
    m_requestPorts.insert(localPort);
    pushStates({icConnected, icRequesting});
    m_watchIdle = true;
    m_lastByte = steady_clock::now();
}

void CurlTransfer::headerReceived(const char *data, size_t size)
{
    m_lastByte = steady_clock::now();
    if (!m_headerShown) {
        m_headerShown = true;
        pushStates({icRequestSent, icReceivingResponse});
    }
    if (size >= 5 && std::memcmp(data, "HTTP/", 5) == 0) {
        // A new response (after a redirect or an interim 1xx): its body starts afresh.
        m_responseChecked = false;
        m_discardBody = false;
        m_discarded = 0;
        m_body.clear();
    }
}

bool CurlTransfer::bodyReceived(const char *data, size_t size)
{
    m_lastByte = steady_clock::now();
    if (!m_responseChecked) {
        m_responseChecked = true;
        long status = 0;
        curl_easy_getinfo(m_easy, CURLINFO_RESPONSE_CODE, &status);
        if (status >= 400) {
            m_discardBody = true;
        } else {
            curl_off_t length = -1;
            curl_easy_getinfo(m_easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
            if (length > m_bodyLimit) {
                m_outcome.abort = Abort::TooLarge;
                return false;
            }
            if (length > 0)
                m_body.reserve(qsizetype(length));
        }
    }
    if (m_discardBody) {
        m_discarded += qint64(size);
        return m_discarded <= kMaxErrorBody;
    }
    if (qint64(m_body.size()) + qint64(size) > m_bodyLimit) {
        m_outcome.abort = Abort::TooLarge;
        return false;
    }
    m_body.append(data, qsizetype(size));
    return true;
}

QString CurlTransfer::failureMessage(const Outcome &o, const QString &url) const
{
    switch (o.abort) {
    case Abort::Cancelled:
        return QStringLiteral("transfer of %1 cancelled").arg(url);
    case Abort::TimedOut:
        return QStringLiteral("no data from %1 for %2 seconds")
            .arg(url)
            .arg(duration_cast<seconds>(m_idleLimit).count());
    case Abort::TooLarge:
        return QStringLiteral("the body of %1 is larger than %2 bytes").arg(url).arg(m_bodyLimit);
    case Abort::None:
        break;
    }
    if (o.httpStatus >= 400)
        return QStringLiteral("%1 answered with HTTP status %2").arg(url).arg(o.httpStatus);

    QString what;
    switch (o.curlCode) {
    case CURLE_URL_MALFORMAT:
        what = QStringLiteral("bad address %1");
        break;
    case CURLE_UNSUPPORTED_PROTOCOL:
        what = QStringLiteral("unsupported address %1 (only http and https are fetched)");
        break;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        what = QStringLiteral("cannot find the host of %1");
        break;
    case CURLE_COULDNT_CONNECT:
        what = QStringLiteral("cannot connect to %1");
        break;
    case CURLE_OPERATION_TIMEDOUT:
        what = QStringLiteral("timed out fetching %1");
        break;
    case CURLE_TOO_MANY_REDIRECTS:
        what = QStringLiteral("more than 10 redirects from %1");
        break;
    default:
        what = isTlsFailure(o.curlCode) ? QStringLiteral("secure connection to %1 failed")
                                        : QStringLiteral("transfer of %1 failed");
        break;
    }
    return what.arg(url) + QStringLiteral(": ") + o.detail;
}
