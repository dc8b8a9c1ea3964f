// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/refererpolicy.h"

#include <QString>
#include <QStringView>
#include <QUrl>

// How a typed page address and the image references found in its page become the addresses
// that are fetched, the Referer sent with them and the names of the files that are written.

// The 1-based position of the last "/" at or after the 1-based position start, or 0 when there
// is none. Also 0 when the text is not longer than start, so a "/" standing in the very last
// position is found only by a search that starts before it.
qsizetype lastSlashPosition(QStringView text, qsizetype start);

// value with its character references decoded as a browser decodes them in an attribute value:
// numeric ones ("&#47;", "&#x2F;", with or without the ";") and the named ones of HTML
// ("&amp;", "&eacute;"). The old names that HTML reads without their ";" ("&amp", "&copy") are
// decoded so only when no "=", letter or digit follows. A numeric reference to 0, a surrogate or
// a code point beyond U+10FFFF gives U+FFFD, and one to 0x80-0x9F the Windows-1252 character
// of that byte. Anything else that starts with "&" stays as written.
QString decodeCharacterReferences(QStringView value);
QString decodeCharacterReferences(const QString &value);

// The value of the href attribute of the page's first <base> element that has one (outside
// comments), with its character references decoded, or a null string when there is none.
QString firstBaseHref(QStringView page);

// What references are resolved against: the first <base href> of the page, itself resolved
// against the page's address, or the page's address when the page has none.
QUrl referenceBase(const QUrl &page, QStringView pageText);

// A reference as the page wrote it, from the scanner's reference and its position in the page:
// the slashes the scanner skipped right before it are put back (so "/a.jpg" is root-relative
// and "//host/a.jpg" protocol-relative), and an opening single quote, which delimits the
// attribute and is no part of the address, is taken away.
QString writtenReference(QStringView page, const QString &ref, qsizetype position);

// The address a written reference is fetched from, resolved against base as browsers do
// (RFC 3986: a scheme in any letter case, dot segments removed).
QUrl resolveReference(const QUrl &base, const QString &written);

// text with the password of every address in it written as "***" ("user:***@host"), so that
// messages can be shown and logged without giving the password away.
QString hidePasswords(const QString &text);

// The name an image is saved under: the part of the reference, its character references
// decoded, after its last "/" (the whole reference when it holds none), percent-decoded when
// that gives valid UTF-8 without "/", "\" or control characters, as written otherwise.
QString imageFileName(const QString &ref);
