// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/rendered.h"

#include "cli/output.h"
#include "harvest/address.h"
#include "platform/curl/curlreply.h"
#include "platform/webengine/webengineloader.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTimer>
#include <QUrl>

#include <coroutine>
#include <cstring>
#include <memory>
#include <optional>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace cli {

namespace {

std::optional<WebEngineRenderer> g_renderer;

// The folders of the module: beside this program (found before the application object exists,
// from /proc/self/exe), then where it is installed.
QStringList moduleFolders()
{
    QStringList folders = webEngineModuleFoldersBeside(
        QFileInfo(QFile::symLinkTarget(u"/proc/self/exe"_s)).absolutePath());
    return folders;
}

// Starts the module's reading of url and resumes the awaiting coroutine, from the event loop,
// once it has answered. Copies share one reading (the compiler may copy an awaiter).
class RenderedUrl {
public:
    RenderedUrl(const RenderRequest &request, BrowserSession *session)
        : m_reading(std::make_shared<Reading>()), m_request(request), m_session(session)
    {
    }
    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> waiting)
    {
        m_reading->waiting = waiting;
        g_renderer->renderRequest(
            m_request, m_session,
            [reading = m_reading](const std::optional<RenderedPage> &page, const QString &error) {
                reading->result = RenderedRead{page, error};
                QTimer::singleShot(0, qApp, [reading] { reading->waiting.resume(); });
            });
    }
    RenderedRead await_resume() { return std::move(m_reading->result); }

private:
    struct Reading {
        RenderedRead result;
        std::coroutine_handle<> waiting;
    };
    std::shared_ptr<Reading> m_reading;
    RenderRequest m_request;
    BrowserSession *m_session = nullptr;
};

QtMessageHandler g_engineMessages = nullptr;

// What the engine and the page's console say reaches the terminal escaped, as every other line.
// That the engine runs without its sandbox has been said once already when harvix-cli chose it.
bool g_saidNoSandbox = false;
void escapedMessages(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (g_saidNoSandbox && text.trimmed() == u"Sandboxing disabled by user.")
        return;
    g_engineMessages(type, context, terminalSafe(text));
}

// The engine set up for where harvix-cli runs: without a display it draws off-screen, and as
// root (where its sandbox cannot start) it runs without its sandbox, which the user is told.
void prepareEngine()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (::geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX")) {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
        g_saidNoSandbox = true;
        writeLine(stderr, u"harvix-cli: running as root: the browser engine runs without its "
                          u"sandbox"_s);
    }
}

// Longest time a rendered page's reading may take, and its load before it: with the engine's
// start and end, a rendered read ends within a minute.
constexpr int kRenderSeconds = 30;
constexpr int kLoadSeconds = 25;

} // namespace

bool wantsRenderedPage(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0)
            break;
        if (std::strcmp(argv[i], "--rendered") == 0)
            return true;
    }
    return false;
}

std::unique_ptr<QCoreApplication> makeApplication(int &argc, char **argv, bool rendered)
{
    if (!rendered)
        return std::make_unique<QCoreApplication>(argc, argv);
    QString why;
    g_renderer = loadWebEngineRenderer(moduleFolders(), &why);
    if (!g_renderer) {
        writeLine(stderr, u"harvix-cli: --rendered needs the browser module (package "
                          u"harvix-browser), which cannot be loaded: "_s +
                              why);
        return nullptr;
    }
    prepareEngine();
    // Under the module's own filter of the engine's messages, which it installs with the
    // application.
    g_engineMessages = qInstallMessageHandler(escapedMessages);
    return std::unique_ptr<QCoreApplication>(g_renderer->createApplication(argc, argv));
}

std::optional<QString> webAddress(const QString &address)
{
    // A scheme is what comes before the first ":" unless that is a port (host:80/...).
    static const QRegularExpression scheme(u"^([A-Za-z][A-Za-z0-9+.-]*):(?!\\d+(/|$))"_s);
    const QRegularExpressionMatch written = scheme.match(address);
    const QUrl url(written.hasMatch() ? address : u"http://"_s + address);
    if (!url.isValid() || (url.scheme() != u"http" && url.scheme() != u"https") ||
        url.host().isEmpty())
        return std::nullopt;
    return url.toString(QUrl::FullyEncoded);
}

RenderLimits renderLimits(int maxTimeSeconds)
{
    const int seconds =
        maxTimeSeconds > 0 ? std::min(maxTimeSeconds, kRenderSeconds) : kRenderSeconds;
    RenderLimits limits;
    limits.loadMilliseconds = std::min(seconds, kLoadSeconds) * 1000;
    limits.maxMilliseconds = seconds * 1000;
    return limits;
}

QCoro::Task<RenderedRead> renderedPage(QString address, QString referer, RenderLimits limits,
                                       BrowserSession *session)
{
    if (!g_renderer)
        co_return RenderedRead{std::nullopt, u"the browser module is not loaded"_s};
    // Only http and https, as the page a harvest fetches: nothing local is read.
    const std::optional<QString> url = webAddress(address);
    if (!url)
        co_return RenderedRead{std::nullopt, curlreply::unsupportedAddress(address)};
    // The engine sends of a page's Referer what its policy lets it send, the origin (nothing
    // from https to http). Named, not temporaries of the co_await: GCC 12 destroys such
    // temporaries twice.
    QUrl origin = QUrl(referer).adjusted(QUrl::RemoveQuery | QUrl::RemoveFragment);
    origin.setPath(u"/"_s);
    const RenderRequest request{
        *url, referer.isEmpty() ? QString() : refererFor(origin, QUrl(*url)), limits};
    RenderedUrl reading(request, session);
    co_return co_await reading;
}

} // namespace cli
