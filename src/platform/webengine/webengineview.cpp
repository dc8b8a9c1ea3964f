// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/webengine/webengineview.h"

#include "platform/browsersession.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkCookie>
#include <QOpenGLContext>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QTimer>
#include <QUrl>
#include <QWebEngineCookieStore>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineUrlRequestInfo>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineView>

#include <cstdio>
#include <cstring>
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

// As many requests as the page keeps the ends of (its resource timing buffer).
constexpr qsizetype earlierLimit = 250;

// Tells of every request the page starts whose end its resource timing reports: not the page
// itself, its frames, its icon, pings, reports or sockets.
class RequestStarts : public QWebEngineUrlRequestInterceptor {
public:
    RequestStarts(QObject *parent, std::function<void(const QUrl &, const QUrl &)> started)
        : QWebEngineUrlRequestInterceptor(parent), m_started(std::move(started))
    {
    }
    void interceptRequest(QWebEngineUrlRequestInfo &info) override
    {
        switch (info.resourceType()) {
        case QWebEngineUrlRequestInfo::ResourceTypeMainFrame:
        case QWebEngineUrlRequestInfo::ResourceTypeSubFrame:
        case QWebEngineUrlRequestInfo::ResourceTypeFavicon:
        case QWebEngineUrlRequestInfo::ResourceTypePing:
        case QWebEngineUrlRequestInfo::ResourceTypeCspReport:
        case QWebEngineUrlRequestInfo::ResourceTypeNavigationPreloadMainFrame:
        case QWebEngineUrlRequestInfo::ResourceTypeNavigationPreloadSubFrame:
        case QWebEngineUrlRequestInfo::ResourceTypeWebSocket:
            return;
        default:
            break;
        }
        // On the page's thread, whichever thread the engine asks on.
        QMetaObject::invokeMethod(parent(),
                                  [started = m_started, url = info.requestUrl(),
                                   initiator = info.initiator()] { started(url, initiator); });
    }

private:
    std::function<void(const QUrl &, const QUrl &)> m_started;
};

} // namespace

WebEngineView::WebEngineView(QWidget *parent) : m_view(new QWebEngineView(parent))
{
    QObject::connect(m_view.data(), &QWebEngineView::loadStarted, m_view.data(), [this] {
        m_loading = true;
        m_earlier.clear();
        m_earlierOverflow = false;
    });
    QObject::connect(m_view.data(), &QWebEngineView::loadFinished, m_view.data(), [this](bool ok) {
        m_loading = false;
        m_loaded = ok;
    });
    QWebEnginePage *page = m_view->page();
    page->setUrlRequestInterceptor(new RequestStarts(
        page, [this](const QUrl &url, const QUrl &initiator) { requestStarted(url, initiator); }));
}

void WebEngineView::requestStarted(const QUrl &url, const QUrl &initiator)
{
    if (!m_view)
        return;
    // The document's resource timing tells the ends of its own requests only: those of a frame
    // or a worker from another origin are never seen to end, and are not counted.
    const QUrl document = m_view->page()->url();
    if (initiator.scheme() != document.scheme() || initiator.host() != document.host() ||
        initiator.port(-1) != document.port(-1))
        return;
    // Before a reading, the page's first starts are kept for it, as many as the page keeps ends.
    if (!m_reading) {
        if (m_earlier.size() < earlierLimit)
            m_earlier.append(url.toString(QUrl::FullyEncoded));
        else
            m_earlierOverflow = true;
        return;
    }
    // During a reading, handed to its script, which is in the page before the first of them.
    if (m_started.isEmpty()) {
        QTimer::singleShot(0, m_view.data(), [this] {
            QJsonArray urls;
            for (const QString &started : std::as_const(m_started))
                urls.append(started);
            m_started.clear();
            if (m_reading)
                m_view->page()->runJavaScript(
                    QStringLiteral("window.__harvixStarted && window.__harvixStarted(%1)")
                        .arg(
                            QString::fromUtf8(QJsonDocument(urls).toJson(QJsonDocument::Compact))));
        });
    }
    m_started.append(url.toString(QUrl::FullyEncoded));
}

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
    // Loading from now on, so that a page read meanwhile is the one asked for.
    m_loading = true;
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

// Scrolls the page to its end one viewport at a time. Each position is read once the page has
// rendered it, not after a time: the page as loaded after two animation frames, and every
// scroll is made inside a frame callback and followed by the next one, so the rendering update
// in between, where the page's intersection observers run, has seen it. The page scrolled back
// is read after two frames too. At the end, waits until no request is running and none has
// started or ended for QUIET ms since it got there, and goes on while that made the page grow
// (an infinite scroll appends its next batch); all within MAX_MS and MAX_STEPS. Then leaves the
// document's markup, address and base in window.__harvixRendered, which the view polls
// (runJavaScript does not wait for a promise). The view hands over the requests it sees start:
// those started before the reading as EARLIER, later ones through window.__harvixStarted; the
// page's resource timing reports their ends, and a failed element load ends its request too.
constexpr char renderScript[] = R"JS(
(function (maxMs, maxSteps, quietMs, earlier) {
  window.__harvixRendered = null;
  const begun = Date.now();
  const left = () => maxMs - (Date.now() - begun);
  const within = () => left() > 0;
  const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
  // A hidden page draws no frames: there a short timer stands in for one.
  const frame = () => new Promise((resolve) => {
    if (document.visibilityState === 'hidden')
      setTimeout(resolve, 50);
    else
      requestAnimationFrame(() => resolve());
  });
  const frameWithin = () => Promise.race([frame(), sleep(Math.max(0, left()))]);
  // The second frame callback comes after the first one's rendering update, where the page's
  // observers ran: the page has been rendered where it is now, however it got there.
  const rendered = () => frameWithin().then(frameWithin);
  const key = (url) => {
    try {
      const parsed = new URL(url, document.baseURI);
      parsed.hash = '';
      return parsed.href;
    } catch (e) {
      return String(url);
    }
  };
  // Requests by address: started ones count up, ended ones down (an end may come first).
  const running = new Map();
  let lastRequest = Date.now();
  const add = (url, by) => {
    const k = key(url);
    running.set(k, (running.get(k) || 0) + by);
  };
  const count = (url, by) => {
    add(url, by);
    lastRequest = Date.now();
  };
  window.__harvixStarted = (urls) => urls.forEach((url) => count(url, 1));
  try {
    new PerformanceObserver((list) => list.getEntries().forEach((e) => count(e.name, -1)))
        .observe({type: 'resource', buffered: false});
  } catch (e) {}
  // The requests started before the reading whose end the page has not recorded are running
  // still. The page keeps its first 250 ends; past those, the earlier ones are not known.
  const recorded = performance.getEntriesByType('resource');
  if (recorded.length < 250) {
    earlier.forEach((url) => add(url, 1));
    recorded.forEach((e) => add(e.name, -1));
  }
  window.addEventListener('error', (e) => {
    const url = e.target && (e.target.currentSrc || e.target.src || e.target.href);
    if (typeof url === 'string' && (running.get(key(url)) || 0) > 0)
      count(url, -1);
  }, true);
  const busy = () => {
    for (const n of running.values())
      if (n > 0)
        return true;
    return false;
  };
  // Quiet for quietMs since from, or since the last request if later. A start reaches the
  // script a moment after the page made it (the view hands it over), so the quiet is never
  // counted from before the page was last scrolled.
  const quiet = async (from) => {
    for (;;) {
      const still = quietMs - (Date.now() - Math.max(from, lastRequest));
      if (!within() || (still <= 0 && !busy()))
        return;
      await sleep(Math.max(1, Math.min(50, still > 0 ? still : 50, left())));
    }
  };
  const root = document.scrollingElement || document.documentElement;
  const x = window.scrollX, y = window.scrollY;
  (async () => {
    await rendered();
    let settled = false;
    for (let step = 0; step < maxSteps && within(); ++step) {
      // Scrolled inside a frame callback: this frame's rendering update sees the new position,
      // and the next frame callback comes after it.
      window.scrollBy(0, Math.max(1, window.innerHeight));
      await frameWithin();
      if (window.scrollY + window.innerHeight < root.scrollHeight - 1)
        continue;
      const height = root.scrollHeight;
      await quiet(Date.now());
      settled = root.scrollHeight === height;
      if (settled)
        break;
      await frameWithin();
    }
    if (!settled)
      await quiet(Date.now());
    window.scrollTo(x, y);
    await rendered();
    window.__harvixRendered =
        [document.documentElement.outerHTML, document.URL, document.baseURI];
  })();
})(%1, %2, %3, %4);
)JS";

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

void WebEngineView::renderPage(std::function<void(const std::optional<RenderedPage> &)> done,
                               const RenderLimits &limits)
{
    if (!m_view) {
        done(std::nullopt);
        return;
    }
    // The reading lives with the view: a view that goes takes it along, and done is not called.
    auto *reading = new QTimer(m_view.data());
    const QDeadlineTimer deadline(limits.maxMilliseconds + 10000);
    const auto finish = [this, reading, done](const std::optional<RenderedPage> &page) {
        m_reading = false;
        reading->stop();
        reading->deleteLater();
        done(page);
    };
    const auto poll = [this, reading, deadline, finish] {
        if (deadline.hasExpired())
            return finish(std::nullopt);
        m_view->page()->runJavaScript(
            QStringLiteral("window.__harvixRendered || null"),
            // The page may be gone by the time the result comes, and the reading with it.
            [alive = QPointer<QTimer>(reading), finish](const QVariant &result) {
                const QVariantList parts = result.toList();
                if (alive && alive->isActive() && parts.size() == 3)
                    finish(RenderedPage{parts.at(0).toString(), parts.at(1).toString(),
                                        parts.at(2).toString()});
            });
    };
    const auto begin = [this, reading, limits, finish, poll] {
        if (!m_loaded)
            return finish(std::nullopt);
        QJsonArray earlier;
        if (!m_earlierOverflow) {
            for (const QString &url : std::as_const(m_earlier))
                earlier.append(url);
        }
        m_earlier.clear();
        m_earlierOverflow = false;
        m_reading = true;
        m_view->page()->runJavaScript(
            QString::fromLatin1(renderScript)
                .arg(QString::number(limits.maxMilliseconds), QString::number(limits.maxSteps),
                     QString::number(limits.quietMilliseconds),
                     QString::fromUtf8(QJsonDocument(earlier).toJson(QJsonDocument::Compact))));
        QObject::connect(reading, &QTimer::timeout, reading, poll);
        reading->start(25);
    };
    // A page still loading is read once it has loaded.
    if (m_loading) {
        QObject::connect(
            m_view.data(), &QWebEngineView::loadFinished, reading,
            [begin, reading] {
                if (!reading->isActive())
                    begin();
            },
            Qt::SingleShotConnection);
    } else {
        QTimer::singleShot(0, reading, begin);
    }
}

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

namespace {

QtMessageHandler g_engineMessages = nullptr;

// What the engine says of its graphics where there is no display: that it draws in software, as
// it must off-screen. Everything else it says goes on as before.
void offscreenMessages(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtInfoMsg && context.category &&
        std::strcmp(context.category, "qt.webenginecontext") == 0)
        return;
    if (text.trimmed() == QLatin1String("No suitable graphics backend found"))
        return;
    g_engineMessages(type, context, text);
}

} // namespace

QCoreApplication *harvix_create_application(int &argc, char **argv)
{
    // The engine draws through a context shared with the application's, made with it.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    auto *app = new QApplication(argc, argv);
    // Off-screen there is no OpenGL: the page's scene is drawn in software, which the engine
    // supports there, and its report of the graphics it found is left out.
    if (QGuiApplication::platformName() == QLatin1String("offscreen")) {
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
        g_engineMessages = qInstallMessageHandler(offscreenMessages);
    }
    // The off-screen page is a window of its own: its closing must not end the command's loop.
    QApplication::setQuitOnLastWindowClosed(false);
    return app;
}

void harvix_render_url(const QString &url, BrowserSession *session, RenderedUrlDone done)
{
    // The engine cannot start without the shared context; harvix-cli's application has made it,
    // another program may not have.
    if (const QString why = shareOpenGLContexts(); !why.isEmpty()) {
        QTimer::singleShot(0, qApp, [url, done, why] {
            done(std::nullopt,
                 QStringLiteral("%1 could not be loaded in the browser engine: %2").arg(url, why));
        });
        return;
    }
    // An off-screen window of a desktop's size, so that the page lays out, scrolls and loads
    // its lazy pictures as in a browser window. It lives until the page has been read.
    auto *view = new WebEngineView(nullptr);
    QWidget *widget = view->widget();
    widget->setAttribute(Qt::WA_DontShowOnScreen);
    widget->resize(1280, 1024);
    widget->show();
    if (session)
        view->shareSession(*session);
    view->Navigate(url);
    view->renderPage([view, url, done](const std::optional<RenderedPage> &rendered) {
        // Not from inside the view's own reading: the view goes from the event loop.
        QTimer::singleShot(0, qApp, [view] { delete view; });
        if (rendered)
            done(rendered, QString());
        else
            done(std::nullopt,
                 QStringLiteral("%1 could not be loaded in the browser engine").arg(url));
    });
}
