// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/webview.h"

#include <QStringList>
#include <QWidget>

#include <memory>
#include <stdexcept>

// A web pane that only records the calls it gets ("Navigate:<address>", "GoBack", ...) into a
// log that outlives the window. With failing set, every call records and then throws.
class RecordingWebView : public WebView {
public:
    struct Log {
        QStringList calls;
        bool failing = false;
        int created = 0;
    };

    RecordingWebView(QWidget *parent, std::shared_ptr<Log> log)
        : m_widget(new QWidget(parent)), m_log(std::move(log))
    {
        ++m_log->created;
    }

    QWidget *widget() override { return m_widget; }
    void Navigate(const QString &address) override
    {
        record(QStringLiteral("Navigate:") + address);
    }
    void GoBack() override { record(QStringLiteral("GoBack")); }
    void GoForward() override { record(QStringLiteral("GoForward")); }
    void GoHome() override { record(QStringLiteral("GoHome")); }
    void Stop() override { record(QStringLiteral("Stop")); }

    static WebViewFactory factory(std::shared_ptr<Log> log)
    {
        return [log](QWidget *parent) { return std::make_unique<RecordingWebView>(parent, log); };
    }

private:
    void record(const QString &call)
    {
        m_log->calls.append(call);
        if (m_log->failing)
            throw std::runtime_error("the pane refused");
    }

    QWidget *m_widget;
    std::shared_ptr<Log> m_log;
};
