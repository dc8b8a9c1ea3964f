// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/curl/curljob.h"

#include "platform/curl/curlcheck.h"
#include "platform/refererpolicy.h"
#include "platform/urltransfer.h"

#include <QUrl>

#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>
#include <optional>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Bodies of error responses are read and dropped, so that the connection stays usable for the
// next transfer; a longer one is not worth waiting for and ends the connection instead.
constexpr qint64 kMaxErrorBody = 64 * 1024;

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

int prereq(void *job, char *remoteIp, char *localIp, int remotePort, int localPort)
{
    static_cast<CurlJob *>(job)->requestStarting(
        {std::string(localIp), localPort, std::string(remoteIp), remotePort});
    return CURL_PREREQFUNC_OK;
}

// An end of a connection as libcurl names it: the address as text, and the port.
bool endOf(const sockaddr_storage &address, std::string *ip, int *port)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET) {
        const auto *in = reinterpret_cast<const sockaddr_in *>(&address);
        *port = ntohs(in->sin_port);
        return ::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text) && (*ip = text, true);
    }
    if (address.ss_family == AF_INET6) {
        const auto *in6 = reinterpret_cast<const sockaddr_in6 *>(&address);
        *port = ntohs(in6->sin6_port);
        return ::inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text) && (*ip = text, true);
    }
    return false;
}

// Both ends of a connected socket.
std::optional<CurlConnections::Ends> endsOf(int socket)
{
    sockaddr_storage local{}, remote{};
    socklen_t localLength = sizeof local, remoteLength = sizeof remote;
    if (::getsockname(socket, reinterpret_cast<sockaddr *>(&local), &localLength) != 0 ||
        ::getpeername(socket, reinterpret_cast<sockaddr *>(&remote), &remoteLength) != 0)
        return std::nullopt;
    CurlConnections::Ends ends;
    if (!endOf(local, &std::get<0>(ends), &std::get<1>(ends)) ||
        !endOf(remote, &std::get<2>(ends), &std::get<3>(ends)))
        return std::nullopt;
    return ends;
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
    return static_cast<CurlJob *>(job)->bodyReceived(data, size * count);
}

} // namespace

void CurlConnections::close(curl_socket_t socket)
{
    // Only a connection that carried a request is reported as disconnected: a socket that lost
    // the race between addresses or never connected is not a connection the user saw.
    const std::optional<Ends> ends = endsOf(socket);
    ::close(socket);
    if (!ends)
        return;
    const auto carrier = m_carriers.find(*ends);
    if (carrier == m_carriers.end())
        return;
    CurlJob *job = carrier->second;
    m_carriers.erase(carrier);
    job->connectionClosed();
}

CurlJob::CurlJob(void *share, curl_slist *imageHeaders, CurlConnections &connections,
                 BodyBudget &budget, std::function<void(CurlJob &, qint16)> report,
                 std::function<void(CurlJob &)> retryDue)
    : m_connections(connections), m_imageHeaders(imageHeaders), m_budget(budget),
      m_states([this, report = std::move(report)](qint16 state) { report(*this, state); }),
      m_retryDue(std::move(retryDue))
{
    m_retryTimer.setSingleShot(true);
    QObject::connect(&m_retryTimer, &QTimer::timeout, &m_retryTimer, [this] {
        m_phase = Phase::Running;
        m_states.flushDeferredClose();
        resetReply();
        curl_easy_setopt(m_easy, CURLOPT_FRESH_CONNECT, m_freshConnection ? 1L : 0L);
        // The whole-time limit counts from the first try: this one has what is left of it.
        if (m_request.maxTimeSeconds > 0)
            curl_easy_setopt(m_easy, CURLOPT_TIMEOUT_MS,
                             long(qMax<qint64>(1, m_request.maxTimeSeconds * 1000LL -
                                                      m_sinceFirstTry.elapsed())));
        m_retryDue(*this);
    });
    m_easy = curl_easy_init();
    if (!m_easy)
        throw TransferError(QStringLiteral("cannot create a libcurl handle"));
    try {
        CURL *easy = m_easy;
        const auto set = [easy](CURLoption option, auto value) {
            setCurlOption(easy, option, value, "set up a transfer");
        };
        set(CURLOPT_PRIVATE, this);
        set(CURLOPT_NOSIGNAL, 1L);
        set(CURLOPT_ERRORBUFFER, m_errorBuffer);
        set(CURLOPT_DEFAULT_PROTOCOL, "http");
        set(CURLOPT_PROTOCOLS_STR, "http,https");
        // Redirects are followed here (followRedirect), each with the Referer its own target
        // may have.
        set(CURLOPT_FOLLOWLOCATION, 0L);
        // Cookies live in memory only (an empty file name starts the engine without reading
        // one).
        set(CURLOPT_SHARE, share);
        set(CURLOPT_COOKIEFILE, "");
        set(CURLOPT_BUFFERSIZE, 64L * 1024);
        // Bodies compressed with an encoding libcurl knows (gzip, deflate, br, zstd) are asked
        // for, and decoded here (bodyReceived), so that one cut short inside its stream fails
        // instead of passing for whole; one sent compressed unasked is decoded too.
        set(CURLOPT_ACCEPT_ENCODING, "");
        set(CURLOPT_HTTP_CONTENT_DECODING, 0L);
        // Like curl: CURL_CA_BUNDLE, else SSL_CERT_FILE, names a file of certificates to trust
        // instead of the system's.
        for (const char *variable : {"CURL_CA_BUNDLE", "SSL_CERT_FILE"}) {
            const QByteArray file = qgetenv(variable);
            if (!file.isEmpty()) {
                set(CURLOPT_CAINFO, file.constData());
                break;
            }
        }
        // Cancelling a transfer that is still resolving leaves libcurl's resolver thread to end
        // on its own instead of waiting for it, so a cancel takes effect at once.
        set(CURLOPT_QUICK_EXIT, 1L);
        // A proxy's answer to CONNECT is not the response: keep it out of the response states.
        set(CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);

        set(CURLOPT_RESOLVER_START_FUNCTION, &resolverStart);
        set(CURLOPT_RESOLVER_START_DATA, this);
        set(CURLOPT_OPENSOCKETFUNCTION, &openSocket);
        set(CURLOPT_OPENSOCKETDATA, this);
        set(CURLOPT_CLOSESOCKETFUNCTION, &closeSocket);
        set(CURLOPT_CLOSESOCKETDATA, &m_connections);
        set(CURLOPT_PREREQFUNCTION, &prereq);
        set(CURLOPT_PREREQDATA, this);
        set(CURLOPT_HEADERFUNCTION, &headerLine);
        set(CURLOPT_HEADERDATA, this);
        set(CURLOPT_WRITEFUNCTION, &writeBody);
        set(CURLOPT_WRITEDATA, this);
    } catch (...) {
        curl_easy_cleanup(m_easy);
        throw;
    }
}

CurlJob::~CurlJob()
{
    curl_easy_cleanup(m_easy);
    dropBody();
}

void CurlJob::countBody()
{
    const qint64 now = m_body.capacity();
    m_budget.held += now - m_counted;
    m_counted = now;
}

void CurlJob::dropBody()
{
    m_body = QByteArray();
    countBody();
    if (std::exchange(m_paused, false))
        std::erase(m_budget.paused, this);
}

QByteArray CurlJob::takeBody()
{
    QByteArray body = std::exchange(m_body, QByteArray());
    countBody();
    return body;
}

void CurlJob::setAwaited()
{
    m_awaited = true;
}

bool CurlJob::resumeIfRoom()
{
    if (!m_paused)
        return true;
    if (!m_awaited && m_budget.held + m_pausedFor > m_budget.limit)
        return false;
    m_paused = false;
    std::erase(m_budget.paused, this);
    // libcurl may hand the bytes it kept over from inside this call; they are counted then.
    curl_easy_pause(m_easy, CURLPAUSE_CONT);
    return true;
}

CurlJob *CurlJob::of(void *easy)
{
    CurlJob *job = nullptr;
    curl_easy_getinfo(easy, CURLINFO_PRIVATE, &job);
    return job;
}

void CurlJob::start(int ticket, const QString &url, const CurlRequest &request)
{
    m_retryTimer.stop();
    m_ticket = ticket;
    m_held = true;
    m_awaited = false;
    m_url = url;
    m_request = request;
    m_retriesLeft = request.retries;
    m_retriesMade = 0;
    m_sinceFirstTry.start();
    m_ended = curlreply::Ended{};
    m_ended.url = url;
    m_ended.bodyLimit = request.bodyLimit;
    m_finalUrl.clear();
    m_contentType.clear();
    m_freshConnection = false;
    m_redirects = 0;
    m_states.reset();
    resetReply();

    CURL *easy = m_easy;
    const auto set = [easy](CURLoption option, auto value) {
        setCurlOption(easy, option, value, "set up a transfer");
    };
    set(CURLOPT_FRESH_CONNECT, 0L);
    // libcurl keeps its own copies of the strings.
    set(CURLOPT_URL, request.address.request.constData());
    set(CURLOPT_CONNECTTIMEOUT, long(request.timeoutSeconds));
    set(CURLOPT_TIMEOUT_MS, long(request.maxTimeSeconds) * 1000L);
    set(CURLOPT_LOW_SPEED_LIMIT, request.timeoutSeconds > 0 ? 1L : 0L);
    set(CURLOPT_LOW_SPEED_TIME, long(request.timeoutSeconds));
    set(CURLOPT_MAXFILESIZE_LARGE, curl_off_t(request.bodyLimit));
    m_hopReferer = request.referer;
    set(CURLOPT_REFERER, m_hopReferer.isEmpty() ? nullptr : m_hopReferer.constData());
    set(CURLOPT_HTTPHEADER, request.image ? m_imageHeaders : nullptr);
    set(CURLOPT_USERAGENT, request.userAgent.constData());
    m_phase = Phase::Running;
}

void CurlJob::resetReply()
{
    m_states.reset();
    dropBody();
    m_responseChecked = m_discardBody = false;
    m_discarded = 0;
    m_declaredLength = -1;
    m_contentEncoding.clear();
    m_decoder.begin({});
    m_decodeError.clear();
    m_rawTaken = m_decodedWaiting = 0;
    m_errorBuffer[0] = '\0';
}

void CurlJob::waitToRetry(long delayMs)
{
    m_phase = Phase::WaitingToRetry;
    m_retryDelayMs = delayMs;
    m_retryTimer.start(int(delayMs));
}

bool CurlJob::end(int curlCode, Abort reason)
{
    // Given up while waiting for its next try: the last try's outcome ends it, for that reason.
    m_retryTimer.stop();
    if (reason != Abort::None)
        m_ended.abort = reason;
    // A body whose compressed stream is corrupt, or ended before the stream did, fails as
    // libcurl fails a corrupt one.
    if (curlCode == CURLE_WRITE_ERROR && !m_decodeError.isEmpty()) {
        curlCode = CURLE_BAD_CONTENT_ENCODING;
    } else if (curlCode == CURLE_OK && reason == Abort::None && !m_discardBody &&
               m_decoder.hadInput() && !m_decoder.ended()) {
        m_decodeError = m_decoder.cutShort();
        curlCode = CURLE_BAD_CONTENT_ENCODING;
    }
    m_ended.curlCode = curlCode;
    m_ended.httpStatus = 0;
    curl_easy_getinfo(m_easy, CURLINFO_RESPONSE_CODE, &m_ended.httpStatus);
    if (curlCode == CURLE_FILESIZE_EXCEEDED)
        m_ended.abort = Abort::TooLarge;
    const bool stopped = m_ended.abort != Abort::None;
    // A kept connection the server closed meanwhile fails before any byte of the reply arrives.
    // libcurl tries such a request again on its own only a few times in the life of a handle,
    // and handles live for the whole harvest: this transfer is tried once more, at once, on a
    // connection of its own. It costs none of the retries asked for.
    long connects = 0;
    curl_easy_getinfo(m_easy, CURLINFO_NUM_CONNECTS, &connects);
    if (!stopped && !m_freshConnection &&
        curlreply::isStaleConnection(curlCode, connects, m_states.replyBegun())) {
        m_freshConnection = true;
        waitToRetry(0);
        return false;
    }
    if (!stopped && m_retriesLeft > 0 &&
        curlreply::isPassingFailure(curlCode, m_ended.httpStatus)) {
        curl_off_t retryAfter = 0;
        curl_easy_getinfo(m_easy, CURLINFO_RETRY_AFTER, &retryAfter);
        const long delay = curlreply::retryDelayMs(long(retryAfter), m_retriesMade + 1);
        // No try starts that would begin past the whole-time limit.
        if (m_request.maxTimeSeconds > 0 &&
            m_sinceFirstTry.elapsed() + delay >= m_request.maxTimeSeconds * 1000LL) {
            m_ended.outOfTimeAfterTries = m_retriesMade + 1;
        } else {
            --m_retriesLeft;
            ++m_retriesMade;
            waitToRetry(delay);
            return false;
        }
    }
    if (!stopped && curlCode == CURLE_OK) {
        const int hop = followRedirect();
        if (hop == CURLE_OK)
            return false;
        if (hop != -1)
            m_ended.curlCode = curlCode = hop;
    }
    const char *finalUrl = nullptr;
    curl_easy_getinfo(m_easy, CURLINFO_EFFECTIVE_URL, &finalUrl);
    m_finalUrl = finalUrl ? QString::fromUtf8(finalUrl) : m_url;
    const char *contentType = nullptr;
    curl_easy_getinfo(m_easy, CURLINFO_CONTENT_TYPE, &contentType);
    m_contentType = QByteArray(contentType);
    m_ended.contentType = m_contentType;
    // No web page is ever saved as a picture: a login or "not found" page served as a success
    // fails like a 404.
    if (m_request.image && !stopped && curlCode == CURLE_OK &&
        curlreply::isBodyStatus(m_ended.httpStatus)) {
        if (const auto instead = curlreply::notAnImage(m_body)) {
            m_ended.notAnImage = *instead;
            m_body = QByteArray();
        }
    }
    m_ended.detail = m_decodeError.isEmpty() ? QString::fromUtf8(m_errorBuffer) : m_decodeError;
    if (m_ended.detail.isEmpty())
        m_ended.detail = QString::fromUtf8(curl_easy_strerror(CURLcode(curlCode)));
    m_phase = Phase::Done;
    // A body that is not handed over gives its room back at once.
    if (!succeeded())
        dropBody();
    m_states.ended(curlCode == CURLE_OK && !stopped, succeeded());
    return true;
}

int CurlJob::followRedirect()
{
    const long status = m_ended.httpStatus;
    if (status != 301 && status != 302 && status != 303 && status != 307 && status != 308)
        return -1;
    const char *target = nullptr;
    curl_easy_getinfo(m_easy, CURLINFO_REDIRECT_URL, &target);
    if (!target)
        return -1; // no Location: the 3xx is the final reply
    if (m_redirects >= transferdefaults::kMaxRedirects)
        return CURLE_TOO_MANY_REDIRECTS;
    const QUrl next = QUrl::fromEncoded(QByteArray(target));
    if (next.scheme() != u"http" && next.scheme() != u"https")
        return CURLE_UNSUPPORTED_PROTOCOL;
    // The Referer the request before this one carried stands for the page: each hop gets what
    // the policy allows from it for its own target, so a hop to another host gets the origin
    // only, and a hop from https to http gets nothing.
    m_hopReferer = m_hopReferer.isEmpty()
                       ? QByteArray()
                       : refererFor(QUrl::fromEncoded(m_hopReferer), next).toUtf8();
    // libcurl copies both strings.
    if (curl_easy_setopt(m_easy, CURLOPT_URL, target) != CURLE_OK ||
        curl_easy_setopt(m_easy, CURLOPT_REFERER,
                         m_hopReferer.isEmpty() ? nullptr : m_hopReferer.constData()) != CURLE_OK)
        return CURLE_OUT_OF_MEMORY;
    ++m_redirects;
    m_freshConnection = false;
    waitToRetry(0);
    return CURLE_OK;
}

bool CurlJob::succeeded() const
{
    return m_phase == Phase::Done && curlreply::succeeded(m_ended);
}

TransferError CurlJob::failure() const
{
    return curlreply::failure(m_ended);
}

void CurlJob::resolverStarting()
{
    if (m_phase == Phase::Running)
        m_states.resolverStarting();
}

void CurlJob::socketOpened()
{
    if (m_phase == Phase::Running)
        m_states.socketOpened();
}

void CurlJob::connectionClosed()
{
    if (m_phase == Phase::Running)
        m_states.connectionClosed();
}

void CurlJob::requestStarting(const CurlConnections::Ends &ends)
{
    m_connections.carried(ends, this);
    if (m_phase == Phase::Running)
        m_states.requestStarting();
}

bool CurlJob::headerReceived(const char *data, size_t size)
{
    m_states.headerReceived();
    const QByteArrayView line(data, qsizetype(size));
    if (line.startsWith("HTTP/")) {
        // A new response (after a redirect or an interim 1xx): its body starts afresh.
        m_responseChecked = false;
        m_discardBody = false;
        m_discarded = 0;
        m_declaredLength = -1;
        m_contentEncoding.clear();
        m_body.clear();
        m_body.squeeze();
        countBody();
    } else if (const auto encoding = headerValue(line, "Content-Encoding")) {
        // Several headers are one list, in the order the encodings were applied.
        if (!m_contentEncoding.isEmpty())
            m_contentEncoding += ',';
        m_contentEncoding += *encoding;
    } else if (const auto value = headerValue(line, "Content-Length")) {
        // Two lengths that differ, in two headers or in a list, leave no telling where the body
        // ends: whatever came would be saved cut short or run on.
        for (const QByteArray &item : value->toByteArray().split(',')) {
            bool number = false;
            const qint64 length = item.trimmed().toLongLong(&number);
            if (!number || length < 0 || (m_declaredLength >= 0 && length != m_declaredLength)) {
                m_ended.abort = Abort::ConflictingLength;
                return false;
            }
            m_declaredLength = length;
        }
    }
    return true;
}

size_t CurlJob::bodyReceived(const char *data, size_t size)
{
    if (!std::exchange(m_responseChecked, true)) {
        long status = 0;
        curl_easy_getinfo(m_easy, CURLINFO_RESPONSE_CODE, &status);
        m_discardBody = !curlreply::isBodyStatus(status);
        if (!m_discardBody && !m_decoder.begin(m_contentEncoding)) {
            m_decodeError = m_decoder.error();
            return 0;
        }
        curl_off_t length = -1;
        curl_easy_getinfo(m_easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        // libcurl refuses a declared length over the limit before any byte arrives. The room
        // is taken at once where the budget has it; elsewhere the body grows as it comes. (A
        // compressed body's length is a first guess at its decoded size.)
        if (!m_discardBody && length > 0 &&
            (m_awaited || m_budget.held + qint64(length) <= m_budget.limit)) {
            m_body.reserve(qsizetype(length));
            countBody();
        }
    }
    if (m_discardBody) {
        m_discarded += qint64(size);
        return m_discarded <= kMaxErrorBody ? size : 0;
    }
    if (!m_decoder.active())
        return keep(data, size);

    // A compressed body is decoded a piece at a time, each piece kept like plain bytes. When
    // one makes the transfer pause, it waits decoded, and libcurl hands all of these bytes over
    // again: the part already decoded is skipped.
    constexpr qsizetype kPiece = 64 * 1024;
    QByteArrayView input(data, qsizetype(size));
    input = input.sliced(std::min(std::exchange(m_rawTaken, 0), input.size()));
    for (;;) {
        if (m_decodedWaiting > 0) {
            const size_t kept = keep(m_decoded.constData(), size_t(m_decodedWaiting));
            if (kept == CURL_WRITEFUNC_PAUSE) {
                m_rawTaken = qsizetype(size) - input.size();
                return CURL_WRITEFUNC_PAUSE;
            }
            if (kept == 0)
                return 0;
            m_decodedWaiting = 0;
        }
        if (m_decoded.size() < kPiece)
            m_decoded.resize(kPiece);
        const qsizetype before = input.size();
        const qsizetype made = m_decoder.decode(&input, m_decoded.data(), kPiece);
        if (made < 0) {
            m_decodeError = m_decoder.error();
            return 0;
        }
        // Done when the decoder gives nothing more: every byte is used and nothing of them is
        // held back in it (or it makes no progress).
        if (made == 0 && (input.isEmpty() || input.size() == before))
            return size;
        m_decodedWaiting = made;
    }
}

size_t CurlJob::keep(const char *data, size_t size)
{
    // Without a declared length only the bytes themselves tell.
    if (qint64(m_body.size()) + qint64(size) > m_request.bodyLimit) {
        m_ended.abort = Abort::TooLarge;
        return 0;
    }
    const bool grows = qint64(m_body.size()) + qint64(size) > qint64(m_body.capacity());
    if (grows && !m_awaited && m_budget.held + qint64(size) > m_budget.limit) {
        // libcurl keeps these bytes and hands them over again once the transfer goes on.
        if (!std::exchange(m_paused, true))
            m_budget.paused.push_back(this);
        m_pausedFor = qint64(size);
        return CURL_WRITEFUNC_PAUSE;
    }
    m_body.append(data, qsizetype(size));
    if (grows)
        countBody();
    return size;
}
