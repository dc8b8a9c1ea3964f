// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

// Finds the JPEG image references in a page's source text. This is a plain character scan, not
// an HTML parser: after every "SRC" (any letter case, also inside longer words) it takes the
// value that follows the next "=", drops leading blanks, double quotes and slashes, cuts the
// value at the first blank, control character, double quote or ">", and keeps it when it ends
// in ".JPG" and holds no "CGI" (both in any letter case). Values are kept as the page writes
// them, in page order, duplicates included.
//
// Returns the number of references accepted. When it is K > 0, imageRefs holds exactly those K
// references afterwards; when it is 0, imageRefs is left exactly as it was.
//
// Letter case is compared through a per-code-unit upper-case mapping, so every position in the
// page has exactly one upper-case twin ("ß" stays one unit instead of becoming "SS").
//
// When positions is given and references are accepted, it receives the 0-based index in the
// page of the first unit of each reference, so the harvest can see what stood before it.
qint32 ScanImageRefs(QStringView pageText, QStringList &imageRefs,
                     QList<qsizetype> *positions = nullptr);
qint32 ScanImageRefs(const QString &pageText, QStringList &imageRefs);

// The same scan with a chosen implementation of its inner searches, so that tests cover every
// one the processor can run; nullopt when it cannot run the one asked for. ScanImageRefs
// uses the widest available.
enum class ScanKernel { Scalar, Sse2, Avx2 };
std::optional<qint32> ScanImageRefsWith(ScanKernel kernel, QStringView pageText,
                                        QStringList &imageRefs);

// The upper-case twin of one UTF-16 code unit used by the scanner: the simple (one-to-one)
// Unicode mapping, the unit itself when that has none or would leave the 16-bit range.
char16_t scannerUpper(char16_t unit);
