// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/cookies/secretservice.h"

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

// The cookies of a browser profile, or why there are none.
struct BrowserCookiesResult {
    // Lines of a Netscape cookies.txt file (as readNetscapeCookies gives them and
    // CurlTransfer::addCookies takes them); nothing on failure.
    std::optional<QList<QByteArray>> lines;
    // Set when lines is not: the cause, in English, for the user.
    QString error;
};

// How the password a Chromium-based browser encrypts its "v11" cookies with is found: the
// keyring item's application attribute ("chromium", "chrome", "brave") in, the password out,
// or nothing with the reason in error. secretServicePassword asks the desktop keyring.
using KeyringLookup =
    std::function<std::optional<QByteArray>(const QString &application, QString &error)>;

// Reads the cookies a browser keeps on disk. source is BROWSER or BROWSER:PROFILE, BROWSER one
// of "firefox", "chromium", "chrome", "brave" (in any case), PROFILE a profile folder. Without
// PROFILE: Firefox's default profile named in home/.mozilla/firefox/profiles.ini, the "Default"
// folder of home/.config/chromium (google-chrome, BraveSoftware/Brave-Browser).
//
// Cookies that have expired by now (seconds since the epoch) are left out; session cookies are
// kept with an expiry of 0. Host, domain (a leading "." makes a cookie go to subdomains too),
// path and the secure and HttpOnly flags stay as the browser kept them. Cookies the browser
// keeps apart from its plain ones (Firefox's containers, partitioned third-party cookies) are
// left out, since they do not belong to a top-level visit of their site.
//
// The database is read from a private copy, so a browser that is running and holds it open
// does not stand in the way. keyring is asked only when a cookie is encrypted with the keyring's
// password, at most once.
BrowserCookiesResult readBrowserCookies(const QString &source,
                                        const QString &home = QDir::homePath(),
                                        qint64 now = QDateTime::currentSecsSinceEpoch(),
                                        const KeyringLookup &keyring = secretServicePassword);
