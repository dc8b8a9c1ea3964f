// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

// The one place that converts between program strings and the Windows Japanese code page
// (CP932, a superset of Shift-JIS), used for Pswd.dat, Help.txt and dial-up records.
namespace codepage {

QString fromCp932(const QByteArray &bytes);
QByteArray toCp932(const QString &text);

// Whether text comes back unchanged from CP932. Characters CP932 lacks are replaced or dropped
// on the way, and a few are read back as their CP932 look-alike (U+301C as U+FF5E).
bool survivesCp932(const QString &text);

// Length in bytes of the CP932 character that starts with lead byte b (1 or 2).
int cp932CharLength(unsigned char b);

} // namespace codepage
