// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// Turns a fetched page into text. The character set is taken from, in this order: the charset
// parameter of the Content-Type header, a byte-order mark, a <meta> charset declaration in the
// first 4 KiB, UTF-8 when the bytes are valid UTF-8 (and not seven-bit ISO-2022 with escapes) or
// nearly so (valid multi-byte sequences outnumber the stray bytes, which become U+FFFD, 8 to 1),
// the charset ICU's detector finds when it is sure of it, then among UTF-8, CP932, EUC-JP and
// ISO-2022-JP the one that reads the whole body without an invalid byte and gives the most
// Japanese characters, and CP932 otherwise. A charset name
// that is unknown, or that would not keep ASCII bytes as they are, is passed over for the next
// rule. A file read from disk is decoded with an empty contentType, as a page served without a
// charset.
namespace pagetext {

// The largest page that is read: a page is decoded and scanned as a whole, which costs several
// times its size.
constexpr qint64 kMaxPageSize = qint64(64) * 1024 * 1024;

QString decode(const QByteArray &body, QByteArrayView contentType);

// The charset parameter of a Content-Type value, or an empty array when there is none.
QByteArray charsetFromContentType(QByteArrayView contentType);

// The charset named by a <meta charset> or <meta http-equiv content="...charset=..."> that
// starts within the first 4 KiB of html, or an empty array when there is none.
QByteArray charsetFromMeta(QByteArrayView html);

} // namespace pagetext
