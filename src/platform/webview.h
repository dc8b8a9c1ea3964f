// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <functional>
#include <memory>
#include <optional>

class BrowserSession;
class QWidget;

// A page as the browser shows it: its document once its scripts have run and its lazy images
// have loaded.
struct RenderedPage {
    QString html;    // the document's markup (document.documentElement.outerHTML)
    QString url;     // the document's address: the Referer of its images
    QString baseUrl; // what its references are resolved against (document.baseURI)
};

// Called once, from the event loop, with an address read as rendered off-screen: the page, or
// nothing and why.
using RenderedUrlDone =
    std::function<void(const std::optional<RenderedPage> &page, const QString &error)>;

// How long a page is given to settle before it is read as it is.
struct RenderLimits {
    int loadMilliseconds = 30000; // a page still loading after this long is read as it stands
    int maxMilliseconds = 30000;  // the whole reading, scrolling and waiting included
    int maxSteps = 200;           // scrolls of one viewport each
    int quietMilliseconds = 1000; // no request for this long: the page has settled
};

// What harvix-cli asks the off-screen reader for: an http or https address, the Referer of
// the page request (none when empty) and the limits of the reading.
struct RenderRequest {
    QString url;
    QString referer;
    RenderLimits limits;
};

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

    // Reads the shown page as it is rendered: scrolls it to its end, one viewport at a time,
    // until its height stops growing and no request has been made for a while (within limits),
    // scrolls back to where it was and calls done with its document. A page still loading is
    // read as it stands once its load has had limits.loadMilliseconds. done gets nothing when no
    // page can be read (a view without an engine, a page that failed to load or is not an http
    // or https document, one that gave nothing within the limits): at once for a view without
    // an engine, otherwise later, from the event loop, and never after the view is gone.
    virtual void renderPage(std::function<void(const std::optional<RenderedPage> &)> done,
                            const RenderLimits &limits = {})
    {
        Q_UNUSED(limits);
        done(std::nullopt);
    }
};

// Creates the pane for a browser window; parent is the window.
using WebViewFactory = std::function<std::unique_ptr<WebView>(QWidget *parent)>;
