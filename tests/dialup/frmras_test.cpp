// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialup/frmras.h"
#include "dialup/vbras32.h"
#include "fakeprompter.h"
#include "platform/codepage.h"
#include "simremoteaccess.h"
#include "testfiles.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>

namespace {

const QString readFailed = QStringLiteral("Pswd.datファイル の読み込みに失敗しました\n");

// A prompter that also lets a test act at the moment a box is shown.
class ActingPrompter : public FakePrompter {
public:
    std::function<void(const QString &)> onShow;
    Answer MsgBox(const QString &text, Buttons buttons, Icon icon, const QString &title,
                  const QString &informative = {}, const QString &detailed = {}) override
    {
        if (onShow)
            onShow(text);
        return FakePrompter::MsgBox(text, buttons, icon, title, informative, detailed);
    }
};

class FrmRasTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QCoreApplication::instance()->setProperty("quitOnLastWindowClosed", false);
        sim.setEntries({QStringLiteral("会社"), QStringLiteral("home")});
        sim.errorTexts.insert(691, codepage::toCp932(QStringLiteral("認証に失敗しました。")));
        folder = dir.path() + QLatin1Char('/');
        programFolder = dir.filePath(QStringLiteral("program/"));
    }
    void TearDown() override
    {
        delete form;
        flushDeletes();
    }

    QString pswdPath() const { return folder + QStringLiteral("Pswd.dat"); }
    void writePswd(const QByteArray &bytes)
    {
        QFile f(pswdPath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    QByteArray readPswd() const
    {
        QFile f(pswdPath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    frmRAS *open()
    {
        form = new frmRAS(
            sim, prompter, [this](const QString &s) { status.append(s); }, nullptr, programFolder,
            folder);
        form->show();
        return form;
    }
    // Runs the deletion that closing the dialog asked for.
    static void flushDeletes()
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    template <class T> T *child(const char *name)
    {
        return form->findChild<T *>(QLatin1String(name));
    }

    QTemporaryDir dir;
    QString folder; // the user's folder of Pswd.dat
    QString programFolder;
    SimRemoteAccess sim{2};
    ActingPrompter prompter;
    QStringList status;
    QPointer<frmRAS> form;
};

TEST_F(FrmRasTest, ControlsHaveTheirNamesCaptionsAndTabOrder)
{
    writePswd("OFF\r\nOFF\r\nOFF\r\nOFF\r\n");
    open();
    EXPECT_EQ(form->objectName(), QStringLiteral("frmRAS"));
    EXPECT_EQ(form->windowTitle(), QStringLiteral("ダイアルアップ接続"));
    EXPECT_EQ(form->size(), QSize(402, 216));
    struct Caption {
        const char *name;
        const char *text;
    } captions[] = {
        {"Command1", "接続(&D)"},
        {"Command2", "切断(&H)"},
        {"Command3", "パスワードを保存する"},
        {"Command4", "キャンセル"},
        {"Command5", "パスワードをクリア"},
    };
    for (const auto &c : captions) {
        auto *button = child<QPushButton>(c.name);
        ASSERT_NE(button, nullptr) << c.name;
        EXPECT_EQ(button->text(), QString::fromUtf8(c.text)) << c.name;
    }
    EXPECT_EQ(child<QGroupBox>("Frame1")->title(), QStringLiteral("状態 . . ."));
    EXPECT_TRUE(child<QGroupBox>("Frame1")->isAncestorOf(child<QLabel>("lblStatus")));
    const auto labels = form->findChildren<QLabel *>(QStringLiteral("Label1"));
    ASSERT_EQ(labels.size(), 3);
    const char *labelTexts[] = {"エントリー名", "ユーザー名", "パスワード"};
    for (auto *label : labels)
        EXPECT_EQ(label->text(), QString::fromUtf8(labelTexts[label->property("Index").toInt()]));
    EXPECT_EQ(child<QLineEdit>("Text2")->echoMode(), QLineEdit::Password);
    EXPECT_EQ(child<QLineEdit>("Text2")->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter,
                                                            nullptr, form->Text2()),
              '*');
    EXPECT_TRUE(child<QComboBox>("Combo1")->isEditable());

    QStringList chain;
    QWidget *w = form->Combo1();
    do {
        if (w->focusPolicy() & Qt::TabFocus && !w->objectName().isEmpty() &&
            !w->objectName().startsWith(QLatin1String("qt_")))
            chain.append(w->objectName());
        w = w->nextInFocusChain();
    } while (w != form->Combo1());
    EXPECT_EQ(chain.join(QLatin1Char(' ')),
              QStringLiteral("Combo1 Text1 Text2 Command1 Command2 Command4 Command3 Command5"));
}

TEST_F(FrmRasTest, LoadListsEntriesWithNoneSelected)
{
    writePswd("OFF\r\nOFF\r\nOFF\r\nOFF\r\n");
    open();
    ASSERT_EQ(form->Combo1()->count(), 2);
    EXPECT_EQ(form->Combo1()->itemText(0), QStringLiteral("会社"));
    EXPECT_EQ(form->Combo1()->itemText(1), QStringLiteral("home"));
    EXPECT_EQ(form->Combo1()->currentText(), QString());
    EXPECT_TRUE(prompter.shown.isEmpty());
    EXPECT_TRUE(form->Command3()->isEnabled());
    EXPECT_FALSE(form->Command5()->isEnabled());
}

TEST_F(FrmRasTest, NoPswdFileOpensEmptyWithoutMessages)
{
    open();
    EXPECT_TRUE(prompter.shown.isEmpty());
    EXPECT_EQ(form->Combo1()->currentText(), QString());
    EXPECT_TRUE(form->Command3()->isEnabled());
    EXPECT_FALSE(form->Command5()->isEnabled());
}

TEST_F(FrmRasTest, UnreadablePswdFileAndCancelEachTimeGivesFiveMessages)
{
    // A Pswd.dat that cannot be opened (a folder of that name, which even root cannot read as a
    // file).
    ASSERT_TRUE(QDir().mkpath(pswdPath()));
    prompter.answers = QList<Prompter::Answer>(5, Prompter::Answer::Cancel);
    open();
    ASSERT_EQ(prompter.shown.size(), 5);
    for (const auto &box : prompter.shown) {
        EXPECT_TRUE(box.text.startsWith(readFailed));
        EXPECT_GT(box.text.size(), readFailed.size()); // followed by the failure description
        EXPECT_EQ(box.buttons, Prompter::Buttons::RetryCancel);
        EXPECT_EQ(box.icon, Prompter::Icon::Critical);
        EXPECT_EQ(box.title, QStringLiteral("passの表示"));
    }
    EXPECT_EQ(form->Combo1()->currentText(), QString());
    EXPECT_EQ(form->Text1()->text(), QString());
    EXPECT_TRUE(form->Command3()->isEnabled());
    EXPECT_FALSE(form->Command5()->isEnabled());
}

TEST_F(FrmRasTest, RetryRunsTheFailedStepAgain)
{
    // The file cannot be opened; it is put right while the first message is up, and Retry then
    // opens and reads it.
    ASSERT_TRUE(QDir().mkpath(pswdPath()));
    prompter.answers = {Prompter::Answer::Retry};
    prompter.onShow = [this](const QString &) {
        QDir(pswdPath()).removeRecursively();
        writePswd("home\r\nuser\r\nsecret\r\nON\r\n");
    };
    open();
    EXPECT_EQ(prompter.shown.size(), 1);
    EXPECT_EQ(form->Combo1()->currentText(), QStringLiteral("home"));
    EXPECT_EQ(form->Text2()->text(), QStringLiteral("secret"));
}

TEST_F(FrmRasTest, ShortFileShowsOneMessagePerMissingLine)
{
    writePswd("home\r\nuser\r\n");
    prompter.answers = {Prompter::Answer::Cancel, Prompter::Answer::Cancel};
    open();
    EXPECT_EQ(prompter.shown.size(), 2);
    EXPECT_EQ(form->Text1()->text(), QString());
    EXPECT_FALSE(form->Command5()->isEnabled());
}

TEST_F(FrmRasTest, OnlyExactFlagOnShowsSavedCredentials)
{
    struct Case {
        QByteArray flag;
        bool shown;
    } cases[] = {{"ON", true},   {"on", false},  {"ON ", false},
                 {" ON", false}, {"OFF", false}, {"", false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.flag.constData());
        writePswd(codepage::toCp932(QStringLiteral("not listed\r\nユーザー\r\npw\r\n")) + c.flag +
                  "\r\n");
        open();
        EXPECT_TRUE(prompter.shown.isEmpty());
        EXPECT_EQ(form->Combo1()->currentText(),
                  c.shown ? QStringLiteral("not listed") : QString());
        EXPECT_EQ(form->Text1()->text(), c.shown ? QStringLiteral("ユーザー") : QString());
        EXPECT_EQ(form->Text2()->text(), c.shown ? QStringLiteral("pw") : QString());
        EXPECT_EQ(form->Command3()->isEnabled(), !c.shown);
        EXPECT_EQ(form->Command5()->isEnabled(), c.shown);
        delete form;
    }
}

TEST_F(FrmRasTest, SaveWritesFourLinesForOwnerOnly)
{
    writePswd("OFF\r\nOFF\r\nOFF\r\nOFF\r\n");
    open();
    form->Combo1()->setEditText(QStringLiteral("会社"));
    form->Text1()->setText(QStringLiteral("taro"));
    form->Text2()->setText(QStringLiteral("p@ss"));
    form->Command3()->click();
    EXPECT_EQ(readPswd(), codepage::toCp932(QStringLiteral("会社\r\ntaro\r\np@ss\r\nON\r\n")));
    EXPECT_EQ(QFile::permissions(pswdPath()) & 0x0FFF,
              QFileDevice::ReadUser | QFileDevice::WriteUser);
    EXPECT_FALSE(form->Command3()->isEnabled());
    EXPECT_FALSE(form->Command5()->isEnabled()); // saving does not enable clearing
    EXPECT_TRUE(prompter.shown.isEmpty());
}

TEST_F(FrmRasTest, ValuesThatCp932CannotHoldOrWithLineBreaksAreRefusedAtSaveAndDial)
{
    const QByteArray saved = "OFF\r\nOFF\r\nOFF\r\nOFF\r\n";
    writePswd(saved);
    sim.accounts.insert("home", {"user", "secret"});
    struct Case {
        const char *field;
        QString entry, user, password;
        const char *reason; // what the message says besides the field
    } cases[] = {
        {"パスワード", QStringLiteral("home"), QStringLiteral("user"), QStringLiteral("pa😀ss"),
         "使えない文字"},
        {"ユーザー名", QStringLiteral("home"), QStringLiteral("usér"), QStringLiteral("secret"),
         "使えない文字"},
        {"エントリー名", QStringLiteral("𠮷"), QStringLiteral("user"), QStringLiteral("secret"),
         "使えない文字"},
        {"パスワード", QStringLiteral("home"), QStringLiteral("user"),
         QStringLiteral("secret\u301C"), "使えない文字"},
        {"パスワード", QStringLiteral("home"), QStringLiteral("user"),
         QStringLiteral("sec\u200Bret"), "使えない文字"},
        {"パスワード", QStringLiteral("home"), QStringLiteral("user"), QStringLiteral("secret\n"),
         "制御文字"},
        {"ユーザー名", QStringLiteral("home"), QStringLiteral("us\ter"), QStringLiteral("secret"),
         "制御文字"},
    };
    open();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.field);
        prompter.shown.clear();
        form->Combo1()->setEditText(c.entry);
        form->Text1()->setText(c.user);
        form->Text2()->setText(c.password);
        ASSERT_EQ(form->Text2()->text(), c.password);

        form->Command3()->click();
        form->Command1()->click();
        ASSERT_EQ(prompter.shown.size(), 2);
        for (const auto &box : prompter.shown) {
            EXPECT_TRUE(
                box.text.startsWith(QStringLiteral("「%1」").arg(QString::fromUtf8(c.field))))
                << box.text.toStdString();
            EXPECT_TRUE(box.text.contains(QString::fromUtf8(c.reason)));
        }
        EXPECT_EQ(readPswd(), saved);
        EXPECT_TRUE(form->Command3()->isEnabled());
        EXPECT_TRUE(sim.dials.isEmpty());
        EXPECT_TRUE(status.isEmpty());
        EXPECT_TRUE(form->isVisible());
        EXPECT_TRUE(form->Command1()->isEnabled());
    }
}

TEST_F(FrmRasTest, ClearWritesOffFourTimesAndKeepsTheFields)
{
    writePswd("home\r\nuser\r\nsecret\r\nON\r\n");
    open();
    form->Command5()->click();
    EXPECT_EQ(readPswd(), QByteArray("OFF\r\nOFF\r\nOFF\r\nOFF\r\n"));
    EXPECT_EQ(form->Text1()->text(), QStringLiteral("user"));
    EXPECT_EQ(form->Text2()->text(), QStringLiteral("secret"));
    EXPECT_FALSE(form->Command5()->isEnabled());
    EXPECT_FALSE(form->Command3()->isEnabled());

    form->Command4()->click();
    flushDeletes();
    ASSERT_TRUE(form.isNull());
    open();
    EXPECT_EQ(form->Text1()->text(), QString());
    EXPECT_FALSE(form->Command5()->isEnabled());
}

TEST_F(FrmRasTest, PswdDatIsTheUsersOwnAndAnOldOneInTheProgramFolderIsOnlyRead)
{
    folder = dir.filePath(QStringLiteral("config/harvix/"));
    ASSERT_TRUE(QDir().mkpath(programFolder));
    const QString carriedOver = programFolder + QStringLiteral("Pswd.dat");
    const QByteArray old = "home\r\nuser\r\nsecret\r\nON\r\n";
    {
        QFile f(carriedOver);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(old);
    }
    open();
    EXPECT_TRUE(prompter.shown.isEmpty());
    EXPECT_EQ(form->Text2()->text(), QStringLiteral("secret"));

    // Clearing writes the user's file, in a folder created for the owner only.
    form->Command5()->click();
    EXPECT_TRUE(prompter.shown.isEmpty());
    EXPECT_EQ(readPswd(), QByteArray("OFF\r\nOFF\r\nOFF\r\nOFF\r\n"));
    EXPECT_EQ(QFile::permissions(folder) & 0x0FFF,
              QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser);
    EXPECT_EQ(QFile::permissions(pswdPath()) & 0x0FFF,
              QFileDevice::ReadUser | QFileDevice::WriteUser);
    EXPECT_EQ(readFile(carriedOver), old);

    // From now on the user's file wins over the old one.
    delete form;
    open();
    EXPECT_EQ(form->Text2()->text(), QString());
    EXPECT_FALSE(form->Command5()->isEnabled());
}

TEST_F(FrmRasTest, FailedSaveShowsJapaneseReasonAndLeavesDialogUsable)
{
    const QString writeFailed = QStringLiteral("Pswd.datファイル の書き込みに失敗しました\n");
    QFile blocker(dir.filePath(QStringLiteral("a-file")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const struct {
        const char *name;
        QString folder;
    } cases[] = {
        {"a file where the folder should be", dir.filePath(QStringLiteral("a-file/"))},
        {"a file above the folder", dir.filePath(QStringLiteral("a-file/harvix/"))},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        folder = c.folder;
        prompter.answers = QList<Prompter::Answer>(5, Prompter::Answer::Cancel);
        open();
        prompter.shown.clear();
        form->Command3()->click();
        ASSERT_EQ(prompter.shown.size(), 1);
        EXPECT_EQ(prompter.shown[0].text,
                  writeFailed + QStringLiteral("書き込み先のフォルダーが見つかりません。"));
        EXPECT_EQ(prompter.shown[0].icon, Prompter::Icon::Critical);
        EXPECT_TRUE(form->Command3()->isEnabled());
        EXPECT_TRUE(form->isVisible());
        delete form;
        flushDeletes();
    }
}

TEST_F(FrmRasTest, SuccessfulDialHidesDialogAndKeepsTheLine)
{
    writePswd("home\r\nuser\r\nsecret\r\nON\r\n");
    sim.accounts.insert("home", {"user", "secret"});
    open();
    form->Command1()->click();
    EXPECT_EQ(status, (QStringList{QStringLiteral("ダイアル接続中です,しばらく、お待ちください。"),
                                   QStringLiteral("接続が完了しました。")}));
    ASSERT_FALSE(form.isNull());
    EXPECT_FALSE(form->isVisible());
    EXPECT_FALSE(form->Command1()->isEnabled());
    ASSERT_EQ(sim.dials.size(), 1);
    EXPECT_EQ(sim.dials[0].entry, QByteArray("home"));
    EXPECT_TRUE(sim.dials[0].domain.isEmpty());
    EXPECT_EQ(sim.connections.size(), 1);

    // Shown again from the menu: same state.
    form->show();
    EXPECT_EQ(form->lblStatus()->text(), QStringLiteral("ダイアル接続中です"));
    EXPECT_FALSE(form->Command1()->isEnabled());
    EXPECT_TRUE(prompter.shown.isEmpty());
}

TEST_F(FrmRasTest, ClosingWhileConnectedAsksAndNoKeepsTheLineUp)
{
    writePswd("home\r\nuser\r\nsecret\r\nON\r\n");
    open();
    form->Command1()->click();
    form->show();
    prompter.answers = {Prompter::Answer::No};
    form->Command4()->click();
    ASSERT_EQ(prompter.shown.size(), 1);
    EXPECT_EQ(prompter.shown[0].text, QStringLiteral("homeから切断しますか？"));
    EXPECT_EQ(prompter.shown[0].buttons, Prompter::Buttons::YesNo);
    EXPECT_EQ(prompter.shown[0].icon, Prompter::Icon::Question);
    EXPECT_EQ(prompter.shown[0].title, QStringLiteral("Harvix"));
    EXPECT_EQ(sim.connections.size(), 1);
    EXPECT_TRUE(sim.hangUps.isEmpty());
    flushDeletes();
    EXPECT_TRUE(form.isNull());
}

TEST_F(FrmRasTest, ClosingTheHiddenDialogAsksAndYesHangsUp)
{
    // What the main window does when it closes while the dialog is hidden after a dial.
    writePswd(codepage::toCp932(QStringLiteral("会社\r\nuser\r\nsecret\r\nON\r\n")));
    open();
    form->Command1()->click();
    ASSERT_FALSE(form->isVisible());
    const auto handle = form->RasSample()->Connection();
    prompter.answers = {Prompter::Answer::Yes};
    form->close();
    EXPECT_EQ(prompter.texts(), QStringList{QStringLiteral("会社から切断しますか？")});
    EXPECT_EQ(sim.hangUps, QList<RemoteAccess::Handle>{handle});
    EXPECT_TRUE(sim.connections.isEmpty());
    flushDeletes();
    EXPECT_TRUE(form.isNull());
}

TEST_F(FrmRasTest, FailedDialShowsErrorTextThenBoxAndUnloads)
{
    writePswd("home\r\nuser\r\nwrong\r\nON\r\n");
    sim.accounts.insert("home", {"user", "secret"});
    // A reason far longer than the status area: it wraps and scrolls, nothing is cut off.
    const QString reason = QStringLiteral("認証に失敗しました。").repeated(12);
    sim.errorTexts.insert(691, codepage::toCp932(reason));
    QString labelWhenBoxShown, tipWhenBoxShown;
    bool wholeReasonReachable = false;
    prompter.onShow = [&](const QString &) {
        labelWhenBoxShown = form->lblStatus()->text();
        tipWhenBoxShown = form->lblStatus()->toolTip();
        auto *area = child<QScrollArea>("lblStatusArea");
        QCoreApplication::sendPostedEvents();
        wholeReasonReachable = area->verticalScrollBar()->maximum() > 0 &&
                               area->verticalScrollBar()->maximum() + area->viewport()->height() >=
                                   form->lblStatus()->heightForWidth(area->viewport()->width());
    };
    open();
    form->Command1()->click();
    EXPECT_EQ(labelWhenBoxShown, QStringLiteral("ダイヤルアップ接続エラー：\n") + reason);
    EXPECT_EQ(tipWhenBoxShown, labelWhenBoxShown); // the whole text, however long
    EXPECT_TRUE(wholeReasonReachable);
    ASSERT_EQ(prompter.shown.size(), 1); // no disconnect question: the line is already down
    EXPECT_EQ(prompter.shown[0].text,
              QStringLiteral(
                  "ダイヤルアップ接続エラー\n設定を確認するか、又は、接続先が混雑しています。"));
    EXPECT_EQ(prompter.shown[0].informative, reason);
    EXPECT_EQ(prompter.shown[0].buttons, Prompter::Buttons::Ok);
    EXPECT_EQ(prompter.shown[0].icon, Prompter::Icon::None);
    // The main window stops saying that a dial is under way.
    EXPECT_EQ(status, (QStringList{QStringLiteral("ダイアル接続中です,しばらく、お待ちください。"),
                                   QStringLiteral("ダイヤルアップ接続エラー")}));
    EXPECT_TRUE(sim.halfOpen.isEmpty());
    flushDeletes();
    EXPECT_TRUE(form.isNull());
}

TEST_F(FrmRasTest, HangUpButtonEndsLineAndUnloadsWithoutAsking)
{
    struct Case {
        const char *name;
        bool connected;
        bool lineGoneMeanwhile;
        bool saysDisconnected;
    } cases[] = {{"connected", true, false, true},
                 {"line dropped on its own meanwhile", true, true, true},
                 {"not connected", false, false, false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        writePswd("home\r\nuser\r\nsecret\r\nON\r\n");
        sim.hangUps.clear();
        open();
        if (c.connected) {
            form->Command1()->click();
            form->show();
        }
        if (c.lineGoneMeanwhile)
            sim.connections.clear();
        status.clear();
        const auto handle = form->RasSample()->Connection();
        form->Command2()->click();
        // The label shows before the hang-up, which waits for the event loop to come round.
        EXPECT_EQ(form->lblStatus()->text(), QStringLiteral("切断しています..."));
        EXPECT_TRUE(sim.hangUps.isEmpty());
        ASSERT_TRUE(QTest::qWaitFor([this] { return form.isNull(); }, 5000));
        EXPECT_TRUE(prompter.shown.isEmpty());
        EXPECT_EQ(sim.hangUps, QList<RemoteAccess::Handle>{handle});
        EXPECT_TRUE(sim.connections.isEmpty());
        // The main window no longer says the line is connected; without a line it says nothing.
        EXPECT_EQ(status, c.saysDisconnected ? QStringList{QStringLiteral("切断しました。")}
                                             : QStringList{});
    }
}

TEST_F(FrmRasTest, DialogDeletedDuringADialEndsTheDialAndIsNotReachedByItsEnd)
{
    writePswd("home\r\nuser\r\nsecret\r\nON\r\n");
    sim.holdDials = true;
    const auto handle = sim.nextHandle;
    open();
    form->Command1()->click();
    ASSERT_EQ(sim.pendingDials(), QList<RemoteAccess::Handle>{handle});
    // Its owner goes while the dial waits: the dial is ended, and its end, which comes from the
    // event loop later, finds nothing of the dialog.
    delete form;
    EXPECT_EQ(sim.hangUps, QList<RemoteAccess::Handle>{handle});
    EXPECT_TRUE(sim.pendingDials().isEmpty());
    ASSERT_TRUE(QTest::qWaitFor([this] { return sim.hangUps.size() == 2; }, 5000));
    EXPECT_TRUE(sim.halfOpen.isEmpty());
    EXPECT_TRUE(sim.connections.isEmpty());
    EXPECT_TRUE(prompter.shown.isEmpty());
}

TEST_F(FrmRasTest, EmptyPhoneBookStillDialsTypedEntry)
{
    sim.setEntries({});
    sim.setEntries({QStringLiteral("typed")}, QStringLiteral("/elsewhere"));
    writePswd("OFF\r\nOFF\r\nOFF\r\nOFF\r\n");
    open();
    EXPECT_EQ(form->Combo1()->count(), 0);
    form->Combo1()->setEditText(QStringLiteral("typed"));
    prompter.answers = {Prompter::Answer::Ok};
    form->Command1()->click();
    ASSERT_EQ(sim.dials.size(), 1);
    EXPECT_EQ(sim.dials[0].entry, QByteArray("typed"));
}

} // namespace
