// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/frmharvix.h"

#include "app/causetexts.h"
#include "app/imagelist.h"
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
#include <QSettings>
#include <QStatusBar>

#include <QCoro/QCoroTask>

namespace {

constexpr int clientWidth = 11325;
constexpr int clientHeight = 8565;
constexpr int statusHeight = 255;

const QString greyBackground = QStringLiteral("background-color: #E0E0E0;");

// The harvest menu's choice to go on past pictures that fail, kept for the user's next start.
const QString skipSetting = QStringLiteral("harvest/skipFailedImages");
// A harvest that goes on past failed pictures tries each transfer that failed for a passing
// reason twice more, as harvix-cli --retries 2 does.
constexpr int skipRetries = 2;
// Failed pictures the box lists by name; the rest are summed up by "…".
constexpr int failedImagesListed = 20;
// Failures the box's details give in the transfer's own words.
constexpr int failedImagesDetailed = 1000;

// The designed widths fit a narrow Japanese font; never cut a caption short.
void fitText(QLabel *label)
{
    if (label->sizeHint().width() > label->width())
        label->resize(label->sizeHint().width(), label->height());
}

// Lines of the page source that go into one block of Text2's document.
constexpr int linesPerBlock = 64;

// Text2's document keeps a block per paragraph, and a block costs as much memory as a short
// line of text: a page of short lines near the page limit would take gigabytes. So the page's
// lines go into blocks of many lines, broken inside a block by line separators. The box shows,
// copies and gives back (toPlainText) the same lines either way: each of CR LF, CR, LF and the
// paragraph separator ends one line, as when the page is set as it is.
QString groupedLines(const QString &page)
{
    QString out;
    out.reserve(page.size());
    int lines = 0;
    const QChar *const begin = page.constData();
    const QChar *const end = begin + page.size();
    const QChar *from = begin;
    // The text between line ends goes over in one piece: a page is mostly that.
    for (const QChar *p = begin; p != end; ++p) {
        const char16_t ch = p->unicode();
        if (ch != u'\r' && ch != u'\n' && ch != QChar::ParagraphSeparator)
            continue;
        out.append(from, p - from);
        if (ch == u'\r' && p + 1 != end && p[1] == u'\n')
            ++p;
        out.append(++lines % linesPerBlock ? QChar(QChar::LineSeparator) : QChar(u'\n'));
        from = p + 1;
    }
    out.append(from, end - from);
    return out;
}

} // namespace

frmHarvix::frmHarvix(UrlTransfer &inet, Prompter &prompter, PictureLoader &pictures,
                     QWidget *parent)
    : QMainWindow(parent), m_prompter(prompter), m_pictures(pictures), m_harvest(inet, *this)
{
    setObjectName(QStringLiteral("frmHarvix"));
    setWindowTitle(QStringLiteral("HTMLファイルを解析し，画像ファイルの取得(Harvix 1.0)"));
    // Fixed single border: no maximise button, no resizing.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);

    createControls();
    createMenus();
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    move(twips::toPixels(195), twips::toPixels(900));

    m_frame.setSingleShot(true);
    m_frame.setTimerType(Qt::PreciseTimer);
    connect(&m_frame, &QTimer::timeout, this, &frmHarvix::showFrame);

    // Form_Load: the harvest writes into the folder shown in Text1.
    m_harvest.setSavePathName(m_Text1->text());
    m_TURL->setFocus();
}

frmHarvix::~frmHarvix()
{
    // A harvest still under way ends here, while everything it reports to is still whole.
    m_harvest.stop();
}

void frmHarvix::createControls()
{
    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(twips::size(clientWidth, clientHeight - statusHeight));
    setCentralWidget(client);

    m_Text1 = twips::place(new QLineEdit(defaultSaveFolder(), client), QStringLiteral("Text1"),
                           6240, 360, 4815, 270);
    m_Text1->setReadOnly(true);
    m_Text1->setStyleSheet(greyBackground);

    m_Picture1 =
        twips::place(new ImageViewport(client), QStringLiteral("Picture1"), 2520, 720, 8655, 5295);

    m_Text2 =
        twips::place(new QPlainTextEdit(client), QStringLiteral("Text2"), 120, 6480, 11055, 1815);
    m_Text2->setReadOnly(true);
    m_Text2->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_Text2->setStyleSheet(greyBackground);

    m_List1 = twips::place(new ImageList(client), QStringLiteral("List1"), 120, 720, 2295, 5280);

    m_TURL = twips::place(new QLineEdit(QStringLiteral("http://www."), client),
                          QStringLiteral("TURL"), 840, 0, 10215, 270);

    fitText(twips::place(new QLabel(QStringLiteral("Save Path"), client), QStringLiteral("Label5"),
                         5280, 360, 855, 255));
    fitText(twips::place(new QLabel(QStringLiteral("HTML Text Source"), client),
                         QStringLiteral("Label4"), 240, 6240, 2175, 255));
    fitText(twips::place(new QLabel(QStringLiteral("Image Print"), client),
                         QStringLiteral("Label2"), 2640, 480, 1575, 255));
    fitText(twips::place(new QLabel(QStringLiteral("Image File List"), client),
                         QStringLiteral("Label3"), 240, 480, 2175, 255));
    QLabel *label1 = twips::place(new QLabel(QStringLiteral("URL"), client),
                                  QStringLiteral("Label1"), 360, 0, 345, 195);
    QFont font(QStringLiteral("ＭＳ Ｐゴシック"));
    font.setPointSizeF(9.75);
    label1->setFont(font);
    label1->adjustSize();

    // TURL comes first in the tab order, so it has the focus at start.
    setTabOrder(m_TURL, m_List1);
    setTabOrder(m_List1, m_Text2);

    auto *bar = new QStatusBar(this);
    bar->setObjectName(QStringLiteral("SB"));
    bar->setSizeGripEnabled(false);
    bar->setFixedHeight(twips::toPixels(statusHeight));
    // A line of our own rather than showMessage(): menu hovering must not wipe the text.
    m_status = new StatusLine(bar);
    m_status->setObjectName(QStringLiteral("SimpleText"));
    bar->addWidget(m_status, 1);
    // The harvest's count stands at the right, apart from the state texts.
    m_progress = new StatusLine(bar);
    m_progress->setObjectName(QStringLiteral("Progress"));
    m_progress->setAlignment(Qt::AlignRight);
    m_progress->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    m_progress->hide();
    bar->addPermanentWidget(m_progress);
    setStatusBar(bar);

    connect(m_TURL, &QLineEdit::returnPressed, this, &frmHarvix::mnuCget_Click);
    // A click or an arrow key that changes the selection shows the entry; so does a click on
    // the entry already selected. Clearing the list or adding entries shows nothing.
    // (Focus entering the list makes its first entry current without selecting it: that shows
    // nothing.)
    connect(m_List1, &QListWidget::itemSelectionChanged, this, [this] {
        if (selectedRow() >= 0)
            List1_Click();
    });
    connect(m_List1, &QListWidget::itemClicked, this, [this](QListWidgetItem *item) {
        if (m_List1->row(item) == m_rowAtPress)
            List1_Click();
    });
    m_List1->viewport()->installEventFilter(this);
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

    QMenu *harvestMenu = addMenu(QStringLiteral("mnuCgetM"), QStringLiteral("画像の読み込み"));
    addItem(harvestMenu, QStringLiteral("mnuCget"), QStringLiteral("読み込み開始"),
            [this] { mnuCget_Click(); });
    m_mnuSkip = harvestMenu->addAction(QStringLiteral("エラーの画像を飛ばして続ける"));
    m_mnuSkip->setObjectName(QStringLiteral("mnuSkip"));
    m_mnuSkip->setCheckable(true);
    m_mnuSkip->setChecked(QSettings().value(skipSetting, false).toBool());
    connect(m_mnuSkip, &QAction::toggled, this,
            [](bool checked) { QSettings().setValue(skipSetting, checked); });
    addItem(addMenu(QStringLiteral("mnuStopM"), QStringLiteral("読み込み中止")),
            QStringLiteral("mnuStop"), QStringLiteral("中止する"), [this] { mnuStop_Click(); });

    QMenu *browser = addMenu(QStringLiteral("mnuBrowser"), QStringLiteral("ブラウザ"));
    addItem(browser, QStringLiteral("mnuIE"), QStringLiteral("InternetExplorer"),
            &frmHarvix::systemBrowserRequested);
    addSeparator(browser, QStringLiteral("mnuSep4"));
    addItem(browser, QStringLiteral("mnuSinple"), QStringLiteral("簡易ブラウザ"),
            &frmHarvix::browserRequested);

    addItem(addMenu(QStringLiteral("mnuTool"), QStringLiteral("ツール")),
            QStringLiteral("mnuConnect"), QStringLiteral("ダイアルアップ接続"),
            &frmHarvix::connectRequested);
    addItem(addMenu(QStringLiteral("mnuHozonM"), QStringLiteral("保存場所")),
            QStringLiteral("mnuHozon"), QStringLiteral("場所を指定"), [this] { mnuHozon_Click(); });

    QMenu *help = addMenu(QStringLiteral("mnuHelpM"), QStringLiteral("ヘルプ"));
    addItem(help, QStringLiteral("mnuHelp"), QStringLiteral("ヘルプを表示"),
            &frmHarvix::helpRequested);
    addSeparator(help, QStringLiteral("mnuSep6"));
    addItem(help, QStringLiteral("mnuVersion"), QStringLiteral("バージョン情報"),
            &frmHarvix::versionRequested);

    addItem(addMenu(QStringLiteral("mnuEndM"), QStringLiteral("終了")), QStringLiteral("mnuEnd"),
            QStringLiteral("終了する"), &frmHarvix::endRequested);
}

ImageList *frmHarvix::List1() const
{
    return m_List1;
}

QString frmHarvix::SimpleText() const
{
    return m_status->text();
}

QString frmHarvix::progressText() const
{
    return m_progress->text();
}

void frmHarvix::mnuCget_Click()
{
    startHarvest([this] { return m_harvest.run(m_TURL->text()); });
}

void frmHarvix::startHarvest(const std::function<QCoro::Task<PageHarvest::Outcome>()> &run)
{
    if (!m_harvest.isRunning()) {
        // A harvest keeps the menu's choice it started with.
        const bool skip = m_mnuSkip->isChecked();
        m_harvest.setKeepGoing(skip);
        m_harvest.setRetries(skip ? skipRetries : UrlTransfer::kServiceRetries);
        m_failedImages.clear();
        m_found = -1;
        m_done = 0;
        m_progressPending = true;
        frameDue();
    }
    // The harvest runs on while the handler returns; its end is shown at once.
    QCoro::connect(run(), this, [this](PageHarvest::Outcome outcome) { harvestEnded(outcome); });
}

void frmHarvix::harvestEnded(PageHarvest::Outcome outcome)
{
    showFrame();
    if (outcome != PageHarvest::Outcome::Incomplete || m_failedImages.isEmpty())
        return;
    const QList<FailedImage> failed = std::exchange(m_failedImages, {});
    QStringList causes;
    QStringList messages;
    for (const FailedImage &image : failed) {
        if (causes.size() < failedImagesListed)
            causes.append(image.name + QStringLiteral("：") + image.cause);
        if (messages.size() < failedImagesDetailed)
            messages.append(image.message);
    }
    if (failed.size() > failedImagesListed)
        causes.append(QStringLiteral("…"));
    if (failed.size() > failedImagesDetailed)
        messages.append(QStringLiteral("…"));
    m_prompter.MsgBox(
        QStringLiteral("%1 個の画像を取り込めませんでした。").arg(QString::number(failed.size())),
        Prompter::Buttons::Ok, Prompter::Icon::None, Prompter::applicationTitle(),
        causes.join(QLatin1Char('\n')), messages.join(QLatin1Char('\n')));
}

void frmHarvix::harvestRendered(const std::optional<RenderedPage> &page)
{
    if (!page) {
        showMessage(PageHarvest::connectionErrorMessage(),
                    QStringLiteral("簡易ブラウザに表示中のページを読み取れませんでした。"));
        return;
    }
    if (!m_harvest.isRunning())
        m_TURL->setText(page->url);
    startHarvest(
        [this, page] { return m_harvest.runOnPage(page->html, page->url, page->baseUrl); });
}

void frmHarvix::mnuStop_Click()
{
    // Only this window's harvest stops; another window's goes on.
    m_harvest.cancel();
}

void frmHarvix::mnuHozon_Click()
{
    // A harvest goes on while the dialog is open: the folder chosen takes effect at once, for
    // the next image it writes.
    frmPath dialog(
        [this](const QString &folder) {
            m_Text1->setText(folder);
            m_harvest.setSavePathName(folder);
        },
        this);
    dialog.exec();
}

void frmHarvix::Inet_StateChanged(qint16 state)
{
    if (const auto text = stateText(state))
        setStatusText(*text);
}

int frmHarvix::selectedRow() const
{
    const QListWidgetItem *item = m_List1->currentItem();
    return item && item->isSelected() ? m_List1->row(item) : -1;
}

void frmHarvix::List1_Click()
{
    const int row = selectedRow();
    if (row < 0)
        return;
    const QListWidgetItem *item = m_List1->item(row);
    m_harvest.setImageFile(m_Text1->text() + item->text());
    try {
        m_Picture1->setPicture(m_pictures.load(m_harvest.imageFile()));
    } catch (const std::exception &) {
        m_prompter.MsgBox(QStringLiteral("画像ファイルがありません..."));
    }
}

void frmHarvix::setPageSource(const QString &text)
{
    m_Text2->setPlainText(groupedLines(text));
}

void frmHarvix::clearImageList()
{
    m_pendingEntries.clear();
    m_List1->clear();
}

void frmHarvix::imagesFound(qsizetype count)
{
    m_found = count;
    m_done = 0;
    m_progressPending = true;
    frameDue();
}

void frmHarvix::addImageListEntry(const QString &name)
{
    m_pendingEntries.append(name);
    frameDue();
}

void frmHarvix::imageSaved(const QString &)
{
    ++m_done;
    m_progressPending = true;
    frameDue();
}

void frmHarvix::imageFailed(const QString &name, const QString &, const TransferError &failure)
{
    m_failedImages.append(FailedImage{name, causeText(failure), failure.message()});
    ++m_done;
    m_progressPending = true;
    frameDue();
}

void frmHarvix::setStatusText(const QString &text)
{
    m_pendingStatus = text;
    frameDue();
}

// While a transfer waits, the event loop turns many times per image and the harvest changes the
// status line a dozen times and the list once per image between the turns. Showing each change
// would cost more than the transfers themselves (the list lays out all its entries again for
// each one added): the changes are kept and shown together at most once per frame of the
// screen, the entries in order and the newest status text.
void frmHarvix::frameDue()
{
    if (m_frame.isActive())
        return;
    const qreal rate = screen() ? screen()->refreshRate() : 0;
    const qint64 frame = rate >= 1 ? qint64(1000 / rate) : 16;
    const qint64 since = m_lastFrame.isValid() ? m_lastFrame.elapsed() : frame;
    m_frame.start(int(qMax<qint64>(0, frame - since)));
}

void frmHarvix::showFrame()
{
    m_frame.stop();
    m_lastFrame.start();
    m_List1->append(std::exchange(m_pendingEntries, {}));
    if (m_pendingStatus)
        m_status->setText(*std::exchange(m_pendingStatus, std::nullopt));
    if (std::exchange(m_progressPending, false))
        showProgress();
}

void frmHarvix::showProgress()
{
    if (m_found < 0) {
        m_progress->setText(QString());
        m_progress->hide();
        return;
    }
    if (m_progressWidthFor != m_found) {
        // Wide enough for any count up to the number found, so the status bar is laid out
        // once per harvest, not once per frame.
        m_progressWidthFor = m_found;
        const QFontMetrics metrics = m_progress->fontMetrics();
        QChar widestDigit = u'0';
        for (char16_t digit = u'1'; digit <= u'9'; ++digit) {
            if (metrics.horizontalAdvance(QChar(digit)) > metrics.horizontalAdvance(widestDigit))
                widestDigit = QChar(digit);
        }
        const QString digits(QString::number(m_found).size(), widestDigit);
        m_progress->setFixedWidth(metrics.horizontalAdvance(digits + QStringLiteral(" / ") +
                                                            digits + QStringLiteral("  ")));
    }
    m_progress->setText(QString::number(m_done) + QStringLiteral(" / ") + QString::number(m_found));
    m_progress->show();
}

void frmHarvix::setBusyPointer(bool busy)
{
    // Each change of the pointer is a request to the window system: the harvest asks for the
    // busy pointer once per image, the window changes it only once.
    if (std::exchange(m_busyPointer, busy) == busy)
        return;
    if (busy)
        setCursor(Qt::WaitCursor);
    else
        unsetCursor();
}

void frmHarvix::showMessage(const QString &text, const QString &detail)
{
    // What led to the message is on the screen before it.
    showFrame();
    m_prompter.MsgBox(text, Prompter::Buttons::Ok, Prompter::Icon::None,
                      Prompter::applicationTitle(), detail);
}

void frmHarvix::showFailure(const QString &text, const TransferError &failure)
{
    // What led to the message is on the screen before it.
    showFrame();
    m_prompter.MsgBox(text, Prompter::Buttons::Ok, Prompter::Icon::None,
                      Prompter::applicationTitle(), causeAndPlace(failure), failure.message());
}

void frmHarvix::beep()
{
    QApplication::beep();
}

bool frmHarvix::eventFilter(QObject *watched, QEvent *event)
{
    // Remember the selection before a press changes it: a click that changed it has already
    // been shown through the row change.
    if (watched == m_List1->viewport() && event->type() == QEvent::MouseButtonPress)
        m_rowAtPress = selectedRow();
    return QMainWindow::eventFilter(watched, event);
}

void frmHarvix::closeEvent(QCloseEvent *event)
{
    emit closing();
    // The harvest ends here, quietly, wherever it waits: nobody is left to read its messages.
    m_harvest.stop();
    event->accept();
}
