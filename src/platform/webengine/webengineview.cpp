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

#include <cstdio>
#include <memory>

#include <dlfcn.h>

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

namespace {

// Qt Gui's setter of the context that Qt::AA_ShareOpenGLContexts makes at start-up, as Qt
// WebEngine itself calls it when it is set up after the application object. It is not public
// API: it is looked up when the browser first opens, so that a Qt without it costs the browser,
// never the start of the program.
using SetShareContext = void (*)(QOpenGLContext *);
constexpr char setShareContextSymbol[] = "_Z30qt_gl_set_global_share_contextP14QOpenGLContext";

// The engine draws through an OpenGL context shared with the application's. Making it loads the
// OpenGL driver, which costs more than showing the main window itself, so it is made here, when
// the browser first opens, not at program start. Returns why it cannot be made, or nothing.
QString shareOpenGLContexts()
{
    if (QOpenGLContext::globalShareContext())
        return {};
    const auto setShareContext =
        reinterpret_cast<SetShareContext>(::dlsym(RTLD_DEFAULT, setShareContextSymbol));
    if (!setShareContext)
        return QStringLiteral("this Qt Gui has no qt_gl_set_global_share_context");
    // Lives as long as the process, like the one the application object would have made.
    auto context = std::make_unique<QOpenGLContext>();
    context->setFormat(QSurfaceFormat::defaultFormat());
    if (!context->create())
        return QStringLiteral("no OpenGL context can be created on this display");
    setShareContext(context.release());
    return {};
}

} // namespace

WebView *harvix_create_webview(QWidget *parent)
{
    // Without the shared context the engine cannot draw: the window keeps its empty pane, and
    // the user who started the program from a terminal learns why.
    if (const QString why = shareOpenGLContexts(); !why.isEmpty()) {
        std::fprintf(stderr, "harvix: the web browser pane stays empty: %s\n",
                     why.toLocal8Bit().constData());
        return nullptr;
    }
    try {
        return new WebEngineView(parent);
    } catch (...) {
        return nullptr;
    }
}
