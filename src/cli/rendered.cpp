// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/rendered.h"

#include "cli/output.h"
#include "platform/webengine/webengineloader.h"

#include <QDir>
#include <QFileInfo>
#include <QTimer>

#include <coroutine>
#include <cstring>
#include <memory>
#include <optional>

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
    RenderedUrl(const QString &url, BrowserSession *session)
        : m_reading(std::make_shared<Reading>()), m_url(url), m_session(session)
    {
    }
    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> waiting)
    {
        m_reading->waiting = waiting;
        g_renderer->renderUrl(
            m_url, m_session,
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
    QString m_url;
    BrowserSession *m_session = nullptr;
};

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
    return std::unique_ptr<QCoreApplication>(g_renderer->createApplication(argc, argv));
}

QCoro::Task<RenderedRead> renderedPage(QString url, BrowserSession *session)
{
    if (!g_renderer)
        co_return RenderedRead{std::nullopt, u"the browser module is not loaded"_s};
    co_return co_await RenderedUrl(url, session);
}

} // namespace cli
