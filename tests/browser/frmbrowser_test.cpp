// SPDX-License-Identifier: GPL-3.0-or-later
#include "browser/frmbrowser.h"
#include "recordingwebview.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QWindow>

#include <gtest/gtest.h>

#include <optional>
#include <string_view>

using namespace Qt::StringLiterals;

namespace {

class FrmBrowserTest : public ::testing::Test {
protected:
    void SetUp() override { open(); }
    void TearDown() override { delete window.data(); }

    void open()
    {
        window = new frmBrowser(RecordingWebView::factory(log), [this](const QString &address) {
            if (mainWindowFails)
                throw std::runtime_error("main window gone");
            handedOver = address;
        });
        combo = window->findChild<QComboBox *>(u"Combo1"_s);
        ASSERT_NE(combo, nullptr);
    }

    // Waits for a closed window to be destroyed.
    bool destroyed()
    {
        return QTest::qWaitFor([this] { return window.isNull(); }, 2000);
    }

    std::shared_ptr<RecordingWebView::Log> log = std::make_shared<RecordingWebView::Log>();
    QPointer<frmBrowser> window;
    QComboBox *combo = nullptr;
    std::optional<QString> handedOver;
    bool mainWindowFails = false;
};

TEST_F(FrmBrowserTest, OpensEmptyWithPresetsAndNavigatesToTheEmptyAddress)
{
    EXPECT_EQ(window->windowTitle(), u"Internet Browser"_s);
    EXPECT_EQ(log->calls, QStringList{u"Navigate:"_s});
    EXPECT_TRUE(combo->currentText().isEmpty());
    ASSERT_EQ(combo->count(), 4);
    EXPECT_EQ(combo->itemText(0), u"c:\\home\\index.htm"_s);
    EXPECT_TRUE(combo->itemText(1).endsWith(u'/'));
    EXPECT_TRUE(combo->itemText(2).endsWith(u"/index.htm"_s));
    EXPECT_EQ(QUrl(combo->itemText(2)).path().count(u'/'), 4); // three folders deep
    EXPECT_TRUE(combo->itemText(3).endsWith(u'/'));
    auto *label = window->findChild<QLabel *>(u"Label3"_s);
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), u"URL"_s);
    auto *status = window->findChild<QStatusBar *>(u"StatusBar1"_s);
    ASSERT_NE(status, nullptr);
    EXPECT_TRUE(status->currentMessage().isEmpty());
    EXPECT_NE(window->findChild<QWidget *>(u"WB"_s), nullptr);
    // Back, Front and Stop show their 16 x 16 picture above the caption; the others none.
    auto *toolbar = window->findChild<QToolBar *>(u"Toolbar1"_s);
    ASSERT_EQ(toolbar->actions().size(), 8);
    for (int i = 0; i < 7; ++i) {
        const QPixmap image = toolbar->actions().at(i)->icon().pixmap(16, 16);
        EXPECT_EQ(!image.isNull(), i < 3) << i;
    }
}

TEST_F(FrmBrowserTest, EnterNavigatesToTheTypedTextAndKeepsThePresetListFixed)
{
    QLineEdit *edit = combo->lineEdit();
    QTest::keyClick(edit, Qt::Key_Return); // an empty box asks for the empty address again
    EXPECT_EQ(log->calls, (QStringList{u"Navigate:"_s, u"Navigate:"_s}));
    QTest::keyClicks(edit, u" http://a/b c"_s);
    EXPECT_EQ(log->calls.size(), 2); // typing alone does not navigate
    QTest::keyClick(edit, Qt::Key_Return);
    QTest::keyClick(edit, Qt::Key_Enter);
    EXPECT_EQ(log->calls, (QStringList{u"Navigate:"_s, u"Navigate:"_s, u"Navigate: http://a/b c"_s,
                                       u"Navigate: http://a/b c"_s}));
    EXPECT_EQ(combo->count(), 4);
    EXPECT_EQ(combo->currentText(), u" http://a/b c"_s);
}

TEST_F(FrmBrowserTest, EnterTypedIntoTheWindowNavigates)
{
    // Keys from the keyboard go to the window, which hands them to its focus widget; the box
    // holds the focus for its line edit, so this is the path of a real key press.
    window->show();
    QWindow *handle = window->windowHandle();
    ASSERT_NE(handle, nullptr);
    combo->setFocus();
    for (char c : std::string_view("http://a/"))
        QTest::keyClick(handle, c);
    EXPECT_EQ(combo->currentText(), u"http://a/"_s);
    EXPECT_EQ(log->calls, QStringList{u"Navigate:"_s});
    QTest::keyClick(handle, Qt::Key_Return);
    EXPECT_EQ(log->calls, (QStringList{u"Navigate:"_s, u"Navigate:http://a/"_s}));
    QTest::keyClick(handle, Qt::Key_Enter);
    EXPECT_EQ(log->calls,
              (QStringList{u"Navigate:"_s, u"Navigate:http://a/"_s, u"Navigate:http://a/"_s}));
}

TEST_F(FrmBrowserTest, ThePaneHasTheFocusFirstThenTheAddressBox)
{
    window->show();
    // Without a window manager (Xvfb) nothing activates a new window by itself.
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    QWidget *pane = QApplication::focusWidget();
    ASSERT_NE(pane, nullptr);
    EXPECT_EQ(pane->objectName(), QStringLiteral("WB"));
    QTest::keyClick(pane, Qt::Key_Tab);
    auto *combo = window->findChild<QComboBox *>(QStringLiteral("Combo1"));
    QWidget *next = QApplication::focusWidget();
    EXPECT_TRUE(next == combo || next == combo->lineEdit());
}

TEST_F(FrmBrowserTest, ChoosingAPresetOnlyChangesTheBox)
{
    combo->setCurrentIndex(2);
    EXPECT_EQ(combo->currentText(), frmBrowser::presetAddresses().at(2));
    EXPECT_EQ(log->calls.size(), 1);
    window->Toolbar1_ButtonClick(u"New"_s);
    EXPECT_EQ(log->calls.last(), u"Navigate:"_s + frmBrowser::presetAddresses().at(2));
}

TEST_F(FrmBrowserTest, ToolbarKeysAreMatchedCaseSensitively)
{
    struct Case {
        QString key;
        QString expected; // empty: nothing happens
    };
    const Case cases[] = {
        {u"Back"_s, u"GoBack"_s},
        {u"Front"_s, u"GoForward"_s},
        {u"Stop"_s, u"Stop"_s},
        {u"Home"_s, u"GoHome"_s},
        {u"New"_s, u"Navigate:typed"_s},
        {u"back"_s, {}},
        {u"FRONT"_s, {}},
        {u"new"_s, {}},
        {u"exit"_s, {}},
        {u"get"_s, {}},
        {u"Get "_s, {}},
        {u"戻る"_s, {}},
        {u""_s, {}},
    };
    combo->setEditText(u"typed"_s);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.key.toStdString());
        log->calls.clear();
        window->Toolbar1_ButtonClick(c.key);
        EXPECT_EQ(log->calls, c.expected.isEmpty() ? QStringList{} : QStringList{c.expected});
        EXPECT_FALSE(handedOver.has_value());
        ASSERT_FALSE(window.isNull());
        EXPECT_FALSE(window->testAttribute(Qt::WA_WState_ExplicitShowHide) && window->isHidden());
    }
}

TEST_F(FrmBrowserTest, ClickingUpdateNavigatesToTheBoxText)
{
    window->show();
    combo->setEditText(u"http://127.0.0.1/x.htm"_s);
    auto *toolbar = window->findChild<QToolBar *>(u"Toolbar1"_s);
    ASSERT_EQ(toolbar->actions().size(), 8);
    QAction *action = toolbar->actions().at(5);
    EXPECT_EQ(action->text(), u"更新"_s);
    QWidget *update = toolbar->widgetForAction(action);
    EXPECT_EQ(update->size(), QSize(74, 35));
    QTest::mouseClick(update, Qt::LeftButton);
    EXPECT_EQ(log->calls.last(), u"Navigate:http://127.0.0.1/x.htm"_s);
}

TEST_F(FrmBrowserTest, PaneFailuresAreIgnored)
{
    log->failing = true;
    for (const QString &key : {u"Back"_s, u"Front"_s, u"Stop"_s, u"Home"_s, u"New"_s})
        EXPECT_NO_THROW(window->Toolbar1_ButtonClick(key));
    EXPECT_EQ(log->calls.size(), 6);
    EXPECT_FALSE(window.isNull());
}

TEST_F(FrmBrowserTest, GetHandsOverTheBoxTextAndCloses)
{
    window->show();
    combo->setEditText(u"http://host/dir/page.html"_s);
    window->Toolbar1_ButtonClick(u"Get"_s);
    ASSERT_TRUE(handedOver.has_value());
    EXPECT_EQ(*handedOver, u"http://host/dir/page.html"_s);
    EXPECT_TRUE(destroyed());
    EXPECT_EQ(log->calls, QStringList{u"Navigate:"_s}); // nothing fetched or navigated
}

TEST_F(FrmBrowserTest, GetWithAnEmptyBoxHandsOverTheEmptyText)
{
    window->show();
    log->calls.clear();
    window->Toolbar1_ButtonClick(u"Get"_s);
    ASSERT_TRUE(handedOver.has_value());
    EXPECT_EQ(*handedOver, QString());
    EXPECT_TRUE(destroyed());
    EXPECT_TRUE(log->calls.isEmpty());
}

TEST_F(FrmBrowserTest, GetStillClosesWhenTheMainWindowFails)
{
    window->show();
    mainWindowFails = true;
    window->Toolbar1_ButtonClick(u"Get"_s);
    EXPECT_TRUE(destroyed());
}

TEST_F(FrmBrowserTest, ReopeningAfterExitStartsEmpty)
{
    window->show();
    combo->setEditText(u"typed"_s);
    window->Toolbar1_ButtonClick(u"Exit"_s);
    ASSERT_TRUE(destroyed());
    EXPECT_FALSE(handedOver.has_value());

    log->calls.clear();
    open();
    EXPECT_EQ(log->created, 2);
    EXPECT_TRUE(combo->currentText().isEmpty());
    EXPECT_EQ(combo->count(), 4);
    EXPECT_EQ(log->calls, QStringList{u"Navigate:"_s});
}

TEST(BrowserLayoutRule, GivesPaneAndBoxSizesInTwips)
{
    struct Case {
        float clientWidth, clientHeight;
        float wbWidth, wbHeight, comboWidth;
    };
    const Case cases[] = {
        {9315, 7500, 9215, 6300, 8495}, // the first client area
        {15000, 12000, 14900, 10800, 14180},
        {900, 1200, 800, 0, 80},
        {0, 0, -100, -1200, -820}, // minimised: below the margins
    };
    for (const Case &c : cases) {
        const BrowserLayout layout = browserLayoutFor(c.clientWidth, c.clientHeight);
        EXPECT_FLOAT_EQ(layout.wbWidth, c.wbWidth);
        EXPECT_FLOAT_EQ(layout.wbHeight, c.wbHeight);
        EXPECT_FLOAT_EQ(layout.comboWidth, c.comboWidth);
    }
}

TEST_F(FrmBrowserTest, ResizingAppliesTheLayoutRuleWithoutMovingAnything)
{
    window->show();
    QWidget *pane = window->findChild<QWidget *>(u"WB"_s);
    auto *toolbar = window->findChild<QToolBar *>(u"Toolbar1"_s);
    auto *status = window->findChild<QStatusBar *>(u"StatusBar1"_s);
    struct Case {
        QSize client;
        QSize pane;
        int comboWidth;
    };
    const Case cases[] = {
        {{621, 500}, {614, 420}, 566}, // 9315 x 7500 twips: 9215 x 6300 and 8495
        {{1000, 800}, {993, 720}, 945},
        {{50, 70}, {43, 0}, 0}, // smaller than the margins: clamped at zero
        {{1, 1}, {0, 0}, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.client.width());
        window->resize(c.client);
        EXPECT_EQ(pane->size(), c.pane);
        EXPECT_EQ(combo->width(), c.comboWidth);
        EXPECT_EQ(pane->pos(), QPoint(8, 64));
        EXPECT_EQ(combo->pos(), QPoint(48, 40));
        EXPECT_EQ(toolbar->width(), c.client.width());
        EXPECT_EQ(status->width(), c.client.width());
    }
    window->resize(621, 500);
    EXPECT_EQ(status->geometry().bottom(), 499);
}

TEST_F(FrmBrowserTest, MinimisingDoesNotFail)
{
    window->show();
    window->showMinimized();
    QCoreApplication::processEvents();
    window->showNormal();
    QCoreApplication::processEvents();
    EXPECT_EQ(log->calls.size(), 1);
}

} // namespace
