// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include "platform/urltransfer.h"

#include <optional>

// What a reply must be to count as the body that was asked for, which failures are worth
// another try and after how long, and the text that says why a transfer failed: the one place
// where the service's reply rules live.
namespace curlreply {

// Why the service itself ended a transfer, when it did.
enum class Abort { None, Cancelled, TooLarge, ConflictingLength };

// Whether a final reply of this status carries the body that was asked for: the 2xx codes HTTP
// defines, other than 204 No Content, 205 Reset Content and 206 Partial Content (no range is
// ever asked for, so a part is not the whole image). Anything else (a 304, a redirect that
// could not be followed, an unassigned code such as 299) fails like a 404.
bool isBodyStatus(long status);

// Failures that another try may not meet: the connection refused, reset or timed out, the
// server said nothing, or asked to be tried later (408, 429, 5xx).
bool isPassingFailure(int curlCode, long status);

// Whether a request on a kept connection failed because the server had closed it meanwhile:
// it failed before any byte of the reply, on no connection of its own.
bool isStaleConnection(int curlCode, long connects, bool replyBegun);

// How long to wait before try number `retry` (1 for the first try again): the server's
// Retry-After when it gave one, else 1 s, 2 s, 4 s...; at most 60 s either way.
long retryDelayMs(long retryAfterSeconds, int retry);

// What the body of a reply to a request for an image is, when it is not a picture: "empty",
// "HTML", "JSON", "text" or "data of no known kind"; nothing when it is one. A picture begins
// with the signature of a known image format (JPEG, PNG, GIF, WebP, AVIF/HEIF, BMP, TIFF,
// JPEG XL, ICO), or is SVG: XML whose root element is svg. Only a picture may replace a file.
std::optional<QString> notAnImage(QByteArrayView body);

// Why an address that is not http or https is not fetched.
QString unsupportedAddress(const QString &url);

// One ended transfer, as far as its failure text needs it.
struct Ended {
    QString url;
    int curlCode = 0;
    long httpStatus = 0;
    Abort abort = Abort::None;
    QString notAnImage; // what came instead of a picture, empty when a picture came
    qint64 bodyLimit = 0;
    QByteArray contentType;
    QString detail; // libcurl's own words
    // The tries made when a passing failure could not be tried again within the whole-time
    // limit; 0 otherwise.
    int outOfTimeAfterTries = 0;
};

// Whether the transfer gave the body that was asked for.
bool succeeded(const Ended &ended);
// Why it did not: the message names its address, and the facts say which failure it was.
TransferError failure(const Ended &ended);

} // namespace curlreply
