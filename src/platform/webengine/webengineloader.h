// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/webview.h"

#include <QStringList>

// Name of the loadable module that holds the Qt WebEngine pane, without prefix and suffix.
inline constexpr char webEngineModuleName[] = "harvix_webengine";

// The folders searched for the module, in order: the program folder, then the folder the
// module is installed to.
QStringList webEngineModuleFolders();

// A factory that loads the module from the first of folders that holds it when a pane is first
// asked for, so the web engine stays out of the process until then. When the module cannot be
// loaded it gives no view (nullptr), and the browser window shows its empty pane. Each view
// made shares its session with session, when given (which must outlive the factory's views).
WebViewFactory webEngineViewFactory(const QStringList &folders = webEngineModuleFolders(),
                                    BrowserSession *session = nullptr);
