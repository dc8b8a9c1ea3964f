// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/frmharvix.h"

#include "app/statusline.h"

#include "harvest/statetexts.h"
#include "platform/pictureloader.h"
#include "platform/programfolder.h"
#include "platform/prompter.h"
#include "platform/twips.h"
#include "platform/urltransfer.h"
#include "savefolder/frmpath.h"
#include "viewer/imageviewport.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScreen>
#include <QStatusBar>

#include <unistd.h>

namespace {

constexpr int clientWidth = 11325;
constexpr int clientHeight = 8565;
constexpr int statusHeight = 255;

const QString greyBackground = QStringLiteral("background-color: #E0E0E0;");

QLabel *makeLabel(const QString &name, const QString &text, const QRect &geometry, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setGeometry(geometry);
    // The designed widths fit a narrow Japanese font; never cut a caption short.
    if (label->sizeHint().width() > geometry.width())
        label->resize(label->sizeHint().width(), geometry.height());
    return label;
}

} // namespace

frmHarvix::frmHarvix(UrlTransfer &inet, Prompter &prompter, PictureLoader &pictures,
                     MainWindowHooks hooks, QWidget *parent)
    : QMainWindow(parent), m_inet(inet), m_prompter(prompter), m_pictures(pictures),
      m_hooks(std::move(hooks)), m_harvest(inet, *this)
{
    setObjectName(QStringLiteral("frmHarvix"));
    setWindowTitle(QStringLiteral("HTMLファイルを解析し，画像ファイルの取得(Harvix 1.0)"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/harvix.png")));
    // Fixed single border: no maximise button, no resizing.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);

    createControls();
    createMenus();
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    move(twips::toPixels(195), twips::toPixels(900));

    connect(&m_inet, &UrlTransfer::StateChanged, this, &frmHarvix::Inet_StateChanged);
    m_nextFrame.setSingleShot(true);
    m_nextFrame.setTimerType(Qt::PreciseTimer);
    connect(&m_nextFrame, &QTimer::timeout, this, [this] {
        QEvent update(QEvent::UpdateRequest);
        paintFrame(&update);
    });

    // Form_Load: the harvest writes into the folder shown in Text1.
    m_harvest.setSavePathName(m_text1->text());
    m_turl->setFocus();
}

frmHarvix::~frmHarvix() = default;

void frmHarvix::createControls()
{
    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(twips::size(clientWidth, clientHeight - statusHeight));
    setCentralWidget(client);

    m_text1 = new QLineEdit(defaultSaveFolder(), client);
    m_text1->setObjectName(QStringLiteral("Text1"));
    m_text1->setGeometry(twips::rect(6240, 360, 4815, 270));
    m_text1->setReadOnly(true);
    m_text1->setStyleSheet(greyBackground);

    m_picture = new ImageViewport(client);
    m_picture->setGeometry(twips::rect(2520, 720, 8655, 5295));

    m_text2 = new QPlainTextEdit(client);
    m_text2->setObjectName(QStringLiteral("Text2"));
    m_text2->setGeometry(twips::rect(120, 6480, 11055, 1815));
    m_text2->setReadOnly(true);
    m_text2->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_text2->setStyleSheet(greyBackground);

    m_list = new QListWidget(client);
    m_list->setObjectName(QStringLiteral("List1"));
    m_list->setGeometry(twips::rect(120, 720, 2295, 5280));
    // Every entry is one line of text: the list need not measure each new entry, nor all the
    // others again, when the harvest adds one.
    m_list->setUniformItemSizes(true);

    m_turl = new QLineEdit(QStringLiteral("http://www."), client);
    m_turl->setObjectName(QStringLiteral("TURL"));
    m_turl->setGeometry(twips::rect(840, 0, 10215, 270));

    makeLabel(QStringLiteral("Label5"), QStringLiteral("Save Path"),
              twips::rect(5280, 360, 855, 255), client);
    makeLabel(QStringLiteral("Label4"), QStringLiteral("HTML Text Source"),
              twips::rect(240, 6240, 2175, 255), client);
    makeLabel(QStringLiteral("Label2"), QStringLiteral("Image Print"),
              twips::rect(2640, 480, 1575, 255), client);
    makeLabel(QStringLiteral("Label3"), QStringLiteral("Image File List"),
              twips::rect(240, 480, 2175, 255), client);
    QLabel *label1 = makeLabel(QStringLiteral("Label1"), QStringLiteral("URL"),
                               twips::rect(360, 0, 345, 195), client);
    QFont font(QStringLiteral("ＭＳ Ｐゴシック"));
    font.setPointSizeF(9.75);
    label1->setFont(font);
    label1->adjustSize();

    // TURL comes first in the tab order, so it has the focus at start.
    setTabOrder(m_turl, m_list);
    setTabOrder(m_list, m_text2);

    auto *bar = new QStatusBar(this);
    bar->setObjectName(QStringLiteral("SB"));
    bar->setSizeGripEnabled(false);
    bar->setFixedHeight(twips::toPixels(statusHeight));
    // A line of our own rather than showMessage(): menu hovering must not wipe the text.
    m_status = new StatusLine(bar);
    m_status->setObjectName(QStringLiteral("SimpleText"));
    bar->addWidget(m_status, 1);
    setStatusBar(bar);

    connect(m_turl, &QLineEdit::returnPressed, this, &frmHarvix::mnuCget_Click);
    // A click or an arrow key that changes the selection shows the entry; so does a click on
    // the entry already selected. Clearing the list or adding entries shows nothing.
    // (Focus entering the list makes its first entry current without selecting it: that shows
    // nothing.)
    connect(m_list, &QListWidget::itemSelectionChanged, this, [this] {
        if (selectedRow() >= 0)
            List1_Click();
    });
    connect(m_list, &QListWidget::itemClicked, this, [this](QListWidgetItem *item) {
        if (m_list->row(item) == m_rowAtPress)
            List1_Click();
    });
    m_list->viewport()->installEventFilter(this);
}

void frmHarvix::createMenus()
{
    auto addMenu = [this](const QString &name, const QString &caption) {
        QMenu *menu = menuBar()->addMenu(caption);
        menu->setObjectName(name);
        return menu;
    };
    auto addItem = [this](QMenu *menu, const QString &name, const QString &caption, auto handler) {
        QAction *action = menu->addAction(caption);
        action->setObjectName(name);
        connect(action, &QAction::triggered, this, handler);
        return action;
    };
    auto addSeparator = [](QMenu *menu, const QString &name) {
        menu->addSeparator()->setObjectName(name);
    };

    addItem(addMenu(QStringLiteral("mnuCgetM"), QStringLiteral("画像の読み込み")),
            QStringLiteral("mnuCget"), QStringLiteral("読み込み開始"), [this] { mnuCget_Click(); });
    addItem(addMenu(QStringLiteral("mnuStopM"), QStringLiteral("読み込み中止")),
            QStringLiteral("mnuStop"), QStringLiteral("中止する"), [this] { mnuStop_Click(); });

    QMenu *browser = addMenu(QStringLiteral("mnuBrowser"), QStringLiteral("ブラウザ"));
    addItem(browser, QStringLiteral("mnuIE"), QStringLiteral("InternetExplorer"),
            [this] { call(m_hooks.launchBrowser); });
    addSeparator(browser, QStringLiteral("mnuSep4"));
    addItem(browser, QStringLiteral("mnuSinple"), QStringLiteral("簡易ブラウザ"),
            [this] { call(m_hooks.showBrowser); });

    addItem(addMenu(QStringLiteral("mnuTool"), QStringLiteral("ツール")),
            QStringLiteral("mnuConnect"), QStringLiteral("ダイアルアップ接続"),
            [this] { call(m_hooks.showConnect); });
    addItem(addMenu(QStringLiteral("mnuHozonM"), QStringLiteral("保存場所")),
            QStringLiteral("mnuHozon"), QStringLiteral("場所を指定"), [this] { mnuHozon_Click(); });

    QMenu *help = addMenu(QStringLiteral("mnuHelpM"), QStringLiteral("ヘルプ"));
    addItem(help, QStringLiteral("mnuHelp"), QStringLiteral("ヘルプを表示"),
            [this] { call(m_hooks.showHelp); });
    addSeparator(help, QStringLiteral("mnuSep6"));
    addItem(help, QStringLiteral("mnuVersion"), QStringLiteral("バージョン情報"),
            [this] { call(m_hooks.showVersion); });

    addItem(addMenu(QStringLiteral("mnuEndM"), QStringLiteral("終了")), QStringLiteral("mnuEnd"),
            QStringLiteral("終了する"), [this] {
                // Ends the process at once: no window's closing handling runs.
                if (m_hooks.endProgram)
                    m_hooks.endProgram();
                else
                    ::_exit(0);
            });
}

void frmHarvix::call(const std::function<void()> &hook)
{
    if (hook)
        hook();
}

QString frmHarvix::SimpleText() const
{
    return m_status->text();
}

void frmHarvix::mnuCget_Click()
{
    m_harvest.run();
    // The window was closed while the harvest waited: it goes once no harvest uses it.
    if (m_deletePending && !m_harvest.isRunning())
        deleteLater();
}

void frmHarvix::mnuStop_Click()
{
    m_inet.Cancel();
}

void frmHarvix::mnuHozon_Click()
{
    frmPath dialog([this](const QString &folder) { m_text1->setText(folder); }, this);
    dialog.exec();
    m_harvest.setSavePathName(m_text1->text());
    m_text1->setText(m_harvest.savePathName());
}

void frmHarvix::Inet_StateChanged(qint16 state)
{
    if (const auto text = stateText(state))
        m_status->setText(*text);
}

int frmHarvix::selectedRow() const
{
    const QListWidgetItem *item = m_list->currentItem();
    return item && item->isSelected() ? m_list->row(item) : -1;
}

void frmHarvix::List1_Click()
{
    const int row = selectedRow();
    if (row < 0)
        return;
    const QListWidgetItem *item = m_list->item(row);
    m_harvest.setImageFile(m_text1->text() + item->text());
    try {
        m_picture->setPicture(m_pictures.load(m_harvest.imageFile()));
    } catch (const std::exception &) {
        m_prompter.MsgBox(QStringLiteral("画像ファイルがありません..."));
    }
}

QString frmHarvix::address() const
{
    return m_turl->text();
}

void frmHarvix::setPageSource(const QString &text)
{
    m_text2->setPlainText(text);
}

void frmHarvix::clearImageList()
{
    m_list->clear();
}

void frmHarvix::addImageListEntry(const QString &name)
{
    m_list->addItem(name);
}

void frmHarvix::setStatusText(const QString &text)
{
    m_status->setText(text);
}

void frmHarvix::setBusyPointer(bool busy)
{
    // Each change of the pointer is a request to the window system: the harvest asks for the
    // busy pointer once per image, the window changes it only once.
    const bool isBusy = testAttribute(Qt::WA_SetCursor) && cursor().shape() == Qt::WaitCursor;
    if (busy == isBusy)
        return;
    if (busy)
        setCursor(Qt::WaitCursor);
    else
        unsetCursor();
}

void frmHarvix::showMessage(const QString &text)
{
    // Nobody is left to read it once the window has been closed.
    if (!m_closed)
        m_prompter.MsgBox(text);
}

void frmHarvix::beep()
{
    QApplication::beep();
}

bool frmHarvix::event(QEvent *event)
{
    // While a transfer waits, the event loop turns many times per image and the harvest changes
    // the status line and the list between the turns. Painting on every turn would cost more
    // than the transfers themselves: the window paints at most once per frame of its screen,
    // and a request that comes sooner is answered by the next frame. The texts and entries are
    // all set at once, in order; the screen shows the state of each frame.
    if (event->type() == QEvent::UpdateRequest) {
        const qreal rate = screen() ? screen()->refreshRate() : 0;
        const qint64 frame = rate >= 1 ? qint64(1000 / rate) : 16;
        if (m_lastFrame.isValid() && m_lastFrame.elapsed() < frame) {
            if (!m_nextFrame.isActive())
                m_nextFrame.start(int(frame - m_lastFrame.elapsed()));
            return true;
        }
        return paintFrame(event);
    }
    return QMainWindow::event(event);
}

bool frmHarvix::paintFrame(QEvent *update)
{
    m_nextFrame.stop();
    m_lastFrame.start();
    return QMainWindow::event(update);
}

bool frmHarvix::eventFilter(QObject *watched, QEvent *event)
{
    // Remember the selection before a press changes it: a click that changed it has already
    // been shown through the row change.
    if (watched == m_list->viewport() && event->type() == QEvent::MouseButtonPress)
        m_rowAtPress = selectedRow();
    return QMainWindow::eventFilter(watched, event);
}

void frmHarvix::showEvent(QShowEvent *event)
{
    m_closed = false;
    QMainWindow::showEvent(event);
}

void frmHarvix::closeEvent(QCloseEvent *event)
{
    call(m_hooks.closing);
    if (m_harvest.isRunning()) {
        // A harvest is waiting inside this window's handler: stop its transfer and delete
        // the window only after the handler has returned.
        m_closed = true;
        if (testAttribute(Qt::WA_DeleteOnClose)) {
            setAttribute(Qt::WA_DeleteOnClose, false);
            m_deletePending = true;
        }
        m_inet.Cancel();
    }
    event->accept();
}
