// SPDX-License-Identifier: GPL-3.0-or-later
#include "savefolder/drivelist.h"
#include "savefolder/filelist.h"
#include "savefolder/folderlist.h"
#include "savefolder/frmpath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

const QString kDefault = QStringLiteral("/home/user/Documents/");

class SaveDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        ASSERT_TRUE(QDir(tmp.path()).mkpath(QStringLiteral("pics/deeper")));
        ASSERT_TRUE(QDir(tmp.path()).mkpath(QStringLiteral("other")));
        QFile file(tmp.filePath(QStringLiteral("pics/a.jpg")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        dialog = std::make_unique<frmPath>(
            [this](const QString &folder) { written.append(folder); }, nullptr, kDefault);
    }

    QPushButton *button(const char *name)
    {
        return dialog->findChild<QPushButton *>(QLatin1String(name));
    }

    QTemporaryDir tmp;
    QStringList written;
    std::unique_ptr<frmPath> dialog;
};

TEST_F(SaveDialog, ButtonsHaveTheirCaptionsAndNoneAnswersEnter)
{
    const std::pair<const char *, const char *> buttons[] = {{"Command1", "指定"},
                                                             {"Command2", "キャンセル"},
                                                             {"Command3", "OK"},
                                                             {"Command4", "デフォルト"}};
    for (const auto &[name, caption] : buttons) {
        QPushButton *b = button(name);
        ASSERT_NE(b, nullptr) << name;
        EXPECT_EQ(b->text(), QString::fromUtf8(caption));
        EXPECT_FALSE(b->isDefault());
        EXPECT_FALSE(b->autoDefault());
    }
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("保存"));
    EXPECT_EQ(dialog->Text1()->text(), kDefault);
    EXPECT_TRUE(dialog->Text1()->isReadOnly());
}

TEST_F(SaveDialog, OkAndDefaultWithoutSpecifyingGiveTheDefaultFolder)
{
    for (const char *name : {"Command3", "Command4"}) {
        written.clear();
        dialog = std::make_unique<frmPath>([this](const QString &f) { written.append(f); }, nullptr,
                                           kDefault);
        dialog->Dir1()->setPath(tmp.path());
        QTest::mouseClick(button(name), Qt::LeftButton);
        EXPECT_EQ(written, QStringList{kDefault}) << name;
        EXPECT_EQ(dialog->result(), QDialog::Accepted);
    }
}

TEST_F(SaveDialog, SpecifyTakesTheOpenFolderWithOneSlash)
{
    ASSERT_TRUE(dialog->Dir1()->setPath(tmp.filePath(QStringLiteral("pics"))));
    QTest::mouseClick(button("Command1"), Qt::LeftButton);
    EXPECT_EQ(dialog->Text1()->text(), tmp.filePath(QStringLiteral("pics")) + QLatin1Char('/'));
    EXPECT_TRUE(written.isEmpty()) << "the dialog stays open and hands nothing over yet";

    ASSERT_TRUE(dialog->Dir1()->setPath(QStringLiteral("/")));
    QTest::mouseClick(button("Command1"), Qt::LeftButton);
    EXPECT_EQ(dialog->Text1()->text(), QStringLiteral("/"));

    QTest::mouseClick(button("Command3"), Qt::LeftButton);
    EXPECT_EQ(written, QStringList{QStringLiteral("/")});
}

TEST_F(SaveDialog, SpecifyThenCancelChangesNothing)
{
    ASSERT_TRUE(dialog->Dir1()->setPath(tmp.path()));
    QTest::mouseClick(button("Command1"), Qt::LeftButton);
    QTest::mouseClick(button("Command2"), Qt::LeftButton);
    EXPECT_TRUE(written.isEmpty());
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
}

TEST_F(SaveDialog, HighlightingAFolderDoesNotOpenItButEnterDoes)
{
    FolderList *dir = dialog->Dir1();
    // The entries shown in bold: the mark of the open folder.
    const auto marked = [dir] {
        QStringList names;
        for (int i = 0; i < dir->count(); ++i) {
            if (dir->item(i)->font().bold())
                names.append(dir->item(i)->text().trimmed());
        }
        return names;
    };
    ASSERT_TRUE(dir->setPath(tmp.path()));
    const auto matches = dir->findItems(QStringLiteral("pics"), Qt::MatchEndsWith);
    ASSERT_EQ(matches.size(), 1);
    dir->setCurrentItem(matches.first());
    QTest::mouseClick(button("Command1"), Qt::LeftButton);
    EXPECT_EQ(dialog->Text1()->text(), tmp.path() + QLatin1Char('/'));
    // The highlighted entry is not the open folder, and the open folder keeps its mark.
    EXPECT_EQ(marked(), QStringList{QFileInfo(tmp.path()).fileName()});

    // Enter opens it: the folder list moves there and the file list follows.
    dialog->show();
    dir->setFocus();
    QTest::keyClick(dir, Qt::Key_Return);
    EXPECT_EQ(dir->path(), tmp.filePath(QStringLiteral("pics")));
    EXPECT_EQ(dialog->File1()->path(), tmp.filePath(QStringLiteral("pics")));
    EXPECT_EQ(marked(), QStringList{QStringLiteral("pics")});
    ASSERT_EQ(dialog->File1()->count(), 1);
    EXPECT_EQ(dialog->File1()->item(0)->text(), QStringLiteral("a.jpg"));
    // Its subfolder is listed below it; its ancestors above it.
    EXPECT_EQ(dir->findItems(QStringLiteral("deeper"), Qt::MatchEndsWith).size(), 1);
    EXPECT_EQ(dir->item(0)->text(), QStringLiteral("/"));
}

TEST_F(SaveDialog, UnreadableFolderOrDriveIsRefusedAndTheListsStay)
{
    FolderList *dir = dialog->Dir1();
    ASSERT_TRUE(dir->setPath(tmp.path()));
    const int rows = dir->count();
    EXPECT_FALSE(dir->setPath(tmp.filePath(QStringLiteral("missing"))));
    EXPECT_FALSE(dir->setPath(tmp.filePath(QStringLiteral("pics/a.jpg"))));
    EXPECT_EQ(dir->path(), tmp.path());
    EXPECT_EQ(dir->count(), rows);

    // A drive whose root cannot be opened: the drive list goes back to where it was.
    DriveList *drive = dialog->Drive1();
    const QString before = drive->drive();
    drive->addItem(tmp.filePath(QStringLiteral("gone")));
    drive->setCurrentIndex(drive->count() - 1);
    EXPECT_EQ(drive->drive(), before);
    EXPECT_EQ(dir->path(), tmp.path());
}

TEST_F(SaveDialog, ChoosingADriveMovesTheFolderListToItsRoot)
{
    DriveList *drive = dialog->Drive1();
    int other = -1;
    for (int i = 0; i < drive->count() && other < 0; ++i) {
        if (drive->itemText(i) != drive->drive() && QDir(drive->itemText(i)).isReadable())
            other = i;
    }
    if (other < 0)
        GTEST_SKIP() << "this machine has a single readable file system";
    const QString root = drive->itemText(other);
    drive->setCurrentIndex(other);
    EXPECT_EQ(drive->drive(), root);
    EXPECT_EQ(dialog->Dir1()->path(), QDir(root).absolutePath());
    EXPECT_EQ(dialog->File1()->path(), QDir(root).absolutePath());
}

TEST_F(SaveDialog, CloseBoxCopiesNothing)
{
    dialog->show();
    ASSERT_TRUE(dialog->Dir1()->setPath(tmp.path()));
    QTest::mouseClick(button("Command1"), Qt::LeftButton);
    dialog->close();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_TRUE(written.isEmpty());
}

TEST_F(SaveDialog, EscapeDoesNotCloseTheDialog)
{
    dialog->show();
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(written.isEmpty());
}

} // namespace
