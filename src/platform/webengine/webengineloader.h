// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/webview.h"

#include <QStringList>

#include <optional>

class QCoreApplication;

// Name of the loadable module that holds the Qt WebEngine pane, without prefix and suffix.
inline constexpr char webEngineModuleName[] = "harvix_webengine";

// The folders searched for the module, in order: the program folder, then the folder the
// module is installed to.
QStringList webEngineModuleFolders();
// The same with programFolder as the program folder (before an application object exists).
QStringList webEngineModuleFoldersBeside(const QString &programFolder);

// A factory that loads the module from the first of folders that holds it when a pane is first
// asked for, so the web engine stays out of the process until then. When the module cannot be
// loaded it gives no view (nullptr), and the browser window shows its empty pane. Each view
// made shares its session with session, when given (which must outlive the factory's views).
WebViewFactory webEngineViewFactory(const QStringList &folders = webEngineModuleFolders(),
                                    BrowserSession *session = nullptr);

// The module's off-screen reader of rendered pages, for harvix-cli (which has no widgets of its
// own). createApplication makes the application object the web engine needs, in place of a
// QCoreApplication; renderRequest starts loading the request's http or https address in an
// off-screen page and returns, sharing the page's cookies with session when given (which must
// outlive the reading); done gets the page as rendered within the request's limits, or why it
// cannot be read.
struct WebEngineRenderer {
    QCoreApplication *(*createApplication)(int &argc, char **argv) = nullptr;
    void (*renderRequest)(const RenderRequest &request, BrowserSession *session,
                          RenderedUrlDone done) = nullptr;
};

// Loads the module for its reader; nothing (and why in *error) when it cannot be loaded.
std::optional<WebEngineRenderer> loadWebEngineRenderer(const QStringList &folders, QString *error);
