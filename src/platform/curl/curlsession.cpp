// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/curl/curlsession.h"

#include "platform/curl/curlcheck.h"

#include <curl/curl.h>

namespace {

const char kDefaultUserAgent[] = "Harvix/" HARVIX_VERSION;

// Whether a cookie set for domain goes with a request to host.
bool cookieDomainMatches(const QByteArray &domain, const QString &host)
{
    const QString name = QString::fromLatin1(domain).toLower();
    if (name.startsWith(u'.'))
        return host == QStringView(name).sliced(1) || host.endsWith(name);
    return host == name;
}

} // namespace

CurlSession::~CurlSession()
{
    if (m_cookies)
        curl_easy_cleanup(m_cookies);
    if (m_share)
        curl_share_cleanup(m_share);
}

void *CurlSession::share()
{
    if (m_share)
        return m_share;
    static const CURLcode init = curl_global_init(CURL_GLOBAL_DEFAULT);
    checkCurl(init, "initialise");
    CURLSH *share = curl_share_init();
    if (!share)
        throw TransferError(QStringLiteral("cannot create a libcurl handle"));
    // Every easy handle runs on this thread, so the engine needs no lock.
    const CURLSHcode shared = curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
    if (shared != CURLSHE_OK) {
        curl_share_cleanup(share);
        checkCurl(shared, "share cookies");
    }
    m_share = share;
    return m_share;
}

void CurlSession::addCookies(const QList<QByteArray> &netscapeLines)
{
    if (!m_cookies) {
        CURL *easy = curl_easy_init();
        if (!easy)
            throw TransferError(QStringLiteral("cannot create a libcurl handle"));
        const CURLcode set = curl_easy_setopt(easy, CURLOPT_SHARE, share());
        if (set != CURLE_OK) {
            curl_easy_cleanup(easy);
            checkCurl(set, "share cookies");
        }
        m_cookies = easy;
    }
    for (const QByteArray &line : netscapeLines)
        setCurlOption(m_cookies, CURLOPT_COOKIELIST, line.constData(), "take a cookie");
}

QByteArray CurlSession::userAgentFor(const QString &host) const
{
    if (!m_userAgent.isEmpty())
        return m_userAgent;
    if (!m_browserUserAgent.isEmpty()) {
        for (const BrowserCookie &cookie : m_browserCookies) {
            if (cookieDomainMatches(cookie.domain, host))
                return m_browserUserAgent;
        }
    }
    return QByteArray(kDefaultUserAgent);
}

qsizetype CurlSession::forgetBrowserCookie(const BrowserCookie &cookie)
{
    return m_browserCookies.removeIf([&cookie](const BrowserCookie &held) {
        return held.name == cookie.name && held.domain == cookie.domain && held.path == cookie.path;
    });
}

void CurlSession::browserCookieAdded(const BrowserCookie &cookie)
{
    // The line replaces a cookie of the same name, domain and path in libcurl's jar too.
    forgetBrowserCookie(cookie);
    m_browserCookies.append(cookie);
    takeBrowserCookie(netscapeLine(cookie, cookie.expires));
}

void CurlSession::browserCookieRemoved(const BrowserCookie &cookie)
{
    if (forgetBrowserCookie(cookie) > 0)
        takeBrowserCookie(netscapeLine(cookie, 1));
}

void CurlSession::takeBrowserCookie(const QByteArray &line)
{
    // Called from the browser's cookie store: a cookie libcurl cannot take is left out, and the
    // harvest goes without it as it would without the browser.
    try {
        addCookies({line});
    } catch (const TransferError &) {
    }
}

void CurlSession::setBrowserUserAgent(const QString &userAgent)
{
    m_browserUserAgent = userAgent.toUtf8();
}
