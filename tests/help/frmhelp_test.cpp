// SPDX-License-Identifier: GPL-3.0-or-later
#include "help/frmhelp.h"
#include "help/helptext.h"

#include "../support/fakeprompter.h"
#include "platform/codepage.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

const QString missingMessage = u"Help.txtファイルがありません。"_s;

class FrmHelpTest : public ::testing::Test {
protected:
    QString folder() const { return dir.path() + u'/'; }

    void writeHelp(const QByteArray &bytes)
    {
        QFile file(folder() + u"Help.txt"_s);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    QPlainTextEdit *open(const QString &programFolder)
    {
        window = new frmHelp(prompter, nullptr, programFolder);
        return window->findChild<QPlainTextEdit *>(u"Text1"_s);
    }

    void TearDown() override { delete window.data(); }

    QTemporaryDir dir;
    FakePrompter prompter;
    QPointer<frmHelp> window;
};

TEST_F(FrmHelpTest, MissingFileShowsTheMessageOnceThenAnEmptyWindow)
{
    QPlainTextEdit *text = open(folder());
    ASSERT_NE(text, nullptr);
    ASSERT_EQ(prompter.shown.size(), 1);
    EXPECT_EQ(prompter.shown[0].text, missingMessage);
    EXPECT_EQ(prompter.shown[0].buttons, Prompter::Buttons::Ok);
    EXPECT_EQ(prompter.shown[0].icon, Prompter::Icon::None);
    EXPECT_EQ(prompter.shown[0].title, u"Harvix"_s);
    EXPECT_TRUE(text->toPlainText().isEmpty());
    EXPECT_EQ(window->windowTitle(), u"Help"_s);
}

TEST_F(FrmHelpTest, UnreadableFileShowsTheSameMessage)
{
    // A folder named Help.txt cannot be read as a file.
    ASSERT_TRUE(QDir(dir.path()).mkdir(u"Help.txt"_s));
    QPlainTextEdit *text = open(folder());
    EXPECT_EQ(prompter.texts(), QStringList{missingMessage});
    EXPECT_TRUE(text->toPlainText().isEmpty());
}

TEST_F(FrmHelpTest, ShowsEveryLineOnItsOwnLine)
{
    writeHelp(codepage::toCp932(u"使い方\r\nb\r\nc"_s));
    QPlainTextEdit *text = open(folder());
    EXPECT_TRUE(prompter.shown.isEmpty());
    // Three lines, each followed by a line end: the caret can go to an empty fourth line.
    EXPECT_EQ(text->document()->blockCount(), 4);
    EXPECT_EQ(text->toPlainText(), u"使い方\nb\nc\n"_s);
}

TEST_F(FrmHelpTest, EmptyFileGivesAnEmptyBoxWithoutMessage)
{
    writeHelp({});
    QPlainTextEdit *text = open(folder());
    EXPECT_TRUE(prompter.shown.isEmpty());
    EXPECT_TRUE(text->toPlainText().isEmpty());
}

TEST_F(FrmHelpTest, TextBoxFillsTheFixedClientAreaAndBackCloses)
{
    writeHelp("x\r\n");
    QPlainTextEdit *text = open(folder());
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    EXPECT_EQ(text->geometry(), QRect(QPoint(0, 0), QSize(650, 433)));
    EXPECT_EQ(text->parentWidget()->size(), QSize(650, 433));
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    EXPECT_FALSE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(window->windowFlags() & Qt::WindowMinimizeButtonHint);

    auto *back = window->findChild<QAction *>(u"mnuModoru"_s);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->text(), u"戻る"_s);
    back->trigger();
    EXPECT_TRUE(QTest::qWaitFor([this] { return window.isNull(); }, 2000));
}

TEST_F(FrmHelpTest, ShippedManualLoadsFromTheProgramFolderAndExplainsEveryMessage)
{
    // The build puts Help.txt beside the executables, this test's among them.
    QFile file(QCoreApplication::applicationDirPath() + u"/Help.txt"_s);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    const QString manual = codepage::fromCp932(bytes);
    EXPECT_EQ(codepage::toCp932(manual), bytes) << "not clean CP932";
    EXPECT_FALSE(manual.contains(QChar::ReplacementCharacter));
    EXPECT_EQ(bytes.count("\n"), bytes.count("\r\n")) << "a line end is not CR LF";

    const QString messages[] = {
        u"画像ファイルがありません。"_s,
        u"画像ファイルが存在しない．"_s,
        u"接続エラーの様です。"_s,
        u"取り込み終了。"_s,
        u"画像ファイルがありません..."_s,
        u"通信中にエラーが発生しました．"_s,
        u"要求処理が完了し，すべてのデータが受信されました．"_s,
        u"ダイアル接続中です,しばらく、お待ちください。"_s,
        u"接続が完了しました。"_s,
        u"ダイヤルアップ接続エラー"_s,
        u"設定を確認するか、又は、接続先が混雑しています。"_s,
        u"から切断しますか？"_s,
        u"Pswd.datファイル の読み込みに失敗しました"_s,
        missingMessage,
        u"harvix-cli scan"_s,
        u"harvix-cli harvest [オプション] URL SAVE_DIR"_s,
    };
    for (const QString &m : messages)
        EXPECT_TRUE(manual.contains(m)) << m.toStdString();

    QPlainTextEdit *text = open(MyPath());
    EXPECT_TRUE(prompter.shown.isEmpty());
    EXPECT_EQ(text->toPlainText(), helpTextFromCp932(bytes).replace(u"\r\n"_s, u"\n"_s));
}

} // namespace
