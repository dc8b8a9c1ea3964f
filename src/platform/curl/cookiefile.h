// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// What a cookies file may hold at most: its bytes, its cookies, the bytes of one name or value.
inline constexpr qint64 kMaxCookieFileSize = 16 << 20;
inline constexpr qsizetype kMaxCookies = 10000;
inline constexpr qsizetype kMaxCookieFieldSize = 4096;

// Reads a Netscape cookies.txt file, the format curl -b and wget --load-cookies read: one
// cookie per line as seven fields separated by tabs (domain, whether subdomains match, path,
// whether only secure connections carry it, expiry in seconds since the epoch, name, value).
// Lines starting with "#HttpOnly_" are cookies too; other lines starting with "#" and empty
// lines are skipped. A file over the limits above, or a field holding a control character, is
// refused. Returns the cookie lines, or nothing with the first bad line described in error.
std::optional<QList<QByteArray>> readNetscapeCookies(const QByteArray &content, QString &error);
