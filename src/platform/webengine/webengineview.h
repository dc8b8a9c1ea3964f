// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/webview.h"

#include <QPointer>
#include <QStringList>

class HarvixPage;
class RequestStarts;
class QCoreApplication;
class QUrl;
class QWebEngineProfile;
class QWebEngineView;

// The browser pane on Qt WebEngine. Built into the loadable module only, so that the program
// does not load the web engine before the browser window first opens.
class WebEngineView : public WebView {
public:
    // The pane shows its pages in profile, or in the engine's default profile when none is
    // given.
    explicit WebEngineView(QWidget *parent, QWebEngineProfile *profile = nullptr);
    ~WebEngineView() override;

    QWidget *widget() override;
    void Navigate(const QString &address) override;
    void GoBack() override;
    void GoForward() override;
    void GoHome() override;
    void Stop() override;
    void shareSession(BrowserSession &session) override;
    void renderPage(std::function<void(const std::optional<RenderedPage> &)> done,
                    const RenderLimits &limits = {}) override;

    // Reads the page as renderPage does; done gets why when nothing can be read.
    using ReadDone = std::function<void(const std::optional<RenderedPage> &, const QString &why)>;
    void read(ReadDone done, const RenderLimits &limits);
    // Loads url with referer as the Referer of the page request (none when empty).
    void load(const QUrl &url, const QString &referer);
    // A certificate the engine does not trust is taken when it verifies against the
    // certificates in file (PEM).
    void trustCertificates(const QString &file);
    // The page is only read, never used: its dialogs are answered at once from its load on, and
    // it does not navigate away from the page it loaded.
    void holdFromLoad();

private:
    friend class PageReading;
    void requestStarted(const QUrl &url, const QUrl &initiator);

    QPointer<QWebEngineView> m_view;
    HarvixPage *m_page = nullptr;        // owned
    RequestStarts *m_requests = nullptr; // the page's
    bool m_loading = false;              // a page is loading
    bool m_loaded = false;               // the last load ended well
    bool m_reading = false;         // a reading runs: the requests started are handed to its script
    QStringList m_started;          // started during a reading, not yet handed over
    QStringList m_earlier;          // started since the page began loading, before a reading
    bool m_earlierOverflow = false; // more of them than the page keeps the ends of
};

// Entry points of the module, looked up by name by the loader (webengineloader.h).
extern "C" Q_DECL_EXPORT WebView *harvix_create_webview(QWidget *parent);
extern "C" Q_DECL_EXPORT QCoreApplication *harvix_create_application(int &argc, char **argv);
extern "C" Q_DECL_EXPORT void harvix_render_request(const RenderRequest &request,
                                                    BrowserSession *session, RenderedUrlDone done);
