// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <functional>
#include <memory>

class BrowserSession;
class QWidget;

// The web browser pane of the simple browser: an embeddable HTML view that navigates to an
// address and goes back, forward, home and stop. The view owns its widget; the browser window
// places that widget among its own controls.
class WebView {
public:
    virtual ~WebView() = default;

    // The pane as a widget, created as a child of the parent given to the factory.
    virtual QWidget *widget() = 0;

    // Goes to the address. The window hands over the text exactly as typed; the view reads it
    // the way a browser's address bar does. An empty or malformed address never fails; the
    // view shows what it shows.
    virtual void Navigate(const QString &address) = 0;

    // These do nothing when there is nothing to do (no earlier page, nothing loading...).
    virtual void GoBack() = 0;
    virtual void GoForward() = 0;
    virtual void GoHome() = 0;
    virtual void Stop() = 0;

    // Hands the engine's session to session: the cookies it holds now, then each cookie as it
    // is set or removed, and the User-Agent it sends. session must outlive the view. A view
    // without an engine has nothing to hand over.
    virtual void shareSession(BrowserSession &session) { Q_UNUSED(session); }
};

// Creates the pane for a browser window; parent is the window.
using WebViewFactory = std::function<std::unique_ptr<WebView>(QWidget *parent)>;
