// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/webengine/webengineloader.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibrary>

#include <memory>
#include <mutex>

namespace {

using CreateFunction = WebView *(*)(QWidget *parent);

// Loads the module once; the web engine cannot be unloaded safely, so the library stays loaded
// for the rest of the process.
class ModuleLoader {
public:
    explicit ModuleLoader(QStringList folders) : m_folders(std::move(folders)) {}

    CreateFunction create()
    {
        std::call_once(m_once, [this] { load(); });
        return m_create;
    }

private:
    void load()
    {
        for (const QString &folder : std::as_const(m_folders)) {
            const QString path = QDir(folder).filePath(QLatin1String(webEngineModuleName));
            auto *library = new QLibrary(path);
            library->setLoadHints(QLibrary::ResolveAllSymbolsHint);
            if (auto fn =
                    reinterpret_cast<CreateFunction>(library->resolve("harvix_create_webview"))) {
                m_create = fn;
                return; // deliberately never unloaded
            }
            m_errors.append(library->errorString());
            delete library;
        }
        qWarning("Web engine module not loaded: %s", qPrintable(m_errors.join(u"; ")));
    }

    QStringList m_folders;
    QStringList m_errors;
    std::once_flag m_once;
    CreateFunction m_create = nullptr;
};

} // namespace

QStringList webEngineModuleFolders()
{
    return webEngineModuleFoldersBeside(QCoreApplication::applicationDirPath());
}

QStringList webEngineModuleFoldersBeside(const QString &programFolder)
{
    QStringList folders{programFolder};
#ifdef HARVIX_MODULE_INSTALL_DIR
    folders.append(QStringLiteral(HARVIX_MODULE_INSTALL_DIR));
#endif
    return folders;
}

WebViewFactory webEngineViewFactory(const QStringList &folders, BrowserSession *session)
{
    auto loader = std::make_shared<ModuleLoader>(folders);
    return [loader, session](QWidget *parent) -> std::unique_ptr<WebView> {
        if (CreateFunction create = loader->create()) {
            if (WebView *view = create(parent)) {
                if (session)
                    view->shareSession(*session);
                return std::unique_ptr<WebView>(view);
            }
        }
        return nullptr;
    };
}

std::optional<WebEngineRenderer> loadWebEngineRenderer(const QStringList &folders, QString *error)
{
    QStringList errors;
    for (const QString &folder : folders) {
        const QString path = QDir(folder).filePath(QLatin1String(webEngineModuleName));
        auto *library = new QLibrary(path);
        library->setLoadHints(QLibrary::ResolveAllSymbolsHint);
        WebEngineRenderer renderer;
        renderer.createApplication = reinterpret_cast<decltype(renderer.createApplication)>(
            library->resolve("harvix_create_application"));
        renderer.renderRequest = reinterpret_cast<decltype(renderer.renderRequest)>(
            library->resolve("harvix_render_request"));
        if (renderer.createApplication && renderer.renderRequest)
            return renderer; // never unloaded, as the pane's module
        errors.append(library->errorString());
        delete library;
    }
    if (error)
        *error = errors.join(u"; ");
    return std::nullopt;
}
