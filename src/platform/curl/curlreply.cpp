// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/curl/curlreply.h"

#include "platform/transferdefaults.h"

#include <curl/curl.h>

#include <QtGlobal>

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
    return at(0, "\xFF\xD8\xFF") || at(0, "\x89PNG\r\n\x1A\n") || at(0, "GIF87a") ||
           at(0, "GIF89a") || (at(0, "RIFF") && at(8, "WEBP")) || at(4, "ftypavi") ||
           at(4, "ftypmif1") || at(0, "BM");
}

// The media type of a Content-Type value, in lower case and without its parameters.
QByteArray mediaType(QByteArrayView contentType)
{
    const qsizetype semicolon = contentType.indexOf(';');
    return (semicolon < 0 ? contentType : contentType.first(semicolon))
        .trimmed()
        .toByteArray()
        .toLower();
}

bool isTextType(const QByteArray &media)
{
    return media.startsWith("text/") || media == "application/xhtml+xml" ||
           media == "application/xml" || media == "application/json" ||
           media == "application/javascript";
}

bool beginsWithMarkup(QByteArrayView body)
{
    QByteArrayView rest = body.first(qMin<qsizetype>(body.size(), 1024));
    if (rest.startsWith("\xEF\xBB\xBF"))
        rest = rest.sliced(3);
    rest = rest.trimmed();
    const QByteArray start = rest.first(qMin<qsizetype>(rest.size(), 16)).toByteArray().toLower();
    for (const char *tag :
         {"<!doctype", "<html", "<head", "<body", "<?xml", "<!--", "<script", "<title", "<meta"}) {
        if (start.startsWith(tag))
            return true;
    }
    return false;
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

bool isTextInsteadOfImage(QByteArrayView contentType, QByteArrayView body)
{
    if (beginsWithImageSignature(body))
        return false;
    const QByteArray media = mediaType(contentType);
    // A drawing is a picture even though it is written as markup.
    if (media.startsWith("image/svg"))
        return false;
    return isTextType(media) || beginsWithMarkup(body);
}

bool succeeded(const Ended &ended)
{
    return ended.abort == Abort::None && ended.curlCode == CURLE_OK &&
           isBodyStatus(ended.httpStatus) && !ended.notAnImage;
}

TransferError failure(const Ended &ended)
{
    using Kind = TransferError::Kind;
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
    if (ended.notAnImage)
        return fail(Kind::NotAnImage,
                    QStringLiteral("%1 answered with a web page or text (%2), not an image")
                        .arg(url, ended.contentType.isEmpty()
                                      ? QStringLiteral("no type")
                                      : QString::fromLatin1(ended.contentType)));

    Kind kind = Kind::Other;
    QString what;
    switch (ended.curlCode) {
    case CURLE_URL_MALFORMAT:
        kind = Kind::BadAddress;
        what = QStringLiteral("bad address %1");
        break;
    case CURLE_UNSUPPORTED_PROTOCOL:
        kind = Kind::UnsupportedAddress;
        what = QStringLiteral("unsupported address %1 (only http and https are fetched)");
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

} // namespace curlreply
