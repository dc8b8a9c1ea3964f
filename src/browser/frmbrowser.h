// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/webview.h"

#include <QWidget>

#include <functional>
#include <memory>

class QComboBox;
class QLabel;
class QStatusBar;
class QToolBar;

// Sizes that the layout rule gives for a client area, in twips.
struct BrowserLayout {
    float wbWidth;
    float wbHeight;
    float comboWidth;
};

// The layout rule of the browser window for a client area of the given size in twips (single
// precision, as designed). Results can be negative for a client area smaller than the margins.
BrowserLayout browserLayoutFor(float clientWidth, float clientHeight);

// The pane the browser window shows when its factory gives no view (no web engine at hand): an
// empty white area that ignores every request.
std::unique_ptr<WebView> createBlankWebView(QWidget *parent);

// The simple browser: an address box, a web pane and a toolbar. "Get" hands the address box's
// text to the main window for harvesting.
class frmBrowser : public QWidget {
    Q_OBJECT
public:
    // Preset entries of the address box, in order.
    static QStringList presetAddresses();

    // createView makes the web pane (without a factory, or when it gives no view, the pane stays
    // blank: createBlankWebView); handToHarvest puts an address into the main window's
    // address box (opening a main window when none is left).
    // handRendered hands the page the pane shows, as rendered, to the main window for
    // harvesting (nothing when it could not be read).
    frmBrowser(const WebViewFactory &createView, std::function<void(const QString &)> handToHarvest,
               std::function<void(const std::optional<RenderedPage> &)> handRendered = {},
               QWidget *parent = nullptr);
    ~frmBrowser() override;

public slots:
    // Runs the action of the toolbar button whose key is given; unknown keys do nothing.
    void Toolbar1_ButtonClick(const QString &key);

protected:
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void createToolbar();
    void Form_Load();
    void Form_Resize();
    void Combo1_KeyPress(QChar key);
    // 表示中のページから取り込む: reads the shown page as rendered and hands it over.
    void GetShown_Click();

    std::function<void(const QString &)> m_handToHarvest;
    std::function<void(const std::optional<RenderedPage> &)> m_handRendered;
    bool m_reading = false; // a rendered page is being read
    QToolBar *m_Toolbar1 = nullptr;
    QLabel *m_Label3 = nullptr;
    QComboBox *m_Combo1 = nullptr;
    std::unique_ptr<WebView> m_WB;
    QStatusBar *m_StatusBar1 = nullptr;
};
