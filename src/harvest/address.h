// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringView>

// How a typed page address and the image references found in its page become the addresses
// that are fetched and the names of the files that are written.

// The 1-based position of the last "/" at or after the 1-based position start, or 0 when there
// is none. Also 0 when the text is not longer than start, so a "/" standing in the very last
// position is found only by a search that starts before it.
qsizetype lastSlashPosition(QStringView text, qsizetype start);

// The base address that relative references are joined to: the typed address up to and
// including its last "/" from the 8th character on (the first after "http://"), or the whole
// address followed by "/" when there is none there. An address starting with "https://" is
// searched from its 9th character, so "https://host" gives "https://host/" and not "https://".
// Nothing is trimmed and no scheme is added.
QString splitBaseAddress(const QString &typed);

// The address an image is fetched from: the reference itself when it starts with "http://" or
// "https://" (in lower case; "HTTP://x" counts as relative), otherwise base followed by it.
QString imageAddress(const QString &base, const QString &ref);

// The name an image is saved under: the part of the reference after its last "/" (the whole
// reference when it holds none).
QString imageFileName(const QString &ref);
