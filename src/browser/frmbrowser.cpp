// SPDX-License-Identifier: GPL-3.0-or-later
#include "browser/frmbrowser.h"

#include "platform/twips.h"

#include <QComboBox>
#include <QEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QPalette>
#include <QPointer>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>

// Outside any namespace, as Q_INIT_RESOURCE requires.
static void initBrowserResources()
{
    Q_INIT_RESOURCE(browser);
}

namespace {

// Design values in twips.
constexpr int toolbarHeight = 615;
constexpr int statusBarHeight = 255;
constexpr int comboLeft = 720;
constexpr int comboTop = 600;
constexpr int comboHeight = 300;
constexpr int clientWidth = 9315;
constexpr int clientHeight = 7500;

struct ToolButton {
    const char *key;
    const char16_t *caption;
    const char16_t *image; // 16 x 16 picture among the window's resources, or none
    // A caption too long for one line of a button, as it is shown: on several lines.
    const char16_t *lines = nullptr;
};

constexpr ToolButton toolButtons[] = {
    {"Back", u"戻る", u":/browser/back.png"},
    {"Front", u"進む", u":/browser/forward.png"},
    {"Stop", u"停止", u":/browser/stop.png"},
    {"Exit", u"終了", nullptr},
    {"Home", u"Home", nullptr},
    {"New", u"更新", nullptr},
    {"Get", u"画像取り込み", nullptr},
    {"GetShown", u"表示中のページから取り込む", nullptr, u"表示中の\nページから\n取り込む"},
};

class BlankWebView : public WebView {
public:
    explicit BlankWebView(QWidget *parent) : m_widget(new QWidget(parent))
    {
        m_widget->setAutoFillBackground(true);
        QPalette palette = m_widget->palette();
        palette.setColor(QPalette::Window, Qt::white);
        m_widget->setPalette(palette);
    }
    // The window may already have deleted the widget; QPointer knows.
    ~BlankWebView() override { delete m_widget.data(); }

    QWidget *widget() override { return m_widget.data(); }
    void Navigate(const QString &) override {}
    void GoBack() override {}
    void GoForward() override {}
    void GoHome() override {}
    void Stop() override {}

private:
    QPointer<QWidget> m_widget;
};

int nonNegative(float twipsValue)
{
    return twipsValue > 0 ? twips::toPixels(static_cast<int>(twipsValue + 0.5f)) : 0;
}

} // namespace

std::unique_ptr<WebView> createBlankWebView(QWidget *parent)
{
    return std::make_unique<BlankWebView>(parent);
}

BrowserLayout browserLayoutFor(float clientWidth, float clientHeight)
{
    const float comboBottom = float(comboTop) + float(comboHeight);
    return {clientWidth - 100.0f, clientHeight - comboBottom - 300.0f,
            clientWidth - float(comboLeft) - 100.0f};
}

QStringList frmBrowser::presetAddresses()
{
    return {QStringLiteral("c:\\home\\index.htm"), QStringLiteral("https://www.goo.ne.jp/"),
            QStringLiteral("http://www.example.jp/~hanako/photo/2001/index.htm"),
            QStringLiteral("https://ftp.jaist.ac.jp/")};
}

frmBrowser::frmBrowser(const WebViewFactory &createView,
                       std::function<void(const QString &)> handToHarvest,
                       std::function<void(const std::optional<RenderedPage> &)> handRendered,
                       QWidget *parent)
    : QWidget(parent, Qt::Window), m_handToHarvest(std::move(handToHarvest)),
      m_handRendered(std::move(handRendered))
{
    setObjectName(QStringLiteral("frmBrowser"));
    setWindowTitle(QStringLiteral("Internet Browser"));
    setAttribute(Qt::WA_DeleteOnClose);

    createToolbar();

    m_Label3 = new QLabel(QStringLiteral("URL"), this);
    m_Label3->setObjectName(QStringLiteral("Label3"));
    m_Label3->setGeometry(twips::rect(240, 720, 495, 255));

    m_Combo1 = new QComboBox(this);
    m_Combo1->setObjectName(QStringLiteral("Combo1"));
    m_Combo1->setEditable(true);
    // The preset list is fixed: Enter must not add the typed address to it.
    m_Combo1->setInsertPolicy(QComboBox::NoInsert);
    m_Combo1->addItems(presetAddresses());
    m_Combo1->setCurrentIndex(-1);
    m_Combo1->setEditText(QString());
    m_Combo1->setGeometry(twips::rect(comboLeft, comboTop, 8535, comboHeight));
    // Keys typed into the box reach the box itself: it keeps the keyboard focus for its line
    // edit and hands the keys on by a direct call that no filter on the line edit sees. Keys
    // sent to the line edit itself still pass here, as the line edit leaves Enter to its parent.
    m_Combo1->installEventFilter(this);

    m_WB = createView ? createView(this) : nullptr;
    if (!m_WB)
        m_WB = createBlankWebView(this);
    QWidget *pane = m_WB->widget();
    pane->setParent(this);
    pane->setObjectName(QStringLiteral("WB"));
    pane->setGeometry(twips::rect(120, 960, 9135, 6255));

    m_StatusBar1 = new QStatusBar(this);
    m_StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    auto *panel = new QLabel(m_StatusBar1);
    panel->setMinimumWidth(twips::toPixels(1440));
    panel->resize(twips::toPixels(9030), panel->height());
    m_StatusBar1->addWidget(panel, 1);

    // The toolbar overlaps the address box's top pixel; the box stays in front of it.
    m_Toolbar1->lower();

    // Tab order: pane, address box, label, toolbar, status bar; the pane starts with the focus.
    pane->setFocusPolicy(Qt::StrongFocus);
    setTabOrder(pane, m_Combo1);
    setFocusProxy(pane);
    pane->setFocus();

    resize(twips::size(clientWidth, clientHeight));
    Form_Load();
}

frmBrowser::~frmBrowser() = default;

void frmBrowser::createToolbar()
{
    // The pictures live in this library; a static library's resources register only on request.
    initBrowserResources();
    m_Toolbar1 = new QToolBar(this);
    m_Toolbar1->setObjectName(QStringLiteral("Toolbar1"));
    m_Toolbar1->setMovable(false);
    m_Toolbar1->setFloatable(false);
    m_Toolbar1->setIconSize(QSize(16, 16));
    m_Toolbar1->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    m_Toolbar1->setContentsMargins(0, 0, 0, 0);
    for (const ToolButton &b : toolButtons) {
        const QString key = QString::fromLatin1(b.key);
        QAction *action = b.image ? m_Toolbar1->addAction(QIcon(QString::fromUtf16(b.image)),
                                                          QString::fromUtf16(b.caption))
                                  : m_Toolbar1->addAction(QString::fromUtf16(b.caption));
        action->setData(key);
        action->setObjectName(key);
        if (b.lines)
            action->setIconText(QString::fromUtf16(b.lines));
        if (QWidget *button = m_Toolbar1->widgetForAction(action)) {
            button->setObjectName(key);
            const QSize size = twips::size(1110, 525);
            button->setFixedSize(size);
            // Every button has the designed size, so that all of them fit the window's width:
            // a caption on several lines is written small enough to fit its button.
            if (b.lines) {
                QFont font = button->font();
                const auto fits = [&] {
                    const QRect needed =
                        QFontMetrics(font).boundingRect(QRect(0, 0, size.width(), size.height()),
                                                        Qt::AlignCenter, action->iconText());
                    return needed.width() <= size.width() - 4 &&
                           needed.height() <= size.height() - 2;
                };
                while (!fits() && font.pointSizeF() > 5)
                    font.setPointSizeF(font.pointSizeF() - 0.5);
                button->setFont(font);
            }
        }
    }
    connect(m_Toolbar1, &QToolBar::actionTriggered, this,
            [this](QAction *action) { Toolbar1_ButtonClick(action->data().toString()); });
}

void frmBrowser::Form_Load()
{
    m_WB->Navigate(m_Combo1->currentText());
}

void frmBrowser::Form_Resize()
{
    // Docked bars follow the width; their heights stay at the design values.
    const int w = width();
    const int h = height();
    m_Toolbar1->setGeometry(0, 0, w, twips::toPixels(toolbarHeight));
    const int statusHeight = twips::toPixels(statusBarHeight);
    m_StatusBar1->setGeometry(0, std::max(0, h - statusHeight), w, statusHeight);

    // The layout rule, in twips; below zero (a minimised or tiny window) sizes stay at zero.
    const BrowserLayout layout =
        browserLayoutFor(float(twips::fromPixels(w)), float(twips::fromPixels(h)));
    QWidget *pane = m_WB->widget();
    pane->resize(nonNegative(layout.wbWidth), nonNegative(layout.wbHeight));
    m_Combo1->resize(nonNegative(layout.comboWidth), m_Combo1->height());
}

void frmBrowser::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    Form_Resize();
}

bool frmBrowser::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_Combo1 && event->type() == QEvent::KeyPress) {
        const QString text = static_cast<QKeyEvent *>(event)->text();
        if (text.size() == 1)
            Combo1_KeyPress(text.front());
    }
    // The key goes on to the box in every case.
    return QWidget::eventFilter(watched, event);
}

void frmBrowser::Combo1_KeyPress(QChar key)
{
    if (key == QChar(13))
        m_WB->Navigate(m_Combo1->currentText());
}

void frmBrowser::GetShown_Click()
{
    // One reading at a time; a page may take up to half a minute to load and as long to settle.
    if (m_reading)
        return;
    m_reading = true;
    m_StatusBar1->showMessage(QStringLiteral("表示中のページを読み込んでいます…"));
    const QPointer<frmBrowser> alive(this);
    m_WB->renderPage([this, alive](const std::optional<RenderedPage> &page) {
        if (!alive)
            return;
        m_reading = false;
        m_StatusBar1->clearMessage();
        // The main window harvests the page once this handler has returned.
        try {
            if (m_handRendered)
                m_handRendered(page);
        } catch (...) {
        }
        close();
    });
}

void frmBrowser::Toolbar1_ButtonClick(const QString &key)
{
    // Failures of the pane or of the main window are ignored: the action just ends.
    try {
        if (key == u"Back") {
            m_WB->GoBack();
        } else if (key == u"Front") {
            m_WB->GoForward();
        } else if (key == u"Stop") {
            m_WB->Stop();
        } else if (key == u"Exit") {
            close();
        } else if (key == u"Home") {
            m_WB->GoHome();
        } else if (key == u"New") {
            m_WB->Navigate(m_Combo1->currentText());
        } else if (key == u"Get") {
            try {
                if (m_handToHarvest)
                    m_handToHarvest(m_Combo1->currentText());
            } catch (...) {
            }
            close();
        } else if (key == u"GetShown") {
            GetShown_Click();
        }
    } catch (...) {
    }
}
