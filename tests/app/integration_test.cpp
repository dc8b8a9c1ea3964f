// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/frmharvix.h"
#include "app/harvixapp.h"
#include "browser/frmbrowser.h"
#include "dialup/frmras.h"
#include "platform/curl/curltransfer.h"
#include "platform/programlauncher.h"
#include "platform/qt/qtpictureloader.h"
#include "platform/webengine/webengineloader.h"
#include "simremoteaccess.h"

#include "fakeprompter.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class NoLauncher : public ProgramLauncher {
public:
    qint64 startDetached(const QString &, const QStringList &) override { return 0; }
};

void flushDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// The program's windows wired as main() wires them, over a simulated dial-up service.
class Program : public ::testing::Test, public AppWindows {
protected:
    Program()
    {
        ras.setEntries({QStringLiteral("Office")});
        app = std::make_unique<HarvixApp>(inet, prompter, pictures, launcher, *this);
        main = app->showMainWindow();
    }

    QWidget *makeConnect(HarvixApp &h) override
    {
        return new frmRAS(
            ras, prompter, [&h](const QString &t) { h.setStatusText(t); }, nullptr,
            programFolder.path() + QLatin1Char('/'),
            programFolder.path() + QStringLiteral("/config/harvix/"));
    }
    QWidget *makeBrowser(HarvixApp &h) override
    {
        return new frmBrowser([](QWidget *parent) { return createBlankWebView(parent); },
                              [&h](const QString &a) { h.handToHarvest(a); });
    }
    QWidget *makeHelp(HarvixApp &) override { return nullptr; }
    QWidget *makeVersion(HarvixApp &) override { return nullptr; }

    void trigger(const char *name) { main->findChild<QAction *>(QLatin1String(name))->trigger(); }

    QTemporaryDir programFolder;
    CurlTransfer inet;
    FakePrompter prompter;
    QtPictureLoader pictures;
    NoLauncher launcher;
    SimRemoteAccess ras{2};
    std::unique_ptr<HarvixApp> app;
    frmHarvix *main = nullptr;
};

TEST_F(Program, DialUpReportsToTheStatusBarAndHangsUpWhenTheMainWindowCloses)
{
    // No Pswd.dat yet: answer Cancel to every reading step.
    prompter.answers = QList<Prompter::Answer>(5, Prompter::Answer::Cancel);
    trigger("mnuConnect");
    auto *dialog = qobject_cast<frmRAS *>(app->connectWindow());
    ASSERT_NE(dialog, nullptr);
    dialog->Combo1()->setCurrentIndex(dialog->Combo1()->findText(QStringLiteral("Office")));
    dialog->Text1()->setText(QStringLiteral("user"));
    dialog->Text2()->setText(QStringLiteral("secret"));
    QTest::mouseClick(dialog->Command1(), Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor(
        [this] { return main->SimpleText() == QStringLiteral("接続が完了しました。"); }, 10000))
        << prompter.texts().join(QLatin1Char('|')).toStdString();
    EXPECT_FALSE(dialog->isVisible()) << "hidden after a successful dial";
    ASSERT_EQ(ras.dials.size(), 1);

    QPointer<frmRAS> guard(dialog);
    prompter.shown.clear();
    prompter.answers = {Prompter::Answer::Yes};
    main->close();
    flushDeletes();
    EXPECT_EQ(prompter.texts(), QStringList{QStringLiteral("Officeから切断しますか？")});
    EXPECT_EQ(ras.hangUps.size(), 1);
    EXPECT_TRUE(guard.isNull());
}

TEST_F(Program, SimpleBrowserHandsItsAddressToTheMainWindow)
{
    trigger("mnuSinple");
    QWidget *browser = app->browserWindow();
    ASSERT_NE(browser, nullptr);
    auto *combo = browser->findChild<QComboBox *>(QStringLiteral("Combo1"));
    ASSERT_NE(combo, nullptr);
    combo->setEditText(QStringLiteral("http://typed.test/page.html"));

    // Choosing the menu again brings the same window with what was typed.
    trigger("mnuSinple");
    EXPECT_EQ(app->browserWindow(), browser);
    EXPECT_EQ(combo->currentText(), QStringLiteral("http://typed.test/page.html"));

    QPointer<QWidget> guard(browser);
    qobject_cast<frmBrowser *>(browser)->Toolbar1_ButtonClick(QStringLiteral("Get"));
    flushDeletes();
    EXPECT_EQ(main->TURL()->text(), QStringLiteral("http://typed.test/page.html"));
    EXPECT_TRUE(guard.isNull()) << "Get closes the browser";

    // With the main window gone, Get opens a new one holding the address.
    trigger("mnuSinple");
    browser = app->browserWindow();
    main->close();
    flushDeletes();
    ASSERT_EQ(app->mainWindow(), nullptr);
    browser->findChild<QComboBox *>(QStringLiteral("Combo1"))
        ->setEditText(QStringLiteral("http://again.test/"));
    qobject_cast<frmBrowser *>(browser)->Toolbar1_ButtonClick(QStringLiteral("Get"));
    ASSERT_NE(app->mainWindow(), nullptr);
    EXPECT_EQ(app->mainWindow()->TURL()->text(), QStringLiteral("http://again.test/"));
}

} // namespace
