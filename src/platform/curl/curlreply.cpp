// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/curl/curlreply.h"

#include "platform/transferdefaults.h"

#include <curl/curl.h>

#include <QtGlobal>

#include <algorithm>

namespace curlreply {

namespace {

// Longest wait before a transfer is tried again, also when the server asks for a longer one.
constexpr long kMaxRetryDelayMs = 60 * 1000;

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

bool beginsWithImageSignature(QByteArrayView body)
{
    const auto at = [body](qsizetype offset, QByteArrayView bytes) {
        return body.size() >= offset + bytes.size() && body.sliced(offset, bytes.size()) == bytes;
    };
    // HEIF and AVIF: an ISO media file whose brand names a picture.
    const auto heif = [&] {
        if (!at(4, "ftyp") || body.size() < 12)
            return false;
        const QByteArrayView brand = body.sliced(8, 4);
        for (const char *picture : {"avif", "avis", "heic", "heix", "hevc", "hevx", "heim", "heis",
                                    "hevm", "hevs", "mif1", "msf1"}) {
            if (brand == QByteArrayView(picture))
                return true;
        }
        return false;
    };
    return at(0, "\xFF\xD8\xFF") || at(0, "\x89PNG\r\n\x1A\n") || at(0, "GIF87a") ||
           at(0, "GIF89a") || (at(0, "RIFF") && at(8, "WEBP")) || heif() || at(0, "BM") ||
           at(0, QByteArrayView("II*\0", 4)) || at(0, QByteArrayView("MM\0*", 4)) ||
           at(0, "\xFF\x0A") || at(0, QByteArrayView("\0\0\0\x0CJXL \r\n\x87\n", 12)) ||
           at(0, QByteArrayView("\0\0\x01\0", 4));
}

// The body without a UTF-8 byte-order mark and the white space before its first character.
QByteArrayView leading(QByteArrayView body)
{
    if (body.startsWith("\xEF\xBB\xBF"))
        body = body.sliced(3);
    qsizetype i = 0;
    while (i < body.size() && (body.at(i) == ' ' || body.at(i) == '\t' || body.at(i) == '\n' ||
                               body.at(i) == '\r' || body.at(i) == '\f'))
        ++i;
    return body.sliced(i);
}

// SVG: XML whose root element is svg, after any XML declaration, comments, processing
// instructions and document type declaration.
bool isSvg(QByteArrayView body)
{
    QByteArrayView rest = leading(body);
    for (int guard = 0; guard < 64 && rest.startsWith('<'); ++guard) {
        if (rest.startsWith("<svg") && rest.size() > 4 &&
            (rest.at(4) == '>' || rest.at(4) == ' ' || rest.at(4) == '\n' || rest.at(4) == '\r' ||
             rest.at(4) == '\t' || rest.at(4) == '/'))
            return true;
        const char *close = rest.startsWith("<!--") ? "-->"
                            : rest.startsWith("<?") ? "?>"
                                                    : nullptr;
        if (!close && !rest.startsWith("<!"))
            return false;
        const qsizetype end = close ? rest.indexOf(close) : rest.indexOf('>');
        if (end < 0)
            return false;
        rest = leading(rest.sliced(end + (close ? qsizetype(qstrlen(close)) : 1)));
    }
    return false;
}

// What a body that is no picture looks like.
QString kindOf(QByteArrayView body)
{
    if (body.isEmpty())
        return QStringLiteral("empty");
    // Text in UTF-16 is read by its first characters.
    const bool utf16 = body.startsWith("\xFF\xFE") || body.startsWith("\xFE\xFF");
    QByteArray narrow;
    if (utf16) {
        const qsizetype low = body.startsWith("\xFF\xFE") ? 0 : 1;
        for (qsizetype i = 2 + low; i < qMin<qsizetype>(body.size(), 4096); i += 2)
            narrow.append(body.at(i));
        body = narrow;
    }
    const QByteArrayView start = leading(body.first(qMin<qsizetype>(body.size(), 1 << 16)));
    if (start.startsWith('<'))
        return QStringLiteral("HTML");
    if (start.startsWith('{') || start.startsWith('['))
        return QStringLiteral("JSON");
    const QByteArrayView sample = body.first(qMin<qsizetype>(body.size(), 1024));
    const bool printable = std::all_of(sample.begin(), sample.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte >= 0x20 || byte == '\t' || byte == '\n' || byte == '\r' || byte == '\f';
    });
    return printable || utf16 ? QStringLiteral("text") : QStringLiteral("data of no known kind");
}

} // namespace

bool isBodyStatus(long status)
{
    return status >= 200 && status <= 226 && status != 204 && status != 205 && status != 206;
}

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

bool isStaleConnection(int curlCode, long connects, bool replyBegun)
{
    return !replyBegun && connects == 0 &&
           (curlCode == CURLE_SEND_ERROR || curlCode == CURLE_RECV_ERROR ||
            curlCode == CURLE_GOT_NOTHING);
}

long retryDelayMs(long retryAfterSeconds, int retry)
{
    if (retryAfterSeconds > 0)
        return qMin<long>(retryAfterSeconds, kMaxRetryDelayMs / 1000) * 1000;
    return qMin(1000L << qBound(0, retry - 1, 6), kMaxRetryDelayMs);
}

std::optional<QString> notAnImage(QByteArrayView body)
{
    if (beginsWithImageSignature(body) || isSvg(body))
        return std::nullopt;
    return kindOf(body);
}

bool succeeded(const Ended &ended)
{
    return ended.abort == Abort::None && ended.curlCode == CURLE_OK &&
           isBodyStatus(ended.httpStatus) && ended.notAnImage.isEmpty();
}

TransferError failure(const Ended &ended)
{
    using Kind = TransferError::Kind;
    if (ended.outOfTimeAfterTries > 0) {
        // The last try's failure, told as the time-out it ended in.
        Ended last = ended;
        last.outOfTimeAfterTries = 0;
        const TransferError inner = failure(last);
        TransferError::Facts facts = inner.facts();
        facts.kind = Kind::TimedOut;
        return TransferError(QStringLiteral("timed out fetching %1 after %2 tries, the last: ")
                                     .arg(ended.url, QString::number(ended.outOfTimeAfterTries)) +
                                 inner.message(),
                             facts);
    }
    const QString &url = ended.url;
    TransferError::Facts facts{Kind::Other, url, 0, {}, ended.detail};
    const auto fail = [&facts](Kind kind, const QString &message) {
        facts.kind = kind;
        return TransferError(message, facts);
    };
    if (ended.abort == Abort::Cancelled)
        return fail(Kind::Cancelled, QStringLiteral("transfer of %1 cancelled").arg(url));
    if (ended.httpStatus >= 400 ||
        (ended.curlCode == CURLE_OK && !isBodyStatus(ended.httpStatus))) {
        facts.httpStatus = ended.httpStatus;
        return fail(Kind::HttpStatus, QStringLiteral("%1 answered with HTTP status %2")
                                          .arg(url, QString::number(ended.httpStatus)));
    }
    if (ended.abort == Abort::ConflictingLength)
        return fail(
            Kind::Other,
            QStringLiteral("%1 answered with a Content-Length that is not one number").arg(url));
    if (ended.abort == Abort::TooLarge)
        return fail(Kind::TooLarge, QStringLiteral("the body of %1 is larger than %2 bytes")
                                        .arg(url, QString::number(ended.bodyLimit)));
    if (!ended.notAnImage.isEmpty())
        return fail(
            Kind::NotAnImage,
            QStringLiteral("%1 answered with what is not an image (%2, %3)")
                .arg(url, ended.notAnImage,
                     ended.contentType.isEmpty()
                         ? QStringLiteral("no type")
                         : QStringLiteral("typed ") + QString::fromLatin1(ended.contentType)));

    Kind kind = Kind::Other;
    QString what;
    switch (ended.curlCode) {
    case CURLE_URL_MALFORMAT:
        kind = Kind::BadAddress;
        what = QStringLiteral("bad address %1");
        break;
    case CURLE_UNSUPPORTED_PROTOCOL:
        kind = Kind::UnsupportedAddress;
        what = unsupportedAddress(QStringLiteral("%1"));
        break;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        kind = Kind::HostNotFound;
        what = QStringLiteral("cannot find the host of %1");
        break;
    case CURLE_COULDNT_CONNECT:
        kind = Kind::CannotConnect;
        what = QStringLiteral("cannot connect to %1");
        break;
    case CURLE_OPERATION_TIMEDOUT:
        // libcurl gives one code for every time limit; its low-speed check alone words its
        // failure this way (lib/speedcheck.c).
        kind = ended.detail.startsWith(QLatin1String("Operation too slow")) ? Kind::TooSlow
                                                                            : Kind::TimedOut;
        what = QStringLiteral("timed out fetching %1");
        break;
    case CURLE_TOO_MANY_REDIRECTS:
        kind = Kind::TooManyRedirects;
        what = QStringLiteral("more than ") + QString::number(transferdefaults::kMaxRedirects) +
               QStringLiteral(" redirects from %1");
        break;
    default:
        if (isTlsFailure(ended.curlCode)) {
            kind = Kind::Tls;
            what = QStringLiteral("secure connection to %1 failed");
        } else {
            what = QStringLiteral("transfer of %1 failed");
        }
        break;
    }
    return fail(kind, what.arg(url) + QStringLiteral(": ") + ended.detail);
}

QString unsupportedAddress(const QString &url)
{
    return QStringLiteral("unsupported address %1 (only http and https are fetched)").arg(url);
}

} // namespace curlreply
