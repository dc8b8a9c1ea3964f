// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/frmharvix.h"
#include "app/harvixapp.h"
#include "platform/curl/curltransfer.h"
#include "platform/programlauncher.h"
#include "platform/qt/qtpictureloader.h"

#include "fakeprompter.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QLineEdit>
#include <QPointer>

#include <gtest/gtest.h>

namespace {

class RecordingLauncher : public ProgramLauncher {
public:
    qint64 startDetached(const QString &program, const QStringList &arguments) override
    {
        started.append(program + QLatin1Char(' ') + arguments.join(QLatin1Char(' ')));
        return refuse ? 0 : 4242;
    }
    QStringList started;
    bool refuse = false;
};

// A window that counts how often it was asked to close.
class CountingWindow : public QWidget {
public:
    explicit CountingWindow(int *closes) : m_closes(closes) {}

protected:
    void closeEvent(QCloseEvent *event) override
    {
        ++*m_closes;
        event->accept();
    }

private:
    int *m_closes;
};

void flushDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// The program's windows with a help viewer that counts its makings and a dial-up dialog that
// counts its closings; there is no browser and no version dialog.
class App : public ::testing::Test, public AppWindows {
protected:
    App()
    {
        app = std::make_unique<HarvixApp>(
            inet, prompter, pictures, launcher, *this, [this] { ++ended; },
            [] { return QStringList{QStringLiteral("firefox-esr")}; });
    }

    QWidget *makeConnect(HarvixApp &) override { return new CountingWindow(&connectCloses); }
    QWidget *makeBrowser(HarvixApp &) override { return nullptr; }
    QWidget *makeHelp(HarvixApp &) override
    {
        ++helpMade;
        return new QWidget;
    }
    QWidget *makeVersion(HarvixApp &) override { return nullptr; }

    QAction *action(frmHarvix *w, const char *name)
    {
        return w->findChild<QAction *>(QLatin1String(name));
    }

    CurlTransfer inet;
    FakePrompter prompter;
    QtPictureLoader pictures;
    RecordingLauncher launcher;
    int helpMade = 0;
    int connectCloses = 0;
    int ended = 0;
    std::unique_ptr<HarvixApp> app;
};

TEST_F(App, WindowsExistAtMostOnceAndStartAfreshAfterClosing)
{
    frmHarvix *main = app->showMainWindow();
    action(main, "mnuHelp")->trigger();
    QWidget *first = app->helpWindow();
    ASSERT_NE(first, nullptr);
    action(main, "mnuHelp")->trigger();
    EXPECT_EQ(app->helpWindow(), first);
    EXPECT_EQ(helpMade, 1);
    EXPECT_TRUE(first->isVisible());

    first->close();
    flushDeletes();
    EXPECT_EQ(app->helpWindow(), nullptr);
    action(main, "mnuHelp")->trigger();
    EXPECT_EQ(helpMade, 2);
    EXPECT_NE(app->helpWindow(), nullptr);

    // Menus whose window is not provided do nothing.
    action(main, "mnuVersion")->trigger();
    EXPECT_EQ(app->versionWindow(), nullptr);
}

TEST_F(App, AddressHandedOverGoesToTheMainWindowOrANewOne)
{
    frmHarvix *main = app->showMainWindow();
    app->handToHarvest(QStringLiteral("http://example.test/a.html"));
    EXPECT_EQ(main->TURL()->text(), QStringLiteral("http://example.test/a.html"));

    main->close();
    flushDeletes();
    ASSERT_EQ(app->mainWindow(), nullptr);
    app->handToHarvest(QStringLiteral("http://example.test/b.html"));
    ASSERT_NE(app->mainWindow(), nullptr);
    EXPECT_TRUE(app->mainWindow()->isVisible());
    EXPECT_EQ(app->mainWindow()->TURL()->text(), QStringLiteral("http://example.test/b.html"));
}

TEST_F(App, ClosingTheMainWindowClosesAHiddenDialUpDialog)
{
    frmHarvix *main = app->showMainWindow();
    action(main, "mnuConnect")->trigger();
    QPointer<QWidget> dialog = app->connectWindow();
    ASSERT_FALSE(dialog.isNull());
    dialog->hide(); // as after a successful dial
    main->close();
    flushDeletes();
    EXPECT_EQ(connectCloses, 1);
    EXPECT_TRUE(dialog.isNull());

    // A dialog still on screen stays: the user can reach it.
    main = app->showMainWindow();
    action(main, "mnuConnect")->trigger();
    main->close();
    EXPECT_EQ(connectCloses, 1);
    EXPECT_TRUE(app->connectWindow()->isVisible());
}

TEST_F(App, QuitEndsAtOnceWithoutClosingHandlers)
{
    frmHarvix *main = app->showMainWindow();
    action(main, "mnuConnect")->trigger();
    app->connectWindow()->hide();
    action(main, "mnuEnd")->trigger();
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(connectCloses, 0);
}

TEST_F(App, BrowserMenuStartsANewBrowserEachTime)
{
    frmHarvix *main = app->showMainWindow();
    action(main, "mnuIE")->trigger();
    action(main, "mnuIE")->trigger();
    ASSERT_EQ(launcher.started.size(), 2);
    EXPECT_EQ(launcher.started[0], launcher.started[1]);
    EXPECT_TRUE(prompter.shown.isEmpty());

    // When no browser can be started, a box says so.
    launcher.refuse = true;
    action(main, "mnuIE")->trigger();
    ASSERT_EQ(prompter.shown.size(), 1);
    EXPECT_EQ(prompter.shown.first().text, QStringLiteral("Web ブラウザを起動できませんでした。"));
    EXPECT_FALSE(prompter.shown.first().informative.isEmpty());
}

} // namespace
