// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

// One cookie of the simple browser's web engine.
struct BrowserCookie {
    QByteArray domain; // ".example.org" for a domain cookie, "example.org" for a host-only one
    QByteArray path;
    QByteArray name;
    QByteArray value;
    bool secure = false;
    bool httpOnly = false;
    qint64 expires = 0; // seconds since the epoch; 0 for a session cookie
};

// A cookie as a line of a Netscape cookies.txt file, which libcurl's cookie list takes, with the
// expiry given (seconds since the epoch; 0 for a session cookie, one in the past removes the
// cookie of the same name, domain and path).
QByteArray netscapeLine(const BrowserCookie &cookie, qint64 expires);

// Receives what the simple browser's web engine knows of the user's sessions, so that a
// harvest of a page the user logged in to is fetched as the browser fetches it.
class BrowserSession {
public:
    virtual ~BrowserSession() = default;

    // A cookie was set (or replaced) in the browser, or it was removed.
    virtual void browserCookieAdded(const BrowserCookie &cookie) = 0;
    virtual void browserCookieRemoved(const BrowserCookie &cookie) = 0;
    // The User-Agent the browser sends.
    virtual void setBrowserUserAgent(const QString &userAgent) = 0;
};
