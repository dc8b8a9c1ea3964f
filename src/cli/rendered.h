// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/webview.h"

#include <QCoreApplication>
#include <QCoro/QCoroTask>

#include <memory>
#include <optional>

class BrowserSession;

namespace cli {

// Whether the command line asks for the page as rendered (--rendered).
bool wantsRenderedPage(int argc, char **argv);

// The application object: for a rendered page the browser module's (the web engine needs a
// GUI application; harvix-cli itself stays on QtCore), else a QCoreApplication. Null, with the
// reason written to standard error, when the module cannot be loaded.
std::unique_ptr<QCoreApplication> makeApplication(int &argc, char **argv, bool rendered);

// A page read by renderedPage, or why it could not be read.
struct RenderedRead {
    std::optional<RenderedPage> page;
    QString error; // when there is no page
};

// Loads url in an off-screen browser page and reads it as rendered (makeApplication must have
// loaded the module); the event loop runs meanwhile. The page's cookies go to session when
// given, which must outlive the task.
QCoro::Task<RenderedRead> renderedPage(QString url, BrowserSession *session);

} // namespace cli
