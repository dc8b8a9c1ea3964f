// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/curl/curltransfer.h"

#include "platform/pagetext.h"

#include <QEventLoop>
#include <QPointer>
#include <QSocketNotifier>
#include <QUrl>

#include <curl/curl.h>

#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Bodies of error responses are read and dropped, so that the connection stays usable for the
// next transfer; a longer one is not worth waiting for and ends the connection instead.
constexpr qint64 kMaxErrorBody = 64 * 1024;
constexpr long kMaxRedirects = 10;
// Longest wait before a transfer is tried again, also when the server asks for a longer one.
constexpr long kMaxRetryDelayMs = 60 * 1000;

const char kDefaultUserAgent[] = "Harvix/" HARVIX_VERSION;
// What an image request asks for: a JPEG, else any picture, else anything.
const char kImageAccept[] = "Accept: image/jpeg,image/*;q=0.8,*/*;q=0.5";

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

// Whether a final reply of this status carries the body that was asked for: the 2xx codes HTTP
// defines, other than 204 No Content and 205 Reset Content. Anything else (a 304, a redirect
// that could not be followed, an unassigned code such as 299) fails like a 404.
bool isBodyStatus(long status)
{
    return status >= 200 && status <= 226 && status != 204 && status != 205;
}

// Failures that another try may not meet: the connection refused, reset or timed out, the
// server said nothing, or asked to be tried later (408, 429, 5xx).
bool isPassingFailure(int curlCode, long status)
{
    switch (curlCode) {
    case CURLE_OK:
        return status == 408 || status == 429 || (status >= 500 && status <= 599);
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
        return true;
    default:
        return false;
    }
}

// One cookie of the browser as a line of a Netscape cookies.txt file, which libcurl's cookie
// list takes. An expiry in the past removes the cookie of the same name, domain and path.
QByteArray netscapeLine(const BrowserCookie &cookie, qint64 expires)
{
    QByteArray line;
    if (cookie.httpOnly)
        line += "#HttpOnly_";
    line += cookie.domain + '\t' + (cookie.domain.startsWith('.') ? "TRUE" : "FALSE") + '\t' +
            (cookie.path.isEmpty() ? QByteArray("/") : cookie.path) + '\t' +
            (cookie.secure ? "TRUE" : "FALSE") + '\t' + QByteArray::number(expires) + '\t' +
            cookie.name + '\t' + cookie.value;
    return line;
}

// Whether a cookie set for domain goes with a request to host.
bool cookieDomainMatches(const QByteArray &domain, const QString &host)
{
    const QString name = QString::fromLatin1(domain).toLower();
    if (name.startsWith(u'.'))
        return host == QStringView(name).sliced(1) || host.endsWith(name);
    return host == name;
}

// The address as libcurl takes it: without surrounding white space, in UTF-8, and with spaces
// and control characters after the host percent-encoded, as browsers send them (an image named
// "my photo.jpg" is found, and so is one whose reference holds a DEL; a space in the host still
// makes the address bad). libcurl's own URL parser refuses control characters even when asked
// to encode, and writes a space in the query as "+", so this stays our own.
QByteArray requestAddress(const QString &url)
{
    const QByteArray address = url.trimmed().toUtf8();
    const qsizetype scheme = address.indexOf("://");
    qsizetype pathStart = scheme < 0 ? 0 : scheme + 3;
    while (pathStart < address.size() && address.at(pathStart) != '/' &&
           address.at(pathStart) != '?' && address.at(pathStart) != '#')
        ++pathStart;
    QByteArray repaired = address.first(pathStart);
    for (const char c : address.sliced(pathStart)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7f)
            repaired += '%' + QByteArray::number(byte, 16).rightJustified(2, '0').toUpper();
        else
            repaired += c;
    }
    return repaired;
}

} // namespace

enum class CurlTransfer::Abort : int { None, Cancelled, TooLarge };

// One easy handle and what its current transfer has reported so far.
struct CurlTransfer::Job {
    CurlTransfer *owner = nullptr;
    CURL *easy = nullptr;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    int ticket = 0;
    bool assigned = false;   // a side-by-side transfer owns it (until claimed or cancelled)
    bool active = false;     // in the multi handle
    bool done = false;       // ended; the outcome below is final
    Wait *waiting = nullptr; // finishBytes waiting for this transfer
    QString url;
    bool image = false; // a byte transfer: an image was asked for

    // Tries again after a passing failure.
    int retriesLeft = 0;
    int retriesMade = 0;
    bool retryPending = false; // waiting to be tried again, out of the multi handle
    quint64 retryGeneration = 0;

    qint64 bodyLimit = 0;
    QByteArray body;
    bool responseChecked = false;
    bool discardBody = false;
    qint64 discarded = 0;

    // Which states of the current request have been reported.
    bool resolveShown = false;
    bool connectShown = false;
    bool headerShown = false;
    bool deferredClose = false;

    int curlCode = CURLE_OK;
    long httpStatus = 0;
    Abort abort = Abort::None;
    QString detail;
    QString finalUrl;        // where the body came from, after redirects
    QByteArray contentType;  // of the final response
    bool notAnImage = false; // an image was asked for and a web page or text came

    QString failureMessage() const;

    bool succeeded() const
    {
        return done && abort == Abort::None && curlCode == CURLE_OK && isBodyStatus(httpStatus) &&
               !notAnImage;
    }

    void push(std::initializer_list<qint16> states)
    {
        for (const qint16 state : states)
            owner->m_pendingStates.push_back({ticket, state});
    }

    void flushDeferredClose()
    {
        if (std::exchange(deferredClose, false))
            push({icDisconnecting, icDisconnected});
    }

    // A transfer can take several requests (redirects, a retry on a fresh connection). Once a
    // response has begun, the next connection or request starts the states over.
    void beginHop()
    {
        if (!headerShown)
            return;
        flushDeferredClose();
        resolveShown = connectShown = headerShown = false;
    }

    void resolverStarting()
    {
        if (!active)
            return;
        beginHop();
        if (!std::exchange(resolveShown, true))
            push({icResolvingHost});
    }

    void socketOpened()
    {
        if (!active)
            return;
        beginHop();
        // Several sockets may be tried for one connection (IPv6 and IPv4); report it once.
        // A host name found in libcurl's cache was resolved all the same.
        if (std::exchange(connectShown, true))
            return;
        if (!std::exchange(resolveShown, true))
            push({icResolvingHost});
        push({icHostResolved, icConnecting});
    }

    void connectionClosed()
    {
        if (!active)
            return;
        if (headerShown) {
            // The response has arrived or is arriving: report the end of its body first.
            deferredClose = true;
        } else {
            push({icDisconnecting, icDisconnected});
            resolveShown = connectShown = false;
        }
    }

    void requestStarting()
    {
        if (!active)
            return;
        beginHop();
        push({icConnected, icRequesting});
    }

    void headerReceived(const char *data, size_t size)
    {
        if (!std::exchange(headerShown, true))
            push({icRequestSent, icReceivingResponse});
        if (size >= 5 && std::memcmp(data, "HTTP/", 5) == 0) {
            // A new response (after a redirect or an interim 1xx): its body starts afresh.
            responseChecked = false;
            discardBody = false;
            discarded = 0;
            body.clear();
        }
    }

    bool bodyReceived(const char *data, size_t size)
    {
        if (!std::exchange(responseChecked, true)) {
            curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &httpStatus);
            discardBody = !isBodyStatus(httpStatus);
            curl_off_t length = -1;
            curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
            // libcurl refuses a declared length over the limit before any byte arrives.
            if (!discardBody && length > 0)
                body.reserve(qsizetype(length));
        }
        if (discardBody) {
            discarded += qint64(size);
            return discarded <= kMaxErrorBody;
        }
        // Without a declared length only the bytes themselves tell.
        if (qint64(body.size()) + qint64(size) > bodyLimit) {
            abort = Abort::TooLarge;
            return false;
        }
        body.append(data, qsizetype(size));
        return true;
    }
};

struct CurlTransfer::Wait {
    QEventLoop *loop = nullptr;
    bool cancelled = false;
    bool destroyed = false;
    bool finalSent = false;
};

QString CurlTransfer::Job::failureMessage() const
{
    if (abort == Abort::Cancelled)
        return QStringLiteral("transfer of %1 cancelled").arg(url);
    if (httpStatus >= 400 || (curlCode == CURLE_OK && !isBodyStatus(httpStatus)))
        return QStringLiteral("%1 answered with HTTP status %2").arg(url).arg(httpStatus);
    if (abort == Abort::TooLarge)
        return QStringLiteral("the body of %1 is larger than %2 bytes").arg(url).arg(bodyLimit);
    if (notAnImage)
        return QStringLiteral("%1 answered with a web page or text (%2), not an image")
            .arg(url, contentType.isEmpty() ? QStringLiteral("no type")
                                            : QString::fromLatin1(contentType));

    QString what;
    switch (curlCode) {
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
        what = isTlsFailure(curlCode) ? QStringLiteral("secure connection to %1 failed")
                                      : QStringLiteral("transfer of %1 failed");
        break;
    }
    return what.arg(url) + QStringLiteral(": ") + detail;
}

struct CurlTransfer::SocketWatch {
    std::unique_ptr<QSocketNotifier> read;
    std::unique_ptr<QSocketNotifier> write;
};

// Trampolines with libcurl's exact callback types.
struct CurlCallbacks {
    using Job = CurlTransfer::Job;

    static int resolverStart(void *, void *, void *job)
    {
        static_cast<Job *>(job)->resolverStarting();
        return 0;
    }
    static curl_socket_t openSocket(void *job, curlsocktype purpose, curl_sockaddr *address)
    {
        if (purpose != CURLSOCKTYPE_IPCXN)
            return CURL_SOCKET_BAD;
        const int socket =
            ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
        static_cast<Job *>(job)->socketOpened();
        return socket < 0 ? CURL_SOCKET_BAD : socket;
    }
    static int closeSocket(void *job, curl_socket_t socket)
    {
        static_cast<Job *>(job)->owner->socketClosed(socket);
        return 0;
    }
    static int prereq(void *clientp, char *, char *, int, int localPort)
    {
        auto *job = static_cast<Job *>(clientp);
        job->owner->m_requestPorts[localPort] = job;
        job->requestStarting();
        return CURL_PREREQFUNC_OK;
    }
    static size_t header(char *data, size_t size, size_t count, void *job)
    {
        static_cast<Job *>(job)->headerReceived(data, size * count);
        return size * count;
    }
    static size_t write(char *data, size_t size, size_t count, void *job)
    {
        return static_cast<Job *>(job)->bodyReceived(data, size * count) ? size * count : 0;
    }
    static int socket(CURL *, curl_socket_t socket, int what, void *self, void *)
    {
        auto *service = static_cast<CurlTransfer *>(self);
        if (what == CURL_POLL_REMOVE)
            service->unwatchSocket(socket);
        else
            service->watchSocket(socket, what);
        return 0;
    }
    static int timer(CURLM *, long ms, void *self)
    {
        static_cast<CurlTransfer *>(self)->setTimer(ms);
        return 0;
    }
};

CurlTransfer::CurlTransfer(QObject *parent) : UrlTransfer(parent)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &CurlTransfer::timerExpired);
}

CurlTransfer::~CurlTransfer()
{
    if (m_wait) {
        // The waiting OpenURL finds this and fails without touching the service again.
        m_wait->destroyed = true;
        if (m_wait->loop)
            m_wait->loop->quit();
        m_wait = nullptr;
    }
    for (const auto &job : m_jobs) {
        if (job->waiting) {
            job->waiting->destroyed = true;
            if (job->waiting->loop)
                job->waiting->loop->quit();
        }
        if (job->active)
            curl_multi_remove_handle(m_multi, job->easy);
        job->active = false;
    }
    // Closes the cached connections; nothing is reported any more.
    if (m_multi)
        curl_multi_cleanup(m_multi);
    for (const auto &job : m_jobs)
        curl_easy_cleanup(job->easy);
    if (m_share)
        curl_share_cleanup(m_share);
    curl_slist_free_all(static_cast<curl_slist *>(m_imageHeaders));
    m_sockets.clear();
}

void CurlTransfer::setTimeoutSeconds(int seconds)
{
    m_timeoutSeconds = qMax(0, seconds);
}

void CurlTransfer::setMaxBodySize(qint64 bytes)
{
    m_maxBodySize = qMax<qint64>(0, bytes);
}

void CurlTransfer::setMaxPageSize(qint64 bytes)
{
    m_maxPageSize = qMax<qint64>(0, bytes);
}

void CurlTransfer::start()
{
    if (m_multi)
        return;
    static const CURLcode init = curl_global_init(CURL_GLOBAL_DEFAULT);
    if (init != CURLE_OK)
        throw TransferError(QStringLiteral("cannot initialise libcurl: ") +
                            QString::fromUtf8(curl_easy_strerror(init)));
    CURLM *multi = curl_multi_init();
    if (!multi)
        throw TransferError(QStringLiteral("cannot create a libcurl handle"));
    curl_multi_setopt(multi, CURLMOPT_MAXCONNECTS, 8L);
    curl_multi_setopt(multi, CURLMOPT_SOCKETFUNCTION, &CurlCallbacks::socket);
    curl_multi_setopt(multi, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(multi, CURLMOPT_TIMERFUNCTION, &CurlCallbacks::timer);
    curl_multi_setopt(multi, CURLMOPT_TIMERDATA, this);
    // One cookie engine for every easy handle; all of them run on this thread, so it needs no
    // lock.
    CURLSH *share = curl_share_init();
    curl_slist *accept = curl_slist_append(nullptr, kImageAccept);
    if (!share || !accept) {
        curl_multi_cleanup(multi);
        if (share)
            curl_share_cleanup(share);
        curl_slist_free_all(accept);
        throw TransferError(QStringLiteral("cannot create a libcurl handle"));
    }
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
    m_multi = multi;
    m_share = share;
    m_imageHeaders = accept;
    m_serial = newJob();
}

CurlTransfer::Job *CurlTransfer::newJob()
{
    CURL *easy = curl_easy_init();
    if (!easy)
        throw TransferError(QStringLiteral("cannot create a libcurl handle"));
    auto job = std::make_unique<Job>();
    job->owner = this;
    job->easy = easy;
    Job *data = job.get();
    curl_easy_setopt(easy, CURLOPT_PRIVATE, data);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, data->errorBuffer);
    curl_easy_setopt(easy, CURLOPT_DEFAULT_PROTOCOL, "http");
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, kDefaultUserAgent);
    // Cookies live in memory only (an empty file name starts the engine without reading one).
    curl_easy_setopt(easy, CURLOPT_SHARE, m_share);
    curl_easy_setopt(easy, CURLOPT_COOKIEFILE, "");
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, 64L * 1024);
    // Like curl: CURL_CA_BUNDLE, else SSL_CERT_FILE, names a file of certificates to trust
    // instead of the system's.
    for (const char *variable : {"CURL_CA_BUNDLE", "SSL_CERT_FILE"}) {
        const QByteArray file = qgetenv(variable);
        if (!file.isEmpty()) {
            curl_easy_setopt(easy, CURLOPT_CAINFO, file.constData());
            break;
        }
    }
    // Cancelling a transfer that is still resolving leaves libcurl's resolver thread to end on
    // its own instead of waiting for it, so Cancel takes effect at once.
    curl_easy_setopt(easy, CURLOPT_QUICK_EXIT, 1L);
    // A proxy's answer to CONNECT is not the response: keep it out of the response states.
    curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);

    curl_easy_setopt(easy, CURLOPT_RESOLVER_START_FUNCTION, &CurlCallbacks::resolverStart);
    curl_easy_setopt(easy, CURLOPT_RESOLVER_START_DATA, data);
    curl_easy_setopt(easy, CURLOPT_OPENSOCKETFUNCTION, &CurlCallbacks::openSocket);
    curl_easy_setopt(easy, CURLOPT_OPENSOCKETDATA, data);
    curl_easy_setopt(easy, CURLOPT_CLOSESOCKETFUNCTION, &CurlCallbacks::closeSocket);
    curl_easy_setopt(easy, CURLOPT_CLOSESOCKETDATA, data);
    curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &CurlCallbacks::prereq);
    curl_easy_setopt(easy, CURLOPT_PREREQDATA, data);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &CurlCallbacks::header);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, data);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &CurlCallbacks::write);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, data);
    m_jobs.push_back(std::move(job));
    return data;
}

void CurlTransfer::begin(Job &job, const QString &url, qint32 dataType, int ticket,
                         const QString &referer)
{
    job.ticket = ticket;
    job.url = url;
    job.image = dataType == icByteArray;
    job.done = false;
    job.retriesLeft = m_retries;
    job.retriesMade = 0;
    job.retryPending = false;
    ++job.retryGeneration;
    job.finalUrl.clear();
    job.contentType.clear();
    job.notAnImage = false;
    job.bodyLimit = dataType == icString ? m_maxPageSize : m_maxBodySize;
    job.body = QByteArray();
    job.responseChecked = job.discardBody = false;
    job.discarded = 0;
    job.resolveShown = job.connectShown = job.headerShown = job.deferredClose = false;
    job.curlCode = CURLE_OK;
    job.httpStatus = 0;
    job.abort = Abort::None;
    job.detail.clear();
    job.errorBuffer[0] = '\0';

    CURL *easy = job.easy;
    // libcurl keeps its own copy of the address.
    curl_easy_setopt(easy, CURLOPT_URL, requestAddress(url).constData());
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, long(m_timeoutSeconds));
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, m_timeoutSeconds > 0 ? 1L : 0L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, long(m_timeoutSeconds));
    curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(job.bodyLimit));
    const QByteArray refererBytes = referer.toUtf8();
    curl_easy_setopt(easy, CURLOPT_REFERER,
                     refererBytes.isEmpty() ? nullptr : refererBytes.constData());
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, job.image ? m_imageHeaders : nullptr);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, userAgentFor(url).constData());

    job.active = true;
    if (curl_multi_add_handle(m_multi, easy) != CURLM_OK) {
        job.active = false;
        finish(job, CURLE_FAILED_INIT);
    }
}

void CurlTransfer::abort(Job &job, Abort reason)
{
    if (job.retryPending) {
        // Waiting to be tried again: only the wait is given up.
        job.retryPending = false;
        ++job.retryGeneration;
        job.abort = reason;
        finish(job, CURLE_ABORTED_BY_CALLBACK);
        return;
    }
    if (!job.active)
        return;
    job.abort = reason;
    // Ends the unfinished transfer; its connection is closed and reported as such.
    curl_multi_remove_handle(m_multi, job.easy);
    job.active = false;
    finish(job, CURLE_ABORTED_BY_CALLBACK);
}

void CurlTransfer::finish(Job &job, int curlCode)
{
    job.curlCode = curlCode;
    curl_easy_getinfo(job.easy, CURLINFO_RESPONSE_CODE, &job.httpStatus);
    if (curlCode == CURLE_FILESIZE_EXCEEDED)
        job.abort = Abort::TooLarge;
    if (job.abort == Abort::None && retryLater(job))
        return;
    const char *finalUrl = nullptr;
    curl_easy_getinfo(job.easy, CURLINFO_EFFECTIVE_URL, &finalUrl);
    job.finalUrl = finalUrl ? QString::fromUtf8(finalUrl) : job.url;
    const char *contentType = nullptr;
    curl_easy_getinfo(job.easy, CURLINFO_CONTENT_TYPE, &contentType);
    job.contentType = QByteArray(contentType);
    // No web page is ever saved as a picture: a login or "not found" page served as a success
    // fails like a 404.
    job.notAnImage = job.image && job.abort == Abort::None && curlCode == CURLE_OK &&
                     isBodyStatus(job.httpStatus) &&
                     pagetext::isTextInsteadOfImage(job.contentType, job.body);
    if (job.notAnImage)
        job.body = QByteArray();
    job.detail = QString::fromUtf8(job.errorBuffer);
    if (job.detail.isEmpty())
        job.detail = QString::fromUtf8(curl_easy_strerror(CURLcode(curlCode)));
    if (curlCode == CURLE_OK && job.abort == Abort::None)
        job.push({icResponseReceived});
    job.flushDeferredClose();
    job.done = true;
    if (job.ticket != 0) {
        // Nobody waits for the end state of a side-by-side transfer before it is reported.
        job.push({job.succeeded() ? icResponseCompleted : icError});
        if (job.waiting && job.waiting->loop)
            job.waiting->loop->quit();
    }
}

void CurlTransfer::collectFinished()
{
    int left = 0;
    while (CURLMsg *message = curl_multi_info_read(m_multi, &left)) {
        if (message->msg != CURLMSG_DONE)
            continue;
        CURL *easy = message->easy_handle;
        const CURLcode code = message->data.result;
        Job *job = nullptr;
        curl_easy_getinfo(easy, CURLINFO_PRIVATE, &job);
        curl_multi_remove_handle(m_multi, easy);
        job->active = false;
        finish(*job, code);
    }
}

// Emits the collected states in order, then the final state of the waiting OpenURL once its
// transfer has ended. Returns false when a receiver destroyed the service meanwhile.
bool CurlTransfer::deliverStates()
{
    // A receiver that runs an event loop of its own, or cancels, brings us back here; the outer
    // call goes on with the queue, which keeps the states in order.
    if (m_draining)
        return true;
    m_draining = true;
    const QPointer<CurlTransfer> alive(this);
    for (;;) {
        if (!m_pendingStates.empty()) {
            const std::vector<PendingState> batch = std::exchange(m_pendingStates, {});
            for (const PendingState &pending : batch) {
                if (pending.ticket == 0) {
                    emit StateChanged(pending.state);
                } else if (m_stateHandler) {
                    const auto handler = m_stateHandler; // it may replace itself
                    handler(pending.ticket, pending.state);
                }
                if (!alive)
                    return false;
            }
            continue;
        }
        if (m_wait && m_serial->done && !m_wait->finalSent) {
            m_wait->finalSent = true;
            const bool ok = m_serial->succeeded() && !m_wait->cancelled;
            emit StateChanged(ok ? icResponseCompleted : icError);
            if (!alive)
                return false;
            if (m_wait && m_wait->loop)
                m_wait->loop->quit();
            continue;
        }
        break;
    }
    m_draining = false;
    return true;
}

void CurlTransfer::afterAction()
{
    collectFinished();
    deliverStates();
}

void CurlTransfer::socketActivity(int socket, int flags)
{
    int running = 0;
    curl_multi_socket_action(m_multi, socket, flags, &running);
    afterAction();
}

void CurlTransfer::timerExpired()
{
    int running = 0;
    curl_multi_socket_action(m_multi, CURL_SOCKET_TIMEOUT, 0, &running);
    afterAction();
}

void CurlTransfer::watchSocket(int socket, int what)
{
    std::unique_ptr<SocketWatch> &watch = m_sockets[socket];
    if (!watch)
        watch = std::make_unique<SocketWatch>();
    const auto want = [&](std::unique_ptr<QSocketNotifier> &notifier, QSocketNotifier::Type type,
                          bool wanted, int flags) {
        if (notifier) {
            notifier->setEnabled(wanted);
        } else if (wanted) {
            notifier = std::make_unique<QSocketNotifier>(socket, type);
            connect(notifier.get(), &QSocketNotifier::activated, this,
                    [this, socket, flags] { socketActivity(socket, flags); });
        }
    };
    want(watch->read, QSocketNotifier::Read, what & CURL_POLL_IN, CURL_CSELECT_IN);
    want(watch->write, QSocketNotifier::Write, what & CURL_POLL_OUT, CURL_CSELECT_OUT);
}

void CurlTransfer::unwatchSocket(int socket)
{
    m_sockets.erase(socket);
}

void CurlTransfer::setTimer(long ms)
{
    if (ms < 0)
        m_timer.stop();
    else
        m_timer.start(int(qMin<long>(ms, 24L * 3600 * 1000)));
}

void CurlTransfer::socketClosed(int socket)
{
    // Only a connection that carried a request is reported as disconnected: a socket that lost
    // the race between addresses or never connected is not a connection the user saw.
    unwatchSocket(socket);
    const int port = localPortOf(socket);
    ::close(socket);
    const auto carrier = m_requestPorts.find(port);
    if (carrier == m_requestPorts.end())
        return;
    Job *job = carrier->second;
    m_requestPorts.erase(carrier);
    job->connectionClosed();
}

void CurlTransfer::runSerial(const QString &url, qint32 dataType, const QString &referer)
{
    if (m_wait)
        throw TransferError(
            QStringLiteral("another transfer is under way; %1 was not fetched").arg(url));
    if (dataType != icString && dataType != icByteArray)
        throw TransferError(QStringLiteral("unknown data type %1 for %2").arg(dataType).arg(url));
    start();

    Wait wait;
    m_wait = &wait;
    const auto closed = [&url] {
        return TransferError(
            QStringLiteral("the transfer service was closed while fetching %1").arg(url));
    };
    Job &job = *m_serial;
    begin(job, url, dataType, 0, referer);
    if (!deliverStates())
        throw closed();
    if (!wait.finalSent) {
        QEventLoop loop;
        wait.loop = &loop;
        loop.exec();
        if (wait.destroyed)
            throw closed();
        wait.loop = nullptr;
        if (!wait.finalSent) {
            // The loop was left before the transfer ended (the application is quitting).
            wait.cancelled = true;
            abort(job, Abort::Cancelled);
            if (!deliverStates())
                throw closed();
        }
    }
    m_wait = nullptr;

    if (wait.cancelled)
        throw TransferError(QStringLiteral("transfer of %1 cancelled").arg(url));
    if (!job.succeeded())
        throw TransferError(job.failureMessage());
}

QVariant CurlTransfer::OpenURL(const QString &url, qint32 dataType)
{
    if (dataType != icString && dataType != icByteArray)
        throw TransferError(QStringLiteral("unknown data type %1 for %2").arg(dataType).arg(url));
    if (dataType == icByteArray)
        return QVariant(fetchImage(url));
    return QVariant(fetchPage(url).text);
}

PageReply CurlTransfer::fetchPage(const QString &url, const QString &referer)
{
    runSerial(url, icString, referer);
    Job &job = *m_serial;
    const QByteArray body = std::exchange(job.body, QByteArray());
    return {pagetext::decode(body, job.contentType), job.finalUrl};
}

QByteArray CurlTransfer::fetchImage(const QString &url, const QString &referer)
{
    runSerial(url, icByteArray, referer);
    return std::exchange(m_serial->body, QByteArray());
}

void CurlTransfer::Cancel()
{
    if (!m_wait)
        return;
    m_wait->cancelled = true;
    abort(*m_serial, Abort::Cancelled);
    deliverStates();
}

int CurlTransfer::startBytes(const QString &url, const QString &referer)
{
    start();
    Job *job = nullptr;
    for (const auto &candidate : m_jobs) {
        if (candidate.get() != m_serial && !candidate->assigned) {
            job = candidate.get();
            break;
        }
    }
    if (!job) {
        job = newJob();
        // Wait for a connection that may turn out to take several streams (HTTP/2) rather than
        // open another one at once.
        curl_easy_setopt(job->easy, CURLOPT_PIPEWAIT, 1L);
        // Keep a connection for every easy handle (and more), so none is closed between images.
        curl_multi_setopt(m_multi, CURLMOPT_MAXCONNECTS, long(qMax<size_t>(8, m_jobs.size() + 1)));
    }
    if (++m_lastTicket <= 0)
        m_lastTicket = 1;
    job->assigned = true;
    m_tickets[m_lastTicket] = job;
    begin(*job, url, icByteArray, m_lastTicket, referer);
    return m_lastTicket;
}

QByteArray CurlTransfer::finishBytes(int ticket)
{
    const auto found = m_tickets.find(ticket);
    if (found == m_tickets.end())
        throw TransferError(QStringLiteral("no transfer %1 is under way").arg(ticket));
    Job &job = *found->second;
    const QString url = job.url;
    const auto closed = [&url] {
        return TransferError(
            QStringLiteral("the transfer service was closed while fetching %1").arg(url));
    };
    if (!job.done) {
        Wait wait;
        job.waiting = &wait;
        QEventLoop loop;
        wait.loop = &loop;
        loop.exec();
        if (wait.destroyed)
            throw closed();
        // A receiver of its states may have cancelled it meanwhile (its handle may even carry
        // another transfer by now).
        if (!m_tickets.count(ticket))
            throw TransferError(QStringLiteral("transfer of %1 cancelled").arg(url));
        job.waiting = nullptr;
        if (!job.done) {
            // The loop was left before the transfer ended (the application is quitting).
            abort(job, Abort::Cancelled);
            if (!deliverStates())
                throw closed();
        }
    }
    m_tickets.erase(ticket);
    job.assigned = false;
    if (!job.succeeded())
        throw TransferError(job.failureMessage());
    return std::exchange(job.body, QByteArray());
}

void CurlTransfer::cancelBytes(int ticket)
{
    const auto found = m_tickets.find(ticket);
    if (found == m_tickets.end())
        return;
    Job &job = *found->second;
    m_tickets.erase(found);
    abort(job, Abort::Cancelled);
    job.body = QByteArray();
    job.assigned = false;
    job.waiting = nullptr; // a finishBytes waiting for it has been woken by its end
    deliverStates();
}

void CurlTransfer::setStateHandler(std::function<void(int ticket, qint16 state)> handler)
{
    m_stateHandler = std::move(handler);
}

bool CurlTransfer::retryLater(Job &job)
{
    if (job.retriesLeft <= 0 || !isPassingFailure(job.curlCode, job.httpStatus))
        return false;
    curl_off_t retryAfter = 0;
    curl_easy_getinfo(job.easy, CURLINFO_RETRY_AFTER, &retryAfter);
    const long delay = retryAfter > 0 ? long(qMin<curl_off_t>(retryAfter * 1000, kMaxRetryDelayMs))
                                      : qMin(1000L << qMin(job.retriesMade, 6), kMaxRetryDelayMs);
    --job.retriesLeft;
    ++job.retriesMade;
    job.retryPending = true;
    const quint64 generation = ++job.retryGeneration;
    Job *const waiting = &job;
    QTimer::singleShot(int(delay), this, [this, waiting, generation] {
        if (waiting->retryPending && waiting->retryGeneration == generation)
            retry(*waiting);
    });
    return true;
}

void CurlTransfer::retry(Job &job)
{
    job.retryPending = false;
    // The next try is a request of its own: its states start over.
    job.flushDeferredClose();
    job.resolveShown = job.connectShown = job.headerShown = false;
    job.body = QByteArray();
    job.responseChecked = job.discardBody = false;
    job.discarded = 0;
    job.curlCode = CURLE_OK;
    job.httpStatus = 0;
    job.errorBuffer[0] = '\0';
    job.active = true;
    if (curl_multi_add_handle(m_multi, job.easy) != CURLM_OK) {
        job.active = false;
        finish(job, CURLE_FAILED_INIT);
    }
    deliverStates();
}

QByteArray CurlTransfer::userAgentFor(const QString &url) const
{
    if (!m_userAgent.isEmpty())
        return m_userAgent;
    if (!m_browserUserAgent.isEmpty() && !m_browserCookies.isEmpty()) {
        const QString trimmed = url.trimmed();
        const QUrl parsed(trimmed.contains(u"://") ? trimmed : QStringLiteral("http://") + trimmed);
        const QString host = parsed.host().toLower();
        for (const BrowserCookie &cookie : m_browserCookies) {
            if (cookieDomainMatches(cookie.domain, host))
                return m_browserUserAgent;
        }
    }
    return QByteArray(kDefaultUserAgent);
}

void CurlTransfer::setRetries(int retries)
{
    m_retries = qMax(0, retries);
}

void CurlTransfer::setUserAgent(const QString &userAgent)
{
    m_userAgent = userAgent.toUtf8();
}

void CurlTransfer::addCookies(const QList<QByteArray> &netscapeLines)
{
    start();
    for (const QByteArray &line : netscapeLines)
        curl_easy_setopt(m_serial->easy, CURLOPT_COOKIELIST, line.constData());
}

qsizetype CurlTransfer::forgetBrowserCookie(const BrowserCookie &cookie)
{
    return m_browserCookies.removeIf([&cookie](const BrowserCookie &held) {
        return held.name == cookie.name && held.domain == cookie.domain && held.path == cookie.path;
    });
}

void CurlTransfer::browserCookieAdded(const BrowserCookie &cookie)
{
    // The line replaces a cookie of the same name, domain and path in libcurl's jar too.
    forgetBrowserCookie(cookie);
    m_browserCookies.append(cookie);
    addCookies({netscapeLine(cookie, cookie.expires)});
}

void CurlTransfer::browserCookieRemoved(const BrowserCookie &cookie)
{
    if (forgetBrowserCookie(cookie) > 0)
        addCookies({netscapeLine(cookie, 1)});
}

void CurlTransfer::setBrowserUserAgent(const QString &userAgent)
{
    m_browserUserAgent = userAgent.toUtf8();
}
