// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/browsersession.h"

#include <QByteArray>
#include <QList>
#include <QString>

// What every transfer of one service shares with the others: libcurl's cookie engine (in
// memory, for the life of the session), the cookies of the simple browser put into it, and the
// User-Agent a request goes with: the one set by setUserAgent, else the browser's for a host the
// browser holds cookies for, else "Harvix/<version>".
//
// libcurl is set up by the first use, not by the constructor, so creating a session costs
// nothing at program start.
class CurlSession : public BrowserSession {
public:
    CurlSession() = default;
    ~CurlSession() override;
    CurlSession(const CurlSession &) = delete;
    CurlSession &operator=(const CurlSession &) = delete;

    // The cookie engine every easy handle of the service is given (a CURLSH *).
    void *share();
    // Puts cookies into the cookie engine: lines of a Netscape cookies.txt file.
    void addCookies(const QList<QByteArray> &netscapeLines);
    // Sent as User-Agent with every request instead of the default and the browser's. Empty
    // for the default.
    void setUserAgent(const QString &userAgent) { m_userAgent = userAgent.toUtf8(); }
    QByteArray userAgentFor(const QString &host) const;

    // BrowserSession
    void browserCookieAdded(const BrowserCookie &cookie) override;
    void browserCookieRemoved(const BrowserCookie &cookie) override;
    void setBrowserUserAgent(const QString &userAgent) override;

private:
    // Drops a cookie of the browser's from the list of those held; how many were dropped.
    qsizetype forgetBrowserCookie(const BrowserCookie &cookie);
    void takeBrowserCookie(const QByteArray &line);

    void *m_share = nullptr;   // CURLSH *
    void *m_cookies = nullptr; // the CURL * that puts cookies into the engine
    QByteArray m_userAgent;
    QByteArray m_browserUserAgent;
    QList<BrowserCookie> m_browserCookies;
};
