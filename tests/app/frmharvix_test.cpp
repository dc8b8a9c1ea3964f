// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/frmharvix.h"
#include "app/imagelist.h"
#include "platform/curl/curltransfer.h"
#include "platform/qt/qtpictureloader.h"
#include "savefolder/folderlist.h"
#include "savefolder/frmpath.h"
#include "viewer/imageviewport.h"

#include "fakeprompter.h"
#include "httpserver.h"
#include "testfiles.h"

#include <httplib.h>

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

namespace {

const QString kConnectionError = QStringLiteral("接続エラーの様です。");
const QString kFinished = QStringLiteral("取り込み終了。");

QByteArray jpeg(int width, int height, Qt::GlobalColor color)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG");
    return bytes;
}

void serve(httplib::Server &server, const std::string &path, const QByteArray &body,
           const char *type)
{
    server.Get(path, [body, type](const httplib::Request &, httplib::Response &res) {
        res.set_content(body.toStdString(), type);
    });
}

// Counts the events of one type the watched object gets (pointer changes, paints).
class EventCounter : public QObject {
public:
    EventCounter(QEvent::Type type, int *count) : m_type(type), m_count(count) {}
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == m_type)
            ++*m_count;
        return false;
    }

private:
    QEvent::Type m_type;
    int *m_count;
};

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(saveDir.isValid());
        red = jpeg(40, 30, Qt::red);
        blue = jpeg(700, 400, Qt::blue);
        auto &s = http.server();
        serve(s, "/dir/page.html", "<html><img src=\"img/red.jpg\"><IMG SRC=/dir/blue.JPG></html>",
              "text/html");
        serve(s, "/dir/three.html",
              "<img src=\"img/red.jpg\"><img src=\"img/second.jpg\"><img src=\"img/third.jpg\">",
              "text/html");
        serve(s, "/dir/noimages.html", "<p>nothing here</p>", "text/html");
        serve(s, "/dir/img/red.jpg", red, "image/jpeg");
        // Held back while a test holds the gate (at most 20 s).
        s.Get("/dir/blue.JPG", [this](const httplib::Request &, httplib::Response &res) {
            for (int i = 0; i < 2000 && holdBlue; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            res.set_content(blue.toStdString(), "image/jpeg");
        });
        serve(s, "/dir/img/second.jpg", blue, "image/jpeg");
        serve(s, "/dir/img/third.jpg", red, "image/jpeg");
        serve(s, "/dir/skip.html",
              "<img src=\"img/red.jpg\"><img src=\"img/gone.jpg\"><img src=\"img/flaky.jpg\">"
              "<img src=\"img/third.jpg\">",
              "text/html");
        // Busy at the first request, the picture at the next.
        s.Get("/dir/img/flaky.jpg", [this](const httplib::Request &, httplib::Response &res) {
            if (flakyRequests++ == 0) {
                res.status = 503;
                res.set_content("busy", "text/plain");
                return;
            }
            res.set_content(blue.toStdString(), "image/jpeg");
        });
        // 40 entries at once (one picture referenced 40 times), one held back, 40 more.
        QByteArray many = QByteArray("<img src=\"img/red.jpg\">").repeated(40);
        many += "<img src=\"/dir/blue.JPG\">";
        many += QByteArray("<img src=\"img/third.jpg\">").repeated(40);
        serve(s, "/dir/many.html", many, "text/html");
        s.Get("/dir/counted.html", [this](const httplib::Request &, httplib::Response &res) {
            ++pageRequests;
            res.set_content("<img src=\"img/red.jpg\">", "text/html");
        });
        http.start();
        inet.setTimeoutSeconds(10);
        // Each test starts from the default options (the test program's own settings folder).
        QSettings().clear();
        win = std::make_unique<frmHarvix>(inet, prompter, pictures);
        setSaveFolder(saveDir.path() + QLatin1Char('/'));
    }

    void setSaveFolder(const QString &folder)
    {
        win->Text1()->setText(folder);
        win->harvest().setSavePathName(folder);
    }

    // Runs fn once, the first time the transfer reports state while the save folder holds
    // `files` images (0 during the page and the first image, 1 during the second image...).
    void onState(qint16 state, int files, std::function<void()> fn)
    {
        auto done = std::make_shared<bool>(false);
        QObject::connect(&inet, &UrlTransfer::StateChanged, win.get(),
                         [this, state, files, fn = std::move(fn), done](int, qint16 s) {
                             if (*done || s != state || savedCount() != files)
                                 return;
                             *done = true;
                             fn();
                         });
    }

    qsizetype savedCount() const { return QDir(saveDir.path()).entryList(QDir::Files).size(); }

    // Waits, with the event loop running, until the window's harvest has ended.
    static void awaitHarvest(frmHarvix &w)
    {
        ASSERT_TRUE(QTest::qWaitFor([&w] { return !w.harvest().isRunning(); }, 20000));
    }

    // Harvests as Enter does, until the harvest has ended.
    void harvestNow()
    {
        win->mnuCget_Click();
        awaitHarvest(*win);
    }

    QByteArray saved(const QString &name) const { return readFile(saveDir.filePath(name)); }

    QStringList listEntries() const
    {
        QStringList out;
        for (int i = 0; i < win->List1()->count(); ++i)
            out.append(win->List1()->item(i)->text());
        return out;
    }

    QAction *action(const char *name) const
    {
        return win->findChild<QAction *>(QLatin1String(name));
    }

    TestHttpServer http;
    QTemporaryDir saveDir;
    CurlTransfer inet;
    FakePrompter prompter;
    QtPictureLoader pictures;
    std::unique_ptr<frmHarvix> win;
    QByteArray red, blue;
    std::atomic<int> pageRequests{0};
    std::atomic<int> flakyRequests{0};
    std::atomic<bool> holdBlue{false};
};

TEST_F(MainWindow, StartsWithItsDesignValues)
{
    EXPECT_EQ(win->windowTitle(),
              QStringLiteral("HTMLファイルを解析し，画像ファイルの取得(Harvix 1.0)"));
    frmHarvix fresh(inet, prompter, pictures);
    EXPECT_EQ(fresh.TURL()->text(), QStringLiteral("http://www."));
    EXPECT_TRUE(fresh.Text1()->isReadOnly());
    EXPECT_TRUE(fresh.Text1()->text().endsWith(QLatin1Char('/')));
    EXPECT_EQ(fresh.harvest().savePathName(), fresh.Text1()->text());
    EXPECT_TRUE(fresh.Text2()->isReadOnly());
    EXPECT_EQ(fresh.List1()->count(), 0);
    EXPECT_TRUE(fresh.SimpleText().isEmpty());
    EXPECT_FALSE(fresh.windowFlags() & Qt::WindowMaximizeButtonHint);
    // Client area 11325 x 8565 twips at 15 twips a pixel, below the menu bar.
    fresh.show();
    EXPECT_EQ(fresh.centralWidget()->width(), 755);
    EXPECT_EQ(fresh.centralWidget()->height() + fresh.statusBar()->height(), 571);
    EXPECT_EQ(fresh.TURL()->geometry(), QRect(56, 0, 681, 18));
    EXPECT_EQ(fresh.Picture1()->geometry(), QRect(168, 48, 577, 353));
    EXPECT_EQ(fresh.focusWidget(), fresh.TURL());
    QTest::keyClick(fresh.TURL(), Qt::Key_Tab);
    EXPECT_EQ(fresh.focusWidget(), fresh.List1());
}

TEST_F(MainWindow, MenusHaveTheirCaptionsInOrder)
{
    const std::pair<const char *, QStringList> menus[] = {
        {"mnuCgetM", {QStringLiteral("mnuCget"), QStringLiteral("mnuSkip")}},
        {"mnuStopM", {QStringLiteral("mnuStop")}},
        {"mnuBrowser",
         {QStringLiteral("mnuIE"), QStringLiteral("mnuSep4"), QStringLiteral("mnuSinple")}},
        {"mnuTool", {QStringLiteral("mnuConnect")}},
        {"mnuHozonM", {QStringLiteral("mnuHozon")}},
        {"mnuHelpM",
         {QStringLiteral("mnuHelp"), QStringLiteral("mnuSep6"), QStringLiteral("mnuVersion")}},
        {"mnuEndM", {QStringLiteral("mnuEnd")}},
    };
    const QList<QAction *> top = win->menuBar()->actions();
    ASSERT_EQ(top.size(), 7);
    const QStringList topCaptions{QStringLiteral("画像の読み込み"),
                                  QStringLiteral("読み込み中止"),
                                  QStringLiteral("ブラウザ"),
                                  QStringLiteral("ツール"),
                                  QStringLiteral("保存場所"),
                                  QStringLiteral("ヘルプ"),
                                  QStringLiteral("終了")};
    for (int i = 0; i < 7; ++i) {
        QMenu *menu = top[i]->menu();
        ASSERT_NE(menu, nullptr);
        EXPECT_EQ(menu->objectName(), QLatin1String(menus[i].first));
        EXPECT_EQ(top[i]->text(), topCaptions[i]);
        QStringList names;
        for (QAction *a : menu->actions())
            names.append(a->objectName());
        EXPECT_EQ(names, menus[i].second) << menus[i].first;
    }
    const std::pair<const char *, const char *> captions[] = {
        {"mnuCget", "読み込み開始"},      {"mnuSkip", "エラーの画像を飛ばして続ける"},
        {"mnuStop", "中止する"},          {"mnuIE", "InternetExplorer"},
        {"mnuSinple", "簡易ブラウザ"},    {"mnuConnect", "ダイアルアップ接続"},
        {"mnuHozon", "場所を指定"},       {"mnuHelp", "ヘルプを表示"},
        {"mnuVersion", "バージョン情報"}, {"mnuEnd", "終了する"}};
    for (const auto &[name, caption] : captions)
        EXPECT_EQ(action(name)->text(), QString::fromUtf8(caption)) << name;
    EXPECT_TRUE(action("mnuSep4")->isSeparator());
    EXPECT_TRUE(action("mnuSep6")->isSeparator());
}

TEST_F(MainWindow, EnterInTheAddressBoxHarvestsOtherKeysDoNot)
{
    win->TURL()->setText(http.url(QStringLiteral("/dir/counted.html")));
    QTest::keyClicks(win->TURL(), QStringLiteral("?a"));
    QTest::keyClick(win->TURL(), Qt::Key_Tab);
    QTest::keyClick(win->TURL(), Qt::Key_Space);
    QTest::keyClick(win->TURL(), Qt::Key_Backspace);
    EXPECT_EQ(pageRequests.load(), 0);
    EXPECT_EQ(win->List1()->count(), 0);

    QTest::keyClick(win->TURL(), Qt::Key_Return);
    awaitHarvest(*win);
    EXPECT_EQ(pageRequests.load(), 1);
    EXPECT_EQ(listEntries(), QStringList{QStringLiteral("red.jpg")});
    QTest::keyClick(win->TURL(), Qt::Key_Enter); // the keypad's Enter too
    awaitHarvest(*win);
    EXPECT_EQ(pageRequests.load(), 2);
}

TEST_F(MainWindow, StartMenuHarvestsThePage)
{
    win->TURL()->setText(http.url(QStringLiteral("/dir/page.html")));
    action("mnuCget")->trigger();
    awaitHarvest(*win);
    EXPECT_EQ(listEntries(), (QStringList{QStringLiteral("red.jpg"), QStringLiteral("blue.JPG")}));
    EXPECT_EQ(saved(QStringLiteral("red.jpg")), red);
    EXPECT_EQ(saved(QStringLiteral("blue.JPG")), blue);
    EXPECT_TRUE(win->Text2()->toPlainText().contains(QStringLiteral("img/red.jpg")));
    EXPECT_EQ(win->SimpleText(), kFinished);
    EXPECT_EQ(win->cursor().shape(), Qt::ArrowCursor) << "the default pointer is back";
    EXPECT_TRUE(prompter.shown.isEmpty());
}

TEST_F(MainWindow, FailedHarvestRestoresThePointerAndSaysSo)
{
    win->TURL()->setText(http.url(QStringLiteral("/dir/missing.html")));
    win->Text2()->setPlainText(QStringLiteral("previous"));
    harvestNow();
    EXPECT_EQ(prompter.texts(), QStringList{kConnectionError});
    EXPECT_EQ(prompter.shown.first().title, QStringLiteral("Harvix"));
    EXPECT_EQ(win->cursor().shape(), Qt::ArrowCursor);
    EXPECT_EQ(win->Text2()->toPlainText(), QStringLiteral("previous"));

    // A page the browser could not read ends the same way.
    prompter.shown.clear();
    win->harvestRendered(std::nullopt);
    EXPECT_EQ(prompter.texts(), QStringList{kConnectionError});

    prompter.shown.clear();
    win->TURL()->setText(http.url(QStringLiteral("/dir/noimages.html")));
    harvestNow();
    EXPECT_EQ(prompter.texts(), QStringList{QStringLiteral("画像ファイルがありません。")});
    EXPECT_EQ(win->SimpleText(), QStringLiteral("画像ファイルが存在しない．"));
}

TEST_F(MainWindow, PageSourceShowsAndCopiesEveryLineOfAnyLength)
{
    // Every kind of line end, empty lines, and far more lines than would be worth a block each.
    QString page = QStringLiteral("<html>\r\n\r\nCR\rLF\nPS") + QChar(QChar::ParagraphSeparator);
    for (int i = 0; i < 1000; ++i)
        page += QStringLiteral("<br>%1\n").arg(i);
    QPlainTextEdit asItIs;
    asItIs.setPlainText(page);

    win->setPageSource(page);
    EXPECT_EQ(win->Text2()->toPlainText(), asItIs.toPlainText());
    EXPECT_LT(win->Text2()->blockCount(), asItIs.blockCount() / 10);
    win->Text2()->selectAll();
    win->Text2()->copy();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), asItIs.toPlainText());
}

TEST_F(MainWindow, StateNumbersSetTheirTexts)
{
    const QStringList texts{QString(),
                            QStringLiteral("ホストのIPアドレスを調べています．"),
                            QStringLiteral("ホストのIPアドレスを見つけました．"),
                            QStringLiteral("ホストとの接続処理を行っています．"),
                            QStringLiteral("ホストと正常に接続しました．"),
                            QStringLiteral("ホストに要求を送信しています．"),
                            QStringLiteral("正常に送信しました．"),
                            QStringLiteral("ホストからの応答を受信しています．"),
                            QStringLiteral("ホストからの応答を正常に受信しました．"),
                            QStringLiteral("ホストとの接続を解除しています．"),
                            QStringLiteral("ホストとの接続を正常に解除しました．"),
                            QStringLiteral("通信中にエラーが発生しました．"),
                            QStringLiteral("要求処理が完了し，すべてのデータが受信されました．")};
    // The status line shows the newest text at the next frame of the screen.
    for (qint16 state = 12; state >= 0; --state) {
        win->setStatusText(QStringLiteral("before"));
        win->Inet_StateChanged(state);
        EXPECT_TRUE(QTest::qWaitFor([&] { return win->SimpleText() == texts[state]; }, 1000))
            << state;
    }
    win->setStatusText(QStringLiteral("kept"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return win->SimpleText() == u"kept"; }, 1000));
    for (qint16 state : {qint16(-1), qint16(13), qint16(32767)})
        win->Inet_StateChanged(state);
    QTest::qWait(50); // a few frames
    EXPECT_EQ(win->SimpleText(), QStringLiteral("kept"));
}

TEST_F(MainWindow, AnotherWindowNeitherHearsNorStopsThisWindowsHarvest)
{
    // Two main windows on the one transfer service (one opened from the browser): the other
    // one's status bar keeps its text, and its 中止する leaves this harvest alone.
    frmHarvix other(inet, prompter, pictures);
    other.setStatusText(QStringLiteral("other"));
    onState(UrlTransfer::icReceivingResponse, 0, [&] { other.mnuStop_Click(); });
    win->TURL()->setText(http.url(QStringLiteral("/dir/page.html")));
    harvestNow();
    EXPECT_EQ(win->List1()->count(), 2);
    EXPECT_EQ(win->SimpleText(), kFinished);
    EXPECT_EQ(other.SimpleText(), QStringLiteral("other"));
}

TEST_F(MainWindow, PointerTurnsBusyOnceFromTheSecondDownloadOn)
{
    // The pointer while each transfer runs: the page and the first image (list still empty)
    // with the default pointer, the second image with the busy one.
    QList<std::pair<int, Qt::CursorShape>> seen;
    QObject::connect(&inet, &UrlTransfer::StateChanged, win.get(), [&](int, qint16) {
        seen.append({int(savedCount()), win->cursor().shape()});
    });
    int changes = 0;
    EventCounter counter(QEvent::CursorChange, &changes);
    win->installEventFilter(&counter);
    win->TURL()->setText(http.url(QStringLiteral("/dir/page.html")));
    harvestNow();
    ASSERT_EQ(win->List1()->count(), 2);
    ASSERT_FALSE(seen.isEmpty());
    for (const auto &[entries, shape] : std::as_const(seen))
        EXPECT_EQ(shape, entries == 1 ? Qt::WaitCursor : Qt::ArrowCursor) << entries;
    EXPECT_EQ(win->cursor().shape(), Qt::ArrowCursor);
    EXPECT_EQ(changes, 2) << "once to busy, once back";
}

TEST_F(MainWindow, SecondHarvestWhileOneRunsIsRefusedInJapaneseAndTheFirstGoesOn)
{
    win->TURL()->setText(http.url(QStringLiteral("/dir/page.html")));
    QString refusal;
    onState(UrlTransfer::icRequesting, 0, [&] {
        win->mnuCget_Click();
        refusal = win->SimpleText();
    });
    harvestNow();
    EXPECT_EQ(refusal, PageHarvest::refusedStatusText());
    EXPECT_TRUE(prompter.shown.isEmpty());
    EXPECT_EQ(listEntries(), (QStringList{QStringLiteral("red.jpg"), QStringLiteral("blue.JPG")}));
    EXPECT_EQ(saved(QStringLiteral("blue.JPG")), blue);
    EXPECT_EQ(win->SimpleText(), kFinished);
    EXPECT_EQ(win->cursor().shape(), Qt::ArrowCursor);
}

TEST_F(MainWindow, StopMenuCancelsTheWaitingTransfer)
{
    // Even when the page has arrived already, the transfer that waits for it fails.
    win->TURL()->setText(http.url(QStringLiteral("/dir/page.html")));
    onState(UrlTransfer::icResponseReceived, 0, [&] { action("mnuStop")->trigger(); });
    harvestNow();
    EXPECT_EQ(prompter.texts(), QStringList{kConnectionError});
    EXPECT_EQ(win->List1()->count(), 0);
    EXPECT_TRUE(QDir(saveDir.path()).isEmpty());
}

TEST_F(MainWindow, ConnectionErrorBoxSaysWhyInJapaneseWithThePlaceOnALineOfItsOwn)
{
    const QString missing = http.url(QStringLiteral("/dir/missing.html"));
    const QString page = http.url(QStringLiteral("/dir/page.html"));
    const QString noFolder = saveDir.filePath(QStringLiteral("none"));
    const struct {
        const char *name;
        QString address;
        std::function<void()> arrange;
        QString informative;
        QString detailed; // in the transfer's own words, as harvix-cli says them
    } cases[] = {
        {"HTTP 404", missing, [] {},
         QStringLiteral("サーバーが HTTP 404 を返したため、読み込めませんでした。\n") + missing,
         missing + QStringLiteral(" answered with HTTP status 404")},
        {"unwritable folder", page, [&] { setSaveFolder(noFolder + QLatin1Char('/')); },
         QStringLiteral("保存場所にファイルを書き込めません。\n") + noFolder,
         QStringLiteral("cannot create a file in ") + noFolder},
        {"中止する", page,
         [&] {
             onState(UrlTransfer::icResponseReceived, 0, [&] { action("mnuStop")->trigger(); });
         },
         QStringLiteral("中止しました。\n") + page, page + QStringLiteral(" cancelled")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        prompter.shown.clear();
        setSaveFolder(saveDir.path() + QLatin1Char('/'));
        c.arrange();
        win->TURL()->setText(c.address);
        harvestNow();
        ASSERT_EQ(prompter.texts(), QStringList{kConnectionError});
        EXPECT_EQ(prompter.shown.first().informative, c.informative);
        EXPECT_TRUE(prompter.shown.first().detailed.contains(c.detailed))
            << prompter.shown.first().detailed.toStdString();
    }
}

TEST_F(MainWindow, SkipOptionGoesOnPastAFailedPictureAndListsItInOneBox)
{
    QAction *skip = action("mnuSkip");
    ASSERT_TRUE(skip->isCheckable());
    EXPECT_FALSE(skip->isChecked());
    skip->trigger();
    // The choice is remembered: a window made later starts with it.
    EXPECT_TRUE(frmHarvix(inet, prompter, pictures)
                    .findChild<QAction *>(QStringLiteral("mnuSkip"))
                    ->isChecked());

    win->TURL()->setText(http.url(QStringLiteral("/dir/skip.html")));
    harvestNow();
    EXPECT_EQ(listEntries(), (QStringList{QStringLiteral("red.jpg"), QStringLiteral("flaky.jpg"),
                                          QStringLiteral("third.jpg")}));
    EXPECT_EQ(saved(QStringLiteral("third.jpg")), red);
    EXPECT_FALSE(QFile::exists(saveDir.filePath(QStringLiteral("gone.jpg"))));
    // The passing failure (a 503) was tried again.
    EXPECT_EQ(saved(QStringLiteral("flaky.jpg")), blue);
    EXPECT_EQ(flakyRequests.load(), 2);
    EXPECT_EQ(win->SimpleText(), kFinished);
    ASSERT_EQ(prompter.shown.size(), 1);
    EXPECT_EQ(prompter.shown.first().text, QStringLiteral("1 個の画像を取り込めませんでした。"));
    EXPECT_EQ(prompter.shown.first().informative,
              QStringLiteral("gone.jpg：サーバーが HTTP 404 を返したため、読み込めませんでした。"));
    EXPECT_TRUE(
        prompter.shown.first().detailed.contains(http.url(QStringLiteral("/dir/img/gone.jpg")) +
                                                 QStringLiteral(" answered with HTTP status 404")))
        << prompter.shown.first().detailed.toStdString();
}

TEST_F(MainWindow, StatusBarCountsThePicturesAndTheListFollowsTheNewestUntilScrolledUp)
{
    win->show();
    holdBlue = true;
    win->TURL()->setText(http.url(QStringLiteral("/dir/many.html")));
    win->mnuCget_Click();
    QListWidget *list = win->List1();
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->count() == 40; }, 10000));
    EXPECT_EQ(win->progressText(), QStringLiteral("40 / 81"));
    EXPECT_TRUE(list->viewport()->rect().contains(list->visualItemRect(list->item(39))));
    // Scrolled up by the user, the list stays where it was put.
    list->verticalScrollBar()->setValue(0);
    holdBlue = false;
    awaitHarvest(*win);
    ASSERT_EQ(list->count(), 81);
    EXPECT_EQ(win->progressText(), QStringLiteral("81 / 81"));
    EXPECT_EQ(list->verticalScrollBar()->value(), 0);
    EXPECT_EQ(win->SimpleText(), kFinished);
}

TEST_F(MainWindow, ListScrollBarIsRepaintedOnlyWhenItsHandleMoves)
{
    // At the end of a long list the handle is at its smallest, at the bottom: a frame of new
    // entries scrolls the list and leaves the scroll bar as it is drawn.
    win->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(win.get()));
    QListWidget *list = win->List1();
    const auto addEntries = [&](int n) {
        const int before = list->count();
        for (int i = 0; i < n; ++i)
            win->addImageListEntry(QString::number(before + i) + QStringLiteral(".jpg"));
        return QTest::qWaitFor([&] { return list->count() == before + n; }, 5000);
    };
    int barPaints = 0;
    int viewportPaints = 0;
    EventCounter barCounter(QEvent::Paint, &barPaints);
    EventCounter viewportCounter(QEvent::Paint, &viewportPaints);
    list->verticalScrollBar()->installEventFilter(&barCounter);
    list->viewport()->installEventFilter(&viewportCounter);
    ASSERT_TRUE(addEntries(1000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return barPaints > 0; }, 5000));
    barPaints = viewportPaints = 0;
    ASSERT_TRUE(addEntries(10));
    ASSERT_TRUE(QTest::qWaitFor([&] { return viewportPaints > 0; }, 5000));
    EXPECT_EQ(barPaints, 0);
    // Scrolled up by the user, the handle moves and is drawn where it went.
    list->verticalScrollBar()->setValue(0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return barPaints > 0; }, 5000));
}

TEST_F(MainWindow, ListEntriesLookAsTheStylesOwnListDrawsThem)
{
    // List1 draws its lines itself: each in its place, elided and kept inside its row as the
    // style draws it, for Latin and Japanese names, selected or not.
    win->show();
    ImageList *list = win->List1();
    QListWidget plain(list->parentWidget());
    plain.setGeometry(list->geometry());
    plain.setUniformItemSizes(true);
    plain.show();
    const QStringList names{QStringLiteral("0001.jpg"),
                            QStringLiteral("画像ファイル一覧.jpg"),
                            QStringLiteral("a-file-name-far-too-long-for-the-list-to-show.jpg"),
                            QStringLiteral("日本語の長いファイル名は行の終わりで省かれる.jpeg"),
                            QStringLiteral("Ünïcödé ﬁle.jpg"),
                            QStringLiteral("gjpqy.jpg")};
    for (const QString &name : names)
        win->addImageListEntry(name);
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->count() == names.size(); }, 5000));
    plain.addItems(names);
    list->setCurrentRow(3);
    plain.setCurrentRow(3);
    EXPECT_EQ(list->viewport()->grab().toImage(), plain.viewport()->grab().toImage());
    // Its rows are placed and scrolled by their number, as the list view places them.
    QStringList more;
    for (int i = 0; i < 200; ++i)
        more.append(QString::number(i) + QStringLiteral(".jpg"));
    for (const QString &name : more)
        win->addImageListEntry(name);
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->count() == names.size() + more.size(); }, 5000));
    plain.addItems(more);
    plain.scrollToBottom();
    EXPECT_EQ(list->verticalScrollBar()->value(), plain.verticalScrollBar()->value());
    EXPECT_EQ(list->viewport()->grab().toImage(), plain.viewport()->grab().toImage());
    list->setCurrentRow(100);
    plain.setCurrentRow(100);
    list->scrollToItem(list->item(60), QAbstractItemView::PositionAtCenter);
    plain.scrollToItem(plain.item(60), QAbstractItemView::PositionAtCenter);
    EXPECT_EQ(list->indexAt(QPoint(5, 40)).row(), plain.indexAt(QPoint(5, 40)).row());
    EXPECT_EQ(list->viewport()->grab().toImage(), plain.viewport()->grab().toImage());
    // The keys move by the same pages, and a name wider than the list gives the same range across.
    for (const auto key : {Qt::Key_PageDown, Qt::Key_PageDown, Qt::Key_PageUp, Qt::Key_End}) {
        QTest::keyClick(list, key);
        QTest::keyClick(&plain, key);
        EXPECT_EQ(list->currentRow(), plain.currentRow()) << key;
    }
    win->addImageListEntry(names.at(2));
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->count() == plain.count() + 1; }, 5000));
    plain.addItem(names.at(2));
    // The list view lays the new entry out at its next turn of the event loop.
    QCoreApplication::processEvents();
    EXPECT_GT(plain.horizontalScrollBar()->maximum(), 0);
    EXPECT_EQ(list->horizontalScrollBar()->maximum(), plain.horizontalScrollBar()->maximum());
}

TEST_F(MainWindow, ClosingTheWindowDuringAHarvestEndsItThereAndDeletesTheWindow)
{
    frmHarvix *raw = win.get();
    raw->setAttribute(Qt::WA_DeleteOnClose);
    raw->TURL()->setText(http.url(QStringLiteral("/dir/three.html")));
    raw->show();
    QPointer<frmHarvix> guard(raw);
    // Closed once the second image has arrived, before the harvest has written it.
    bool runningAfterClose = true;
    onState(UrlTransfer::icResponseReceived, 1, [&] {
        raw->close();
        runningAfterClose = raw->harvest().isRunning();
    });
    win.release();
    raw->mnuCget_Click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return guard.isNull(); }, 20000));
    EXPECT_FALSE(runningAfterClose) << "the harvest ends as the window closes";
    EXPECT_TRUE(prompter.shown.isEmpty()) << "no message for a closed window";
    EXPECT_EQ(saved(QStringLiteral("red.jpg")), red);
    EXPECT_FALSE(QFile::exists(saveDir.filePath(QStringLiteral("second.jpg"))));
    EXPECT_FALSE(QFile::exists(saveDir.filePath(QStringLiteral("third.jpg"))));
}

TEST_F(MainWindow, AWindowDeletedDuringItsHarvestEndsItFirst)
{
    // Deleted without being closed (its owner goes) while the harvest waits for an image.
    holdBlue = true;
    win->TURL()->setText(http.url(QStringLiteral("/dir/page.html")));
    win->mnuCget_Click();
    ASSERT_TRUE(QTest::qWaitFor([this] { return savedCount() == 1; }, 10000));
    win.reset();
    holdBlue = false;
    EXPECT_TRUE(prompter.shown.isEmpty());
    EXPECT_FALSE(QFile::exists(saveDir.filePath(QStringLiteral("blue.JPG"))));
}

TEST_F(MainWindow, AKeptWindowClosedDuringAHarvestSpeaksAgainOnceShownAgain)
{
    // A window its owner keeps (not deleted on close): closed while its harvest waits, it drops
    // that harvest's messages; shown again, it is an ordinary window again.
    win->TURL()->setText(http.url(QStringLiteral("/dir/three.html")));
    win->show();
    frmHarvix *raw = win.get();
    onState(UrlTransfer::icResponseReceived, 1, [raw] { raw->close(); });
    harvestNow();
    EXPECT_TRUE(prompter.shown.isEmpty()) << "no message for a closed window";

    win->show();
    win->TURL()->setText(http.url(QStringLiteral("/dir/missing.html")));
    harvestNow();
    EXPECT_EQ(prompter.texts(), QStringList{kConnectionError});
}

TEST_F(MainWindow, SelectingAnEntryShowsTheSavedPicture)
{
    win->TURL()->setText(http.url(QStringLiteral("/dir/page.html")));
    harvestNow();
    ASSERT_EQ(win->List1()->count(), 2);
    // Adding entries showed nothing yet.
    EXPECT_EQ(win->Picture1()->imageWidth(), 2175);

    win->show();
    // An entry can be picked as soon as it is listed, while the harvest goes on.
    // The entries the harvest adds are shown by the frame clock while it waits for the next
    // image.
    holdBlue = true;
    win->mnuCget_Click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return win->List1()->count() == 1; }, 10000));
    QListWidget *list = win->List1();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(0)).center());
    EXPECT_EQ(win->Picture1()->imageWidth(), 40 * 15);
    EXPECT_TRUE(win->harvest().isRunning());
    holdBlue = false;
    awaitHarvest(*win);
    // The new harvest's entries are not selected; focus moving into the list makes an entry
    // current but shows nothing.
    win->Picture1()->setPicture(QImage());
    win->TURL()->setFocus();
    QTest::keyClick(win->TURL(), Qt::Key_Tab);
    ASSERT_EQ(win->focusWidget(), win->List1());
    EXPECT_EQ(win->Picture1()->imageWidth(), 0);

    const QRect second = win->List1()->visualItemRect(win->List1()->item(1));
    QTest::mouseClick(win->List1()->viewport(), Qt::LeftButton, {}, second.center());
    EXPECT_EQ(win->harvest().imageFile(), saveDir.path() + QStringLiteral("/blue.JPG"));
    EXPECT_EQ(win->Picture1()->imageWidth(), 700 * 15);
    EXPECT_EQ(win->Picture1()->imageHeight(), 400 * 15);

    // The arrow key selects and shows the entry above.
    win->List1()->setFocus();
    QTest::keyClick(win->List1(), Qt::Key_Up);
    EXPECT_EQ(win->Picture1()->imageWidth(), 40 * 15);

    // A file deleted after the harvest: the message, and the picture stays.
    ASSERT_TRUE(QFile::remove(saveDir.filePath(QStringLiteral("blue.JPG"))));
    QTest::mouseClick(win->List1()->viewport(), Qt::LeftButton, {}, second.center());
    EXPECT_EQ(prompter.texts(), QStringList{QStringLiteral("画像ファイルがありません...")});
    EXPECT_EQ(win->Picture1()->imageWidth(), 40 * 15);

    // A file that is not a picture is refused the same way.
    QFile junk(saveDir.filePath(QStringLiteral("red.jpg")));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly | QIODevice::Truncate));
    junk.write("not a picture");
    junk.close();
    QTest::mouseClick(win->List1()->viewport(), Qt::LeftButton, {},
                      win->List1()->visualItemRect(win->List1()->item(0)).center());
    EXPECT_EQ(prompter.shown.size(), 2);
    // Clicking the entry already selected shows it again.
    QTest::mouseClick(win->List1()->viewport(), Qt::LeftButton, {},
                      win->List1()->visualItemRect(win->List1()->item(0)).center());
    EXPECT_EQ(prompter.shown.size(), 3);
}

// Runs fn on the save dialog once it is shown modally.
void onSaveDialog(std::function<void(frmPath *)> fn)
{
    QTimer::singleShot(0, [fn] {
        auto *dialog = qobject_cast<frmPath *>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        fn(dialog);
    });
}

void choose(frmPath *dialog, const QString &folder, const char *button)
{
    ASSERT_TRUE(dialog->Dir1()->setPath(folder));
    QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("Command1")), Qt::LeftButton);
    QTest::mouseClick(dialog->findChild<QPushButton *>(QLatin1String(button)), Qt::LeftButton);
}

TEST_F(MainWindow, SaveMenuCopiesTheChosenFolderOrNothing)
{
    QTemporaryDir other;
    win->show();
    onSaveDialog([&](frmPath *d) { choose(d, other.path(), "Command3"); });
    win->mnuHozon_Click();
    EXPECT_EQ(win->Text1()->text(), other.path() + QLatin1Char('/'));
    EXPECT_EQ(win->harvest().savePathName(), other.path() + QLatin1Char('/'));

    onSaveDialog([&](frmPath *d) { choose(d, saveDir.path(), "Command2"); });
    win->mnuHozon_Click();
    EXPECT_EQ(win->harvest().savePathName(), other.path() + QLatin1Char('/'));
}

TEST_F(MainWindow, FilesAfterTheSaveDialogClosesGoToTheNewFolder)
{
    QTemporaryDir other;
    win->show();
    win->TURL()->setText(http.url(QStringLiteral("/dir/page.html")));
    // Once the first image is saved and the second is being requested (its answer held back
    // meanwhile), the user picks another folder.
    holdBlue = true;
    bool opened = false;
    onState(UrlTransfer::icRequesting, 1, [&] {
        opened = true;
        onSaveDialog([&](frmPath *d) { choose(d, other.path(), "Command3"); });
        win->mnuHozon_Click();
        holdBlue = false;
    });
    harvestNow();
    EXPECT_TRUE(opened);
    EXPECT_TRUE(prompter.shown.isEmpty());
    EXPECT_EQ(saved(QStringLiteral("red.jpg")), red);
    EXPECT_FALSE(QFile::exists(saveDir.filePath(QStringLiteral("blue.JPG"))));
    EXPECT_EQ(readFile(other.filePath(QStringLiteral("blue.JPG"))), blue);
}

} // namespace
