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

// The http or https address a rendered read loads for address, read as the transfers read it
// (http when no scheme is written); nothing for a local path or another scheme, which a harvest
// never fetches.
std::optional<QString> webAddress(const QString &address);

// The limits of a rendered read under --max-time SECONDS: its load gets at most 25 s and then
// its reading at most 30 s, or SECONDS each when that is less (0: no shorter limit).
RenderLimits renderLimits(int maxTimeSeconds);

// Loads address in an off-screen browser page, with referer as the Referer of its request
// (none when empty), and reads it as rendered within limits (makeApplication must have loaded
// the module); the event loop runs meanwhile. An address that is not http or https is refused
// as a harvest refuses it. The page's cookies go to session when given, which must outlive the
// task.
QCoro::Task<RenderedRead> renderedPage(QString address, QString referer, RenderLimits limits,
                                       BrowserSession *session);

} // namespace cli
