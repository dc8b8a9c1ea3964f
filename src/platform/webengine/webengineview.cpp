// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/webengine/webengineview.h"

#include "platform/browsersession.h"
#include "platform/pagetext.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkCookie>
#include <QOpenGLContext>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTimer>
#include <QUrl>
#include <QWebEngineCertificateError>
#include <QWebEngineCookieStore>
#include <QWebEngineDownloadRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInfo>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineView>

#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include <dlfcn.h>
#include <signal.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

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

} // namespace

// Tells of every request the page starts whose end its resource timing reports: not the page
// itself, its frames, its icon, pings, reports or sockets. Gives the page's own request its
// Referer.
class RequestStarts : public QWebEngineUrlRequestInterceptor {
public:
    RequestStarts(QObject *parent, std::function<void(const QUrl &, const QUrl &)> started)
        : QWebEngineUrlRequestInterceptor(parent), m_started(std::move(started))
    {
    }
    // The Referer of the page's own request from now on (none when empty).
    void setReferer(const QByteArray &referer)
    {
        const std::lock_guard lock(m_mutex);
        m_referer = referer;
    }
    void interceptRequest(QWebEngineUrlRequestInfo &info) override
    {
        switch (info.resourceType()) {
        case QWebEngineUrlRequestInfo::ResourceTypeMainFrame: {
            const std::lock_guard lock(m_mutex);
            if (!m_referer.isEmpty())
                info.setHttpHeader(QByteArrayLiteral("Referer"), m_referer);
            return;
        }
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
    std::mutex m_mutex;
    QByteArray m_referer;
};

// The pane's page. While it is read (and off-screen, from the end of its load on) it is held:
// nothing in it waits for a user who is not there, and it stays on the page it loaded, so that
// the reading ends within its limits and reads the page it was asked for.
class HarvixPage : public QWebEnginePage {
public:
    using QWebEnginePage::QWebEnginePage;

    bool held = false;         // dialogs answered at once, no navigation away
    bool heldFromLoad = false; // off-screen: dialogs answered from the start, held from its load

protected:
    // A dialog is answered at once as its box would be dismissed: no, and no text.
    void javaScriptAlert(const QUrl &origin, const QString &text) override
    {
        if (!quiet())
            QWebEnginePage::javaScriptAlert(origin, text);
    }
    bool javaScriptConfirm(const QUrl &origin, const QString &text) override
    {
        return !quiet() && QWebEnginePage::javaScriptConfirm(origin, text);
    }
    bool javaScriptPrompt(const QUrl &origin, const QString &text, const QString &value,
                          QString *result) override
    {
        return !quiet() && QWebEnginePage::javaScriptPrompt(origin, text, value, result);
    }
    // window.open opens nothing: the pane has no window to give a page.
    QWebEnginePage *createWindow(WebWindowType) override { return nullptr; }
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override
    {
        if (held && isMainFrame)
            return false;
        return QWebEnginePage::acceptNavigationRequest(url, type, isMainFrame);
    }

private:
    bool quiet() const { return held || heldFromLoad; }
};

WebEngineView::WebEngineView(QWidget *parent, QWebEngineProfile *profile)
    : m_view(new QWebEngineView(parent))
{
    // The page is not the view's child: a page deleted along with its view would outlive the
    // view's own part of it. The view goes first, then the page (the destructor).
    m_page = profile ? new HarvixPage(profile) : new HarvixPage;
    m_view->setPage(m_page);
    // A local page reads neither other local files nor the network, as in a browser.
    QWebEngineSettings *settings = m_page->settings();
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    // A navigation refused while the page is held changes nothing of the page shown.
    QObject::connect(m_view.data(), &QWebEngineView::loadStarted, m_view.data(), [this] {
        if (m_page->held)
            return;
        m_loading = true;
        m_earlier.clear();
        m_earlierOverflow = false;
    });
    QObject::connect(m_view.data(), &QWebEngineView::loadFinished, m_view.data(), [this](bool ok) {
        m_loading = false;
        if (m_page->held)
            return;
        m_loaded = ok;
        if (m_page->heldFromLoad)
            m_page->held = true;
    });
    m_requests = new RequestStarts(
        m_page, [this](const QUrl &url, const QUrl &initiator) { requestStarted(url, initiator); });
    m_page->setUrlRequestInterceptor(m_requests);
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
    delete m_page;
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

void WebEngineView::load(const QUrl &url, const QString &referer)
{
    if (!m_view)
        return;
    m_loading = true;
    m_requests->setReferer(referer.toUtf8());
    m_page->load(url);
}

void WebEngineView::trustCertificates(const QString &file)
{
    // Read once: the process's default TLS configuration is what verify() checks against.
    static const bool loaded = [&file] {
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.setCaCertificates(QSslCertificate::fromPath(file));
        QSslConfiguration::setDefaultConfiguration(configuration);
        return true;
    }();
    Q_UNUSED(loaded);
    QObject::connect(
        m_page, &QWebEnginePage::certificateError, m_page,
        [](const QWebEngineCertificateError &error) {
            QWebEngineCertificateError answer = error;
            if (error.isOverridable() &&
                QSslCertificate::verify(error.certificateChain(), error.url().host()).isEmpty())
                answer.acceptCertificate();
            else
                answer.rejectCertificate();
        });
}

void WebEngineView::holdFromLoad()
{
    m_page->heldFromLoad = true;
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
    window.__harvixRendered = (%5)();
  })();
})(%1, %2, %3, %4);
)JS";

// The document as it stands: its markup, address and base; in place of a markup longer than
// LIMIT, null and its length.
constexpr char standingScript[] = R"JS(
function () {
  const html = document.documentElement ? document.documentElement.outerHTML : '';
  return html.length > %1 ? [null, document.URL, document.baseURI, html.length]
                          : [html, document.URL, document.baseURI];
}
)JS";

QString standing()
{
    return QString::fromLatin1(standingScript).arg(QString::number(pagetext::kMaxPageSize));
}

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

// Most memory a page's process may hold, and most of it its scripts' heap may take: a page
// that allocates without end fails instead of taking the machine.
constexpr qint64 pageProcessLimit = qint64(2048) << 20;
constexpr int scriptHeapMiB = 1024;

// One reading of a page: waits for its load (within limits.loadMilliseconds), runs the render
// script and polls for its result (within limits.maxMilliseconds). The page's process is
// watched all along. A page that has not answered when the reading is nearly out of time is
// stopped and read as it stands; one that does not answer that either is busy in a script, and
// its process is ended: the document read last is then the result. Lives with the view.
class PageReading : public QObject {
public:
    PageReading(WebEngineView &view, const RenderLimits &limits, WebEngineView::ReadDone done)
        : QObject(view.m_view.data()), m_view(view), m_limits(limits), m_done(std::move(done))
    {
        m_since.start();
        QObject::connect(&m_tick, &QTimer::timeout, this, [this] { tick(); });
        m_tick.start(25);
        QObject::connect(m_view.m_page, &QWebEnginePage::renderProcessTerminated, this,
                         [this](QWebEnginePage::RenderProcessTerminationStatus, int code) {
                             if (!m_ended)
                                 finish(std::nullopt,
                                        QStringLiteral("the page's process in the browser engine "
                                                       "ended (exit code %1)")
                                            .arg(code));
                         });
        // A page still loading is read once it has loaded, or as it stands once its load has
        // had its time.
        if (m_view.m_loading) {
            QObject::connect(m_view.m_view.data(), &QWebEngineView::loadFinished, this,
                             [this](bool ok) { loaded(ok); });
            QTimer::singleShot(std::max(0, m_limits.loadMilliseconds), this, [this] { begin(); });
        } else {
            QTimer::singleShot(0, this, [this] { loaded(m_view.m_loaded); });
        }
    }

private:
    void loaded(bool ok)
    {
        if (m_begun)
            return;
        if (!ok)
            return finish(std::nullopt, QString());
        if (!isWebDocument(m_view.m_page->url()))
            return finish(std::nullopt, QStringLiteral("only http and https pages are read"));
        begin();
    }

    static bool isWebDocument(const QUrl &url)
    {
        return url.scheme() == u"http" || url.scheme() == u"https";
    }

    void begin()
    {
        if (m_begun || m_ended)
            return;
        m_begun = true;
        m_reading.start();
        QJsonArray earlier;
        if (!m_view.m_earlierOverflow) {
            for (const QString &url : std::as_const(m_view.m_earlier))
                earlier.append(url);
        }
        m_view.m_earlier.clear();
        m_view.m_earlierOverflow = false;
        m_view.m_reading = true;
        m_view.m_page->held = true;
        // The page as it stands first, for a page that gives nothing later.
        ask(u"(%1)()"_s.arg(standing()), false);
        // The script has the reading's time less what stopping the page may take.
        m_view.m_page->runJavaScript(
            QString::fromLatin1(renderScript)
                .arg(QString::number(m_limits.maxMilliseconds - margin()),
                     QString::number(m_limits.maxSteps),
                     QString::number(m_limits.quietMilliseconds),
                     QString::fromUtf8(QJsonDocument(earlier).toJson(QJsonDocument::Compact)),
                     standing()));
    }

    int margin() const { return std::min(2000, m_limits.maxMilliseconds / 4); }

    // Asks the page for a document; its answer comes from the event loop, if at all. The
    // render script's result (final) ends the reading, as does any answer once it is stopped.
    void ask(const QString &script, bool final)
    {
        ++m_asked;
        m_view.m_page->runJavaScript(
            script, [alive = QPointer<PageReading>(this), final](const QVariant &result) {
                if (alive)
                    alive->answered(result, final);
            });
    }

    void answered(const QVariant &result, bool final)
    {
        --m_asked;
        if (m_ended)
            return;
        const QVariantList parts = result.toList();
        if (parts.size() == 4)
            return finish(std::nullopt,
                          QStringLiteral("the page is larger than %1 characters, the largest "
                                         "page read")
                              .arg(QString::number(pagetext::kMaxPageSize)));
        // Until its response has come, a page shows a blank document of its own.
        if (parts.size() != 3 || !isWebDocument(QUrl(parts.at(1).toString())))
            return;
        m_last =
            RenderedPage{parts.at(0).toString(), parts.at(1).toString(), parts.at(2).toString()};
        if (final || m_stopped)
            finish(m_last, QString());
    }

    void tick()
    {
        if (m_ended)
            return;
        if (++m_ticks % 10 == 0 && processSize() > pageProcessLimit) {
            endProcess();
            return finish(std::nullopt, QStringLiteral("the page took more than %1 MiB of memory")
                                            .arg(QString::number(pageProcessLimit >> 20)));
        }
        if (!m_begun)
            return;
        const qint64 elapsed = m_reading.elapsed();
        if (elapsed >= m_limits.maxMilliseconds) {
            // Not even the page as it stands came: it is busy in a script of its own.
            if (m_asked > 0)
                endProcess();
            return finish(m_last, QStringLiteral("the page did not settle within %1 s")
                                      .arg(QString::number(qRound(m_since.elapsed() / 1000.0))));
        }
        if (!m_stopped && elapsed >= m_limits.maxMilliseconds - margin() / 2) {
            m_stopped = true;
            m_view.m_page->triggerAction(QWebEnginePage::Stop);
            return ask(u"(%1)()"_s.arg(standing()), false);
        }
        // One question at a time: a busy page does not pile them up.
        if (m_asked == 0 && !m_stopped)
            ask(QStringLiteral("window.__harvixRendered || null"), true);
    }

    // The resident size of the page's process, 0 while it has none.
    qint64 processSize() const
    {
        const qint64 pid = m_view.m_page->renderProcessPid();
        if (pid <= 0)
            return 0;
        QFile statm(QStringLiteral("/proc/%1/statm").arg(pid));
        if (!statm.open(QIODevice::ReadOnly))
            return 0;
        const QList<QByteArray> fields = statm.readLine().split(' ');
        return fields.size() > 1 ? fields.at(1).toLongLong() * ::sysconf(_SC_PAGESIZE) : 0;
    }

    void endProcess()
    {
        if (const qint64 pid = m_view.m_page->renderProcessPid(); pid > 0) {
            m_ended = true; // its end is ours, not the page's
            ::kill(static_cast<pid_t>(pid), SIGKILL);
        }
    }

    void finish(const std::optional<RenderedPage> &page, const QString &why)
    {
        m_ended = true;
        m_tick.stop();
        m_view.m_reading = false;
        m_view.m_page->held = m_view.m_page->heldFromLoad;
        deleteLater();
        m_done(page, why);
    }

    WebEngineView &m_view;
    RenderLimits m_limits;
    WebEngineView::ReadDone m_done;
    QElapsedTimer m_since;   // since the reading was asked for
    QElapsedTimer m_reading; // since the page was first read
    QTimer m_tick;
    int m_ticks = 0;
    int m_asked = 0;        // questions to the page not answered yet
    bool m_begun = false;   // the page is read
    bool m_stopped = false; // stopped near the end of the reading, and read as it stands
    bool m_ended = false;
    std::optional<RenderedPage> m_last; // the document read last
};

void WebEngineView::read(ReadDone done, const RenderLimits &limits)
{
    if (!m_view) {
        done(std::nullopt, QString());
        return;
    }
    // The reading lives with the view: a view that goes takes it along, and done is not called.
    new PageReading(*this, limits, std::move(done));
}

void WebEngineView::renderPage(std::function<void(const std::optional<RenderedPage> &)> done,
                               const RenderLimits &limits)
{
    read([done](const std::optional<RenderedPage> &page, const QString &) { done(page); }, limits);
}

namespace {

// The engine reads its flags when it starts; a flag the user gave the engine already stands.
void addEngineFlag(const QByteArray &name, const QByteArray &value)
{
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    if (flags.contains(name))
        return;
    flags += ' ' + name + '=' + value;
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags.trimmed());
}

// A page's scripts get a heap of their own size.
void limitScriptHeap()
{
    addEngineFlag("--js-flags", "--max-old-space-size=" + QByteArray::number(scriptHeapMiB));
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
    limitScriptHeap();
    try {
        return new WebEngineView(parent);
    } catch (...) {
        return nullptr;
    }
}

namespace {

QtMessageHandler g_engineMessages = nullptr;

// What the engine and the off-screen platform say of what they cannot do where there is no
// display: that the engine draws in software, as it must off-screen, and that a window's size
// hints go nowhere. Everything else they say goes on as before.
void offscreenMessages(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtInfoMsg && context.category &&
        std::strcmp(context.category, "qt.webenginecontext") == 0)
        return;
    const QString line = text.trimmed();
    if (line == QLatin1String("No suitable graphics backend found") ||
        line.contains(QLatin1String("propagateSizeHints")))
        return;
    g_engineMessages(type, context, text);
}

} // namespace

QCoreApplication *harvix_create_application(int &argc, char **argv)
{
    // The engine draws through a context shared with the application's, made with it.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    limitScriptHeap();
    // The engine's own log goes to the terminal as it is, past harvix-cli's escaping, and
    // quotes what a page sends (a certificate's names): only its fatal errors are written.
    addEngineFlag("--log-level", "3");
    auto *app = new QApplication(argc, argv);
    // Off-screen there is no OpenGL: the page's scene is drawn in software, which the engine
    // supports there.
    if (QGuiApplication::platformName() == QLatin1String("offscreen"))
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    g_engineMessages = qInstallMessageHandler(offscreenMessages);
    // The off-screen page is a window of its own: its closing must not end the command's loop.
    QApplication::setQuitOnLastWindowClosed(false);
    return app;
}

void harvix_render_request(const RenderRequest &request, BrowserSession *session,
                           RenderedUrlDone done)
{
    const QString url = request.url;
    // The engine cannot start without the shared context; harvix-cli's application has made it,
    // another program may not have.
    if (const QString why = shareOpenGLContexts(); !why.isEmpty()) {
        QTimer::singleShot(0, qApp, [url, done, why] {
            done(std::nullopt,
                 QStringLiteral("%1 could not be loaded in the browser engine: %2").arg(url, why));
        });
        return;
    }
    // Only http and https: nothing local is ever read.
    const QUrl address(url);
    if (address.scheme() != u"http" && address.scheme() != u"https") {
        QTimer::singleShot(0, qApp, [url, done] {
            done(std::nullopt, QStringLiteral("%1 is not an http or https address").arg(url));
        });
        return;
    }
    // A profile of its own that keeps nothing on disk, and takes no download.
    auto *profile = new QWebEngineProfile;
    QObject::connect(profile, &QWebEngineProfile::downloadRequested, profile,
                     [](QWebEngineDownloadRequest *download) { download->cancel(); });
    // An off-screen window of a desktop's size, so that the page lays out, scrolls and loads
    // its lazy pictures as in a browser window. It lives until the page has been read.
    auto *view = new WebEngineView(nullptr, profile);
    QWidget *widget = view->widget();
    widget->setAttribute(Qt::WA_DontShowOnScreen);
    widget->resize(1280, 1024);
    widget->show();
    if (session)
        view->shareSession(*session);
    view->holdFromLoad();
    // Like harvix-cli's transfers (and curl): CURL_CA_BUNDLE, else SSL_CERT_FILE, names a file
    // of certificates to trust.
    for (const char *variable : {"CURL_CA_BUNDLE", "SSL_CERT_FILE"}) {
        if (const QString file = qEnvironmentVariable(variable); !file.isEmpty()) {
            view->trustCertificates(file);
            break;
        }
    }
    view->load(address, request.referer);
    view->read(
        [view, profile, url, done](const std::optional<RenderedPage> &rendered,
                                   const QString &why) {
            // Not from inside the view's own reading: the view goes from the event loop, and
            // its profile after it.
            QTimer::singleShot(0, qApp, [view, profile] {
                delete view;
                delete profile;
            });
            if (rendered)
                done(rendered, QString());
            else if (why.isEmpty())
                done(std::nullopt,
                     QStringLiteral("%1 could not be loaded in the browser engine").arg(url));
            else
                done(
                    std::nullopt,
                    QStringLiteral("%1 could not be read in the browser engine: %2").arg(url, why));
        },
        request.limits);
}
