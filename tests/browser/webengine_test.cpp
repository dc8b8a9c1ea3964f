// SPDX-License-Identifier: GPL-3.0-or-later
#include "../support/fakeprompter.h"
#include "../support/httpserver.h"
#include "app/frmharvix.h"
#include "browser/frmbrowser.h"
#include "platform/curl/curltransfer.h"
#include "platform/qt/qtpictureloader.h"
#include "platform/webengine/webengineloader.h"

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

#include "testfiles.h"

#include <httplib.h>

#include <gtest/gtest.h>

#include <mutex>
#include <string>

using namespace Qt::StringLiterals;

#if defined(__SANITIZE_ADDRESS__)
// The web engine's own (uninstrumented) code frees some objects through a base class whose size
// differs; that is not ours to find, so the address sanitizer leaves that check out here.
extern "C" const char *__asan_default_options()
{
    return "new_delete_type_mismatch=0";
}
#endif

namespace {

TEST(WebEnginePane, LoadsALoopbackPageThroughTheModule)
{
    // The engine reads these when it starts; as root it runs only without its sandbox.
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    qputenv("no_proxy", "127.0.0.1,localhost");

    TestHttpServer server;
    server.server().Get("/page.html", [](const httplib::Request &, httplib::Response &res) {
        res.set_content("<html><head><title>Loopback page</title></head><body>ok</body></html>",
                        "text/html");
    });
    server.start();

    QPointer<frmBrowser> window = new frmBrowser(webEngineViewFactory(), {});
    window->show();
    QWidget *pane = window->findChild<QWidget *>(u"WB"_s);
    ASSERT_NE(pane, nullptr);
    EXPECT_STREQ(pane->metaObject()->className(), "QWebEngineView");

    // Odd addresses and actions with nothing to act on are the engine's business; none fails.
    auto *combo = window->findChild<QComboBox *>(u"Combo1"_s);
    for (const QString &odd : {u"c:\\home\\index.htm"_s, u"::::"_s, u" "_s, u"http://"_s}) {
        combo->setEditText(odd);
        window->Toolbar1_ButtonClick(u"New"_s);
    }
    for (const QString &key : {u"Back"_s, u"Front"_s, u"Stop"_s, u"Home"_s})
        window->Toolbar1_ButtonClick(key);

    // Enter goes in as from the keyboard: to the window, which hands it to the box.
    combo->setEditText(server.url(u"/page.html"_s));
    combo->setFocus();
    QTest::keyClick(window->windowHandle(), Qt::Key_Return);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return pane->property("title").toString() == u"Loopback page"_s; }, 60000));
    EXPECT_GE(server.connections(), 1);
    delete window.data();
}

TEST(WebEnginePane, TheBrowsersLoginGoesWithTheHarvest)
{
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    qputenv("no_proxy", "127.0.0.1,localhost");

    // A members' site: logging in sets the session cookie; the page and its picture are given
    // only with that cookie and the browser's User-Agent it was given to.
    TestHttpServer server;
    std::mutex mutex;
    std::string browserAgent;
    server.server().Get("/login", [&](const httplib::Request &req, httplib::Response &res) {
        {
            std::lock_guard lock(mutex);
            browserAgent = req.get_header_value("User-Agent");
        }
        res.set_header("Set-Cookie", "member=yes; Path=/; HttpOnly");
        res.set_content("<html><head><title>Signed in</title></head></html>", "text/html");
    });
    const auto members = [&](std::string body, const char *type) {
        return [&, body, type](const httplib::Request &req, httplib::Response &res) {
            std::lock_guard lock(mutex);
            if (req.get_header_value("Cookie") == "member=yes" &&
                req.get_header_value("User-Agent") == browserAgent)
                res.set_content(body, type);
            else
                res.status = 403;
        };
    };
    server.server().Get("/members/page.html", members("<img src=\"m.jpg\">", "text/html"));
    server.server().Get("/members/m.jpg", members("\xFF\xD8\xFF member", "image/jpeg"));
    server.start();

    CurlTransfer inet;
    QPointer<frmBrowser> browser =
        new frmBrowser(webEngineViewFactory(webEngineModuleFolders(), &inet), {});
    browser->show();
    QWidget *pane = browser->findChild<QWidget *>(u"WB"_s);
    browser->findChild<QComboBox *>(u"Combo1"_s)->setEditText(server.url(u"/login"_s));
    browser->Toolbar1_ButtonClick(u"New"_s);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return pane->property("title").toString() == u"Signed in"_s; }, 60000));

    QTemporaryDir saveDir;
    FakePrompter prompter;
    QtPictureLoader pictures;
    frmHarvix main(inet, prompter, pictures);
    main.harvest().setSavePathName(saveDir.path() + u'/');
    main.TURL()->setText(server.url(u"/members/page.html"_s));
    // The engine reports the cookie soon after it is set, not necessarily before the page has
    // loaded.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            prompter.shown.clear();
            main.mnuCget_Click();
            return main.List1()->count() == 1;
        },
        20000))
        << main.harvest().failureDetail().toStdString();
    EXPECT_EQ(readFile(saveDir.filePath(u"m.jpg"_s)), QByteArray("\xFF\xD8\xFF member"));
    delete browser.data();
}

TEST(WebEnginePane, MissingModuleGivesAnEmptyPane)
{
    QPointer<frmBrowser> window =
        new frmBrowser(webEngineViewFactory({u"/nonexistent-folder"_s}), {});
    window->show();
    QWidget *pane = window->findChild<QWidget *>(u"WB"_s);
    ASSERT_NE(pane, nullptr);
    EXPECT_EQ(pane->size(), QSize(614, 420));
    for (const QString &key : {u"Back"_s, u"Front"_s, u"Stop"_s, u"Home"_s, u"New"_s})
        window->Toolbar1_ButtonClick(key);
    delete window.data();
}

} // namespace
