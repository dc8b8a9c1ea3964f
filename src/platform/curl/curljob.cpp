// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/curl/curljob.h"

#include "platform/pagetext.h"
#include "platform/urltransfer.h"

#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>
#include <optional>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using State = UrlTransfer::State;

// Bodies of error responses are read and dropped, so that the connection stays usable for the
// next transfer; a longer one is not worth waiting for and ends the connection instead.
constexpr qint64 kMaxErrorBody = 64 * 1024;
constexpr long kMaxRedirects = 10;
// Longest wait before a transfer is tried again, also when the server asks for a longer one.
constexpr long kMaxRetryDelayMs = 60 * 1000;

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
// defines, other than 204 No Content, 205 Reset Content and 206 Partial Content (no range is
// ever asked for, so a part is not the whole image). Anything else (a 304, a redirect
// that could not be followed, an unassigned code such as 299) fails like a 404.
bool isBodyStatus(long status)
{
    return status >= 200 && status <= 226 && status != 204 && status != 205 && status != 206;
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

// Trampolines with libcurl's exact callback types.
int resolverStart(void *, void *, void *job)
{
    static_cast<CurlJob *>(job)->resolverStarting();
    return 0;
}

curl_socket_t openSocket(void *job, curlsocktype purpose, curl_sockaddr *address)
{
    if (purpose != CURLSOCKTYPE_IPCXN)
        return CURL_SOCKET_BAD;
    const int socket =
        ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    static_cast<CurlJob *>(job)->socketOpened();
    return socket < 0 ? CURL_SOCKET_BAD : socket;
}

int closeSocket(void *connections, curl_socket_t socket)
{
    static_cast<CurlConnections *>(connections)->close(socket);
    return 0;
}

int prereq(void *job, char *, char *, int, int localPort)
{
    static_cast<CurlJob *>(job)->requestStarting(localPort);
    return CURL_PREREQFUNC_OK;
}

size_t headerLine(char *data, size_t size, size_t count, void *job)
{
    return static_cast<CurlJob *>(job)->headerReceived(data, size * count) ? size * count : 0;
}

// The value of a header line, when the line is of that header.
std::optional<QByteArrayView> headerValue(QByteArrayView line, QByteArrayView name)
{
    if (line.size() <= name.size() || line.at(name.size()) != ':' ||
        line.first(name.size()).compare(name, Qt::CaseInsensitive) != 0)
        return std::nullopt;
    return line.sliced(name.size() + 1).trimmed();
}

size_t writeBody(char *data, size_t size, size_t count, void *job)
{
    return static_cast<CurlJob *>(job)->bodyReceived(data, size * count) ? size * count : 0;
}

} // namespace

void CurlConnections::close(int socket)
{
    // Only a connection that carried a request is reported as disconnected: a socket that lost
    // the race between addresses or never connected is not a connection the user saw.
    const int port = localPortOf(socket);
    ::close(socket);
    const auto carrier = m_carriers.find(port);
    if (carrier == m_carriers.end())
        return;
    CurlJob *job = carrier->second;
    m_carriers.erase(carrier);
    job->connectionClosed();
}

CurlJob::CurlJob(void *share, curl_slist *imageHeaders, CurlConnections &connections,
                 std::function<void(CurlJob &, qint16)> report)
    : m_connections(connections), m_imageHeaders(imageHeaders), m_report(std::move(report))
{
    m_easy = curl_easy_init();
    if (!m_easy)
        throw TransferError(QStringLiteral("cannot create a libcurl handle"));
    CURL *easy = m_easy;
    curl_easy_setopt(easy, CURLOPT_PRIVATE, this);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, m_errorBuffer);
    curl_easy_setopt(easy, CURLOPT_DEFAULT_PROTOCOL, "http");
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects);
    // Cookies live in memory only (an empty file name starts the engine without reading one).
    curl_easy_setopt(easy, CURLOPT_SHARE, share);
    curl_easy_setopt(easy, CURLOPT_COOKIEFILE, "");
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, 64L * 1024);
    // Bodies compressed with an encoding this libcurl knows (gzip, deflate, br...) are asked for
    // and decoded, so one sent compressed unasked is saved as the server meant it too.
    curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
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
    // its own instead of waiting for it, so a cancel takes effect at once.
    curl_easy_setopt(easy, CURLOPT_QUICK_EXIT, 1L);
    // A proxy's answer to CONNECT is not the response: keep it out of the response states.
    curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);

    curl_easy_setopt(easy, CURLOPT_RESOLVER_START_FUNCTION, &resolverStart);
    curl_easy_setopt(easy, CURLOPT_RESOLVER_START_DATA, this);
    curl_easy_setopt(easy, CURLOPT_OPENSOCKETFUNCTION, &openSocket);
    curl_easy_setopt(easy, CURLOPT_OPENSOCKETDATA, this);
    curl_easy_setopt(easy, CURLOPT_CLOSESOCKETFUNCTION, &closeSocket);
    curl_easy_setopt(easy, CURLOPT_CLOSESOCKETDATA, &m_connections);
    curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &prereq);
    curl_easy_setopt(easy, CURLOPT_PREREQDATA, this);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &headerLine);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &writeBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
}

CurlJob::~CurlJob()
{
    curl_easy_cleanup(m_easy);
}

CurlJob *CurlJob::of(void *easy)
{
    CurlJob *job = nullptr;
    curl_easy_getinfo(easy, CURLINFO_PRIVATE, &job);
    return job;
}

void CurlJob::prepare(const QString &url, const CurlRequest &request)
{
    m_url = url;
    m_request = request;
    done = false;
    retryPending = false;
    ++generation;
    m_retriesLeft = request.retries;
    m_retriesMade = 0;
    m_finalUrl.clear();
    m_contentType.clear();
    m_notAnImage = false;
    m_abort = Abort::None;
    m_detail.clear();
    m_deferredClose = false;
    m_freshConnection = false;
    resetReply();
    curl_easy_setopt(m_easy, CURLOPT_FRESH_CONNECT, 0L);

    CURL *easy = m_easy;
    // libcurl keeps its own copies of the strings.
    curl_easy_setopt(easy, CURLOPT_URL, request.address.constData());
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, long(request.timeoutSeconds));
    curl_easy_setopt(easy, CURLOPT_TIMEOUT, long(request.maxTimeSeconds));
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, request.timeoutSeconds > 0 ? 1L : 0L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, long(request.timeoutSeconds));
    curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(request.bodyLimit));
    curl_easy_setopt(easy, CURLOPT_REFERER,
                     request.referer.isEmpty() ? nullptr : request.referer.constData());
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, request.image ? m_imageHeaders : nullptr);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, request.userAgent.constData());
}

void CurlJob::prepareRetry()
{
    retryPending = false;
    m_immediateRetry = false;
    flushDeferredClose();
    resetReply();
    curl_easy_setopt(m_easy, CURLOPT_FRESH_CONNECT, m_freshConnection ? 1L : 0L);
}

void CurlJob::resetReply()
{
    m_resolveShown = m_connectShown = m_headerShown = false;
    m_body = QByteArray();
    m_responseChecked = m_discardBody = false;
    m_discarded = 0;
    m_curlCode = CURLE_OK;
    m_httpStatus = 0;
    m_declaredLength = -1;
    m_errorBuffer[0] = '\0';
}

bool CurlJob::end(int curlCode, Abort reason)
{
    if (reason != Abort::None)
        m_abort = reason;
    m_curlCode = curlCode;
    curl_easy_getinfo(m_easy, CURLINFO_RESPONSE_CODE, &m_httpStatus);
    if (curlCode == CURLE_FILESIZE_EXCEEDED)
        m_abort = Abort::TooLarge;
    // A kept connection the server closed meanwhile fails before any byte of the reply arrives.
    // libcurl tries such a request again on its own only a few times in the life of a handle,
    // and handles live for the whole harvest: this transfer is tried once more, at once, on a
    // connection of its own. It costs none of the retries asked for.
    long connects = 0;
    curl_easy_getinfo(m_easy, CURLINFO_NUM_CONNECTS, &connects);
    if (m_abort == Abort::None && !m_freshConnection && !m_headerShown && connects == 0 &&
        (curlCode == CURLE_SEND_ERROR || curlCode == CURLE_RECV_ERROR ||
         curlCode == CURLE_GOT_NOTHING)) {
        m_freshConnection = true;
        retryPending = true;
        ++generation;
        m_immediateRetry = true;
        return false;
    }
    m_immediateRetry = false;
    if (m_abort == Abort::None && m_retriesLeft > 0 && isPassingFailure(curlCode, m_httpStatus)) {
        --m_retriesLeft;
        ++m_retriesMade;
        retryPending = true;
        ++generation;
        return false;
    }
    const char *finalUrl = nullptr;
    curl_easy_getinfo(m_easy, CURLINFO_EFFECTIVE_URL, &finalUrl);
    m_finalUrl = finalUrl ? QString::fromUtf8(finalUrl) : m_url;
    const char *contentType = nullptr;
    curl_easy_getinfo(m_easy, CURLINFO_CONTENT_TYPE, &contentType);
    m_contentType = QByteArray(contentType);
    // No web page is ever saved as a picture: a login or "not found" page served as a success
    // fails like a 404.
    m_notAnImage = m_request.image && m_abort == Abort::None && curlCode == CURLE_OK &&
                   isBodyStatus(m_httpStatus) &&
                   pagetext::isTextInsteadOfImage(m_contentType, m_body);
    if (m_notAnImage)
        m_body = QByteArray();
    m_detail = QString::fromUtf8(m_errorBuffer);
    if (m_detail.isEmpty())
        m_detail = QString::fromUtf8(curl_easy_strerror(CURLcode(curlCode)));
    done = true;
    return true;
}

void CurlJob::reportEnd()
{
    if (m_curlCode == CURLE_OK && m_abort == Abort::None)
        push({State::icResponseReceived});
    flushDeferredClose();
    push({succeeded() ? State::icResponseCompleted : State::icError});
}

long CurlJob::retryDelayMs() const
{
    if (m_immediateRetry)
        return 0;
    curl_off_t retryAfter = 0;
    curl_easy_getinfo(m_easy, CURLINFO_RETRY_AFTER, &retryAfter);
    if (retryAfter > 0)
        return long(qMin<curl_off_t>(retryAfter * 1000, kMaxRetryDelayMs));
    return qMin(1000L << qMin(m_retriesMade - 1, 6), kMaxRetryDelayMs);
}

bool CurlJob::succeeded() const
{
    return done && m_abort == Abort::None && m_curlCode == CURLE_OK && isBodyStatus(m_httpStatus) &&
           !m_notAnImage;
}

QString CurlJob::failureMessage() const
{
    if (m_abort == Abort::Cancelled)
        return QStringLiteral("transfer of %1 cancelled").arg(m_url);
    if (m_httpStatus >= 400 || (m_curlCode == CURLE_OK && !isBodyStatus(m_httpStatus)))
        return QStringLiteral("%1 answered with HTTP status %2")
            .arg(m_url, QString::number(m_httpStatus));
    if (m_abort == Abort::ConflictingLength)
        return QStringLiteral("%1 answered with a Content-Length that is not one number")
            .arg(m_url);
    if (m_abort == Abort::TooLarge)
        return QStringLiteral("the body of %1 is larger than %2 bytes")
            .arg(m_url, QString::number(m_request.bodyLimit));
    if (m_notAnImage)
        return QStringLiteral("%1 answered with a web page or text (%2), not an image")
            .arg(m_url, m_contentType.isEmpty() ? QStringLiteral("no type")
                                                : QString::fromLatin1(m_contentType));

    QString what;
    switch (m_curlCode) {
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
        what = isTlsFailure(m_curlCode) ? QStringLiteral("secure connection to %1 failed")
                                        : QStringLiteral("transfer of %1 failed");
        break;
    }
    return what.arg(m_url) + QStringLiteral(": ") + m_detail;
}

void CurlJob::push(std::initializer_list<qint16> states)
{
    for (const qint16 state : states)
        m_report(*this, state);
}

void CurlJob::flushDeferredClose()
{
    if (std::exchange(m_deferredClose, false))
        push({State::icDisconnecting, State::icDisconnected});
}

// A transfer can take several requests (redirects, a retry on a fresh connection). Once a
// response has begun, the next connection or request starts the states over.
void CurlJob::beginHop()
{
    if (!m_headerShown)
        return;
    flushDeferredClose();
    m_resolveShown = m_connectShown = m_headerShown = false;
}

void CurlJob::resolverStarting()
{
    if (!active)
        return;
    beginHop();
    if (!std::exchange(m_resolveShown, true))
        push({State::icResolvingHost});
}

void CurlJob::socketOpened()
{
    if (!active)
        return;
    beginHop();
    // Several sockets may be tried for one connection (IPv6 and IPv4); report it once.
    // A host name found in libcurl's cache was resolved all the same.
    if (std::exchange(m_connectShown, true))
        return;
    if (!std::exchange(m_resolveShown, true))
        push({State::icResolvingHost});
    push({State::icHostResolved, State::icConnecting});
}

void CurlJob::connectionClosed()
{
    if (!active)
        return;
    if (m_headerShown) {
        // The response has arrived or is arriving: report the end of its body first.
        m_deferredClose = true;
    } else {
        push({State::icDisconnecting, State::icDisconnected});
        m_resolveShown = m_connectShown = false;
    }
}

void CurlJob::requestStarting(int localPort)
{
    m_connections.carried(localPort, this);
    if (!active)
        return;
    beginHop();
    push({State::icConnected, State::icRequesting});
}

bool CurlJob::headerReceived(const char *data, size_t size)
{
    if (!std::exchange(m_headerShown, true))
        push({State::icRequestSent, State::icReceivingResponse});
    const QByteArrayView line(data, qsizetype(size));
    if (line.startsWith("HTTP/")) {
        // A new response (after a redirect or an interim 1xx): its body starts afresh.
        m_responseChecked = false;
        m_discardBody = false;
        m_discarded = 0;
        m_declaredLength = -1;
        m_body.clear();
    } else if (const auto value = headerValue(line, "Content-Length")) {
        // Two lengths that differ, in two headers or in a list, leave no telling where the body
        // ends: whatever came would be saved cut short or run on.
        for (const QByteArray &item : value->toByteArray().split(',')) {
            bool number = false;
            const qint64 length = item.trimmed().toLongLong(&number);
            if (!number || length < 0 || (m_declaredLength >= 0 && length != m_declaredLength)) {
                m_abort = Abort::ConflictingLength;
                return false;
            }
            m_declaredLength = length;
        }
    }
    return true;
}

bool CurlJob::bodyReceived(const char *data, size_t size)
{
    if (!std::exchange(m_responseChecked, true)) {
        curl_easy_getinfo(m_easy, CURLINFO_RESPONSE_CODE, &m_httpStatus);
        m_discardBody = !isBodyStatus(m_httpStatus);
        curl_off_t length = -1;
        curl_easy_getinfo(m_easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        // libcurl refuses a declared length over the limit before any byte arrives.
        if (!m_discardBody && length > 0)
            m_body.reserve(qsizetype(length));
    }
    if (m_discardBody) {
        m_discarded += qint64(size);
        return m_discarded <= kMaxErrorBody;
    }
    // Without a declared length only the bytes themselves tell.
    if (qint64(m_body.size()) + qint64(size) > m_request.bodyLimit) {
        m_abort = Abort::TooLarge;
        return false;
    }
    m_body.append(data, qsizetype(size));
    return true;
}
