// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/rendered.h"

#include "cli/output.h"
#include "platform/webengine/webengineloader.h"

#include <QDir>
#include <QFileInfo>

#include <cstring>
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

bool renderedPage(const QString &url, BrowserSession *session, RenderedPage *page, QString *error)
{
    if (!g_renderer) {
        *error = u"the browser module is not loaded"_s;
        return false;
    }
    return g_renderer->renderUrl(url, session, page, error);
}

} // namespace cli
