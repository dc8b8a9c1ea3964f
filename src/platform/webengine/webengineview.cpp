// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/webengine/webengineview.h"

#include "platform/browsersession.h"

#include <QCoreApplication>
#include <QNetworkCookie>
#include <QOpenGLContext>
#include <QUrl>
#include <QWebEngineCookieStore>
#include <QWebEngineProfile>
#include <QWebEngineView>

namespace {

// The view's own start page, shown for "Home" and for an empty address.
QUrl startPage()
{
    return QUrl(QStringLiteral("about:blank"));
}
BrowserCookie browserCookie(const QNetworkCookie &cookie)
{
    BrowserCookie out;
    out.domain = cookie.domain().toUtf8();
    out.path = cookie.path().toUtf8();
    out.name = cookie.name();
    out.value = cookie.value();
    out.secure = cookie.isSecure();
    out.httpOnly = cookie.isHttpOnly();
    out.expires = cookie.isSessionCookie() ? 0 : cookie.expirationDate().toSecsSinceEpoch();
    return out;
}

} // namespace

WebEngineView::WebEngineView(QWidget *parent) : m_view(new QWebEngineView(parent)) {}

WebEngineView::~WebEngineView()
{
    // The parent window may already have deleted the widget; QPointer knows.
    delete m_view.data();
}

QWidget *WebEngineView::widget()
{
    return m_view.data();
}

void WebEngineView::Navigate(const QString &address)
{
    if (!m_view)
        return;
    // The address arrives as typed; like any browser's address bar, the view reads a bare
    // host name or a local path the way a user means it. What cannot be read shows as the
    // engine's own error page.
    const QUrl url = address.isEmpty() ? startPage() : QUrl::fromUserInput(address);
    m_view->load(url.isValid() ? url : startPage());
}

void WebEngineView::GoBack()
{
    if (m_view)
        m_view->back();
}

void WebEngineView::GoForward()
{
    if (m_view)
        m_view->forward();
}

void WebEngineView::GoHome()
{
    if (m_view)
        m_view->load(startPage());
}

void WebEngineView::Stop()
{
    if (m_view)
        m_view->stop();
}

void WebEngineView::shareSession(BrowserSession &session)
{
    if (!m_view)
        return;
    QWebEngineProfile *profile = m_view->page()->profile();
    QWebEngineCookieStore *store = profile->cookieStore();
    // The connections end with the view; the cookies handed over stay with the session.
    QObject::connect(store, &QWebEngineCookieStore::cookieAdded, m_view.data(),
                     [&session](const QNetworkCookie &cookie) {
                         session.browserCookieAdded(browserCookie(cookie));
                     });
    QObject::connect(store, &QWebEngineCookieStore::cookieRemoved, m_view.data(),
                     [&session](const QNetworkCookie &cookie) {
                         session.browserCookieRemoved(browserCookie(cookie));
                     });
    session.setBrowserUserAgent(profile->httpUserAgent());
    // The cookies the engine holds already come in as added ones.
    store->loadAllCookies();
}

WebView *harvix_create_webview(QWidget *parent)
{
    // The engine draws through an OpenGL context shared with the application's: the host makes
    // it before loading this module (the program when its browser first opens; the tests by
    // setting Qt::AA_ShareOpenGLContexts). In any other host the window keeps its empty pane.
    if (!QOpenGLContext::globalShareContext())
        return nullptr;
    try {
        return new WebEngineView(parent);
    } catch (...) {
        return nullptr;
    }
}
