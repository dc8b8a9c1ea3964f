// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/webengine/webengineview.h"

#include <QCoreApplication>
#include <QOpenGLContext>
#include <QUrl>
#include <QWebEngineView>

// Exported by QtGui; QGuiApplication uses it to install the context that
// Qt::AA_ShareOpenGLContexts asks for.
Q_GUI_EXPORT void qt_gl_set_global_share_context(QOpenGLContext *context);

namespace {

// The web engine draws through an OpenGL context shared with the application's. A program
// that sets Qt::AA_ShareOpenGLContexts before creating its QApplication already has one; for
// any other host (the module is loaded late), create it now, as QGuiApplication would have.
void ensureSharedOpenGLContext()
{
    if (QOpenGLContext::globalShareContext())
        return;
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    // Lives as long as the process, like the one QGuiApplication creates.
    auto *context = new QOpenGLContext;
    context->setFormat(QSurfaceFormat::defaultFormat());
    context->create();
    qt_gl_set_global_share_context(context);
}

// The view's own start page, shown for "Home" and for an empty address.
QUrl startPage()
{
    return QUrl(QStringLiteral("about:blank"));
}
} // namespace

WebEngineView::WebEngineView(QWidget *parent)
{
    ensureSharedOpenGLContext();
    m_view = new QWebEngineView(parent);
}

WebEngineView::~WebEngineView()
{
    // The parent window may already have deleted the widget; QPointer knows.
    delete m_view.data();
}

QWidget *WebEngineView::widget()
{
    return m_view.data();
}

void WebEngineView::Navigate(const QString &address)
{
    if (!m_view)
        return;
    // The address arrives as typed; like any browser's address bar, the view reads a bare
    // host name or a local path the way a user means it. What cannot be read shows as the
    // engine's own error page.
    const QUrl url = address.isEmpty() ? startPage() : QUrl::fromUserInput(address);
    m_view->load(url.isValid() ? url : startPage());
}

void WebEngineView::GoBack()
{
    if (m_view)
        m_view->back();
}

void WebEngineView::GoForward()
{
    if (m_view)
        m_view->forward();
}

void WebEngineView::GoHome()
{
    if (m_view)
        m_view->load(startPage());
}

void WebEngineView::Stop()
{
    if (m_view)
        m_view->stop();
}

WebView *harvix_create_webview(QWidget *parent)
{
    try {
        return new WebEngineView(parent);
    } catch (...) {
        return nullptr;
    }
}
