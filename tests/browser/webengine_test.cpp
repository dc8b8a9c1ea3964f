// SPDX-License-Identifier: GPL-3.0-or-later
#include "../support/fakeprompter.h"
#include "../support/httpserver.h"
#include "app/frmharvix.h"
#include "app/imagelist.h"
#include "browser/frmbrowser.h"
#include "platform/curl/curltransfer.h"
#include "platform/qt/qtpictureloader.h"
#include "platform/webengine/webengineloader.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include "testfiles.h"

#include <httplib.h>

#include <gtest/gtest.h>

#include <QPlainTextEdit>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

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

// A main window whose harvest saves into a folder of its own.
struct HarvestWindow {
    explicit HarvestWindow(UrlTransfer &inet) : main(inet, prompter, pictures)
    {
        main.harvest().setSavePathName(saveDir.path() + u'/');
    }
    QTemporaryDir saveDir;
    FakePrompter prompter;
    QtPictureLoader pictures;
    frmHarvix main;
};

// Has the browser load url, as "更新" does, and waits until the page titled title shows.
bool showInBrowser(frmBrowser &browser, const QString &url, const QString &title)
{
    QWidget *pane = browser.findChild<QWidget *>(u"WB"_s);
    browser.findChild<QComboBox *>(u"Combo1"_s)->setEditText(url);
    browser.Toolbar1_ButtonClick(u"New"_s);
    return QTest::qWaitFor([&] { return pane->property("title").toString() == title; }, 60000);
}

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
        new frmBrowser(webEngineViewFactory(webEngineModuleFolders(), &inet.session()), {});
    browser->show();
    ASSERT_TRUE(showInBrowser(*browser, server.url(u"/login"_s), u"Signed in"_s));

    HarvestWindow window(inet);
    frmHarvix &main = window.main;
    FakePrompter &prompter = window.prompter;
    main.TURL()->setText(server.url(u"/members/page.html"_s));
    // The engine reports the cookie soon after it is set, not necessarily before the page has
    // loaded.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            if (main.harvest().isRunning())
                return false;
            if (main.List1()->count() == 1)
                return true;
            prompter.shown.clear();
            main.mnuCget_Click();
            return false;
        },
        20000))
        << main.harvest().failureDetail().toStdString();
    EXPECT_EQ(readFile(window.saveDir.filePath(u"m.jpg"_s)), QByteArray("\xFF\xD8\xFF member"));
    delete browser.data();
}

// A gallery that the page's own HTML does not show: a script sets its <base> and adds a picture
// after load, one picture gets its src from an IntersectionObserver once scrolled into view, and
// three more come in batches as the page is scrolled to its end (an infinite scroll).
const char kGallery[] = R"HTML(<html><head><title>Gallery</title></head><body>
<div id="added"></div><div style="height:3000px"></div>
<img class="lazy" data-src="lazy.jpg" width="10" height="10"><div id="more"></div>
<script>
var base = document.createElement('base'); base.href = '/pics/'; document.head.appendChild(base);
setTimeout(function () {
  var img = document.createElement('img'); img.src = 'added.jpg';
  document.getElementById('added').appendChild(img);
}, 100);
new IntersectionObserver(function (entries, observer) {
  entries.forEach(function (e) {
    if (e.isIntersecting) { e.target.src = e.target.dataset.src; observer.unobserve(e.target); }
  });
}).observe(document.querySelector('.lazy'));
var batches = 0, asking = false;
window.addEventListener('scroll', function () {
  if (asking || batches >= 3 ||
      innerHeight + scrollY < document.documentElement.scrollHeight - 10) return;
  asking = true;
  fetch('/batch/' + (++batches)).then(function (r) { return r.text(); }).then(function (t) {
    var d = document.createElement('div'); d.style.height = '2000px'; d.innerHTML = t;
    document.getElementById('more').appendChild(d); asking = false;
  });
});
</script></body></html>)HTML";

TEST(WebEnginePane, TheShownPageIsHarvestedAsRendered)
{
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    qputenv("no_proxy", "127.0.0.1,localhost");
    TestHttpServer server;
    std::atomic<int> pageRequests = 0;
    server.server().Get("/gallery.html", [&](const httplib::Request &, httplib::Response &res) {
        ++pageRequests;
        res.set_content(kGallery, "text/html");
    });
    server.server().Get(R"(/batch/(\d))", [](const httplib::Request &req, httplib::Response &res) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        res.set_content("<img src=\"batch" + req.matches[1].str() + ".jpg\">", "text/html");
    });
    server.server().Get(R"(/pics/(\w+)\.jpg)",
                        [](const httplib::Request &req, httplib::Response &res) {
                            res.set_content("\xFF\xD8\xFF " + req.matches[1].str(), "image/jpeg");
                        });
    server.start();

    CurlTransfer inet;
    HarvestWindow window(inet);
    frmHarvix &main = window.main;
    // The page's own HTML has no picture.
    main.TURL()->setText(server.url(u"/gallery.html"_s));
    main.mnuCget_Click();
    ASSERT_TRUE(QTest::qWaitFor([&main] { return !main.harvest().isRunning(); }, 20000));
    EXPECT_EQ(main.List1()->count(), 0);
    const int fetchedByTheHarvest = pageRequests;

    QPointer<frmBrowser> browser = new frmBrowser(
        webEngineViewFactory(webEngineModuleFolders(), &inet.session()), {},
        [&main](const std::optional<RenderedPage> &page) { main.harvestRendered(page); });
    browser->show();
    ASSERT_TRUE(showInBrowser(*browser, server.url(u"/gallery.html"_s), u"Gallery"_s));
    browser->Toolbar1_ButtonClick(u"GetShown"_s);
    ASSERT_TRUE(QTest::qWaitFor([&] { return browser.isNull() || !browser->isVisible(); }, 60000));
    ASSERT_TRUE(QTest::qWaitFor(
        [&main] { return main.List1()->count() > 0 && !main.harvest().isRunning(); }, 20000));

    QStringList saved;
    for (int i = 0; i < main.List1()->count(); ++i)
        saved.append(main.List1()->item(i)->text());
    saved.sort();
    // The lazy picture's data-src is a reference too, as in any page the scanner reads.
    EXPECT_EQ(saved.join(u' '), u"added.jpg batch1.jpg batch2.jpg batch3.jpg lazy.jpg lazy.jpg"_s)
        << main.harvest().failureDetail().toStdString();
    EXPECT_EQ(readFile(window.saveDir.filePath(u"batch3.jpg"_s)),
              QByteArray("\xFF\xD8\xFF batch3"));
    EXPECT_TRUE(main.Text2()->toPlainText().contains(u"batch3.jpg"_s));
    EXPECT_EQ(main.TURL()->text(), server.url(u"/gallery.html"_s));
    // The browser loaded the page once; the harvest did not fetch it again.
    EXPECT_EQ(pageRequests, fetchedByTheHarvest + 1);
    delete browser.data();
}

TEST(WebEnginePane, APageThatNeverSettlesIsReadAtTheBoundAndAFailedOneIsNothing)
{
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    qputenv("no_proxy", "127.0.0.1,localhost");
    TestHttpServer server;
    // Content added for ever, and a request every 500 ms.
    server.server().Get("/restless.html", [](const httplib::Request &, httplib::Response &res) {
        res.set_content("<html><head><title>Restless</title></head><body><script>"
                        "setInterval(function () { var d = document.createElement('div');"
                        " d.style.height = '500px'; d.textContent = 'more';"
                        " document.body.appendChild(d); }, 50);"
                        "setInterval(function () { fetch('/ping'); }, 500);"
                        "</script></body></html>",
                        "text/html");
    });
    server.server().Get("/ping", [](const httplib::Request &, httplib::Response &res) {
        res.set_content("pong", "text/plain");
    });
    server.start();
    QWidget window;
    window.resize(600, 400);
    std::unique_ptr<WebView> view = webEngineViewFactory()(&window);
    ASSERT_NE(view, nullptr);
    window.show();
    QWidget *pane = view->widget();
    pane->resize(600, 400);

    // On an event loop of its own, as the program runs: the page waits for it.
    const auto read = [&view](const RenderLimits &limits) {
        QEventLoop loop;
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        std::optional<std::optional<RenderedPage>> result;
        view->renderPage(
            [&](const std::optional<RenderedPage> &page) {
                result = page;
                loop.quit();
            },
            limits);
        loop.exec();
        EXPECT_TRUE(result.has_value());
        return result.value_or(std::nullopt);
    };
    view->Navigate(server.url(u"/restless.html"_s));
    ASSERT_TRUE(QTest::qWaitFor([&] { return pane->property("title").toString() == u"Restless"_s; },
                                60000));
    // Read at the bound, with what it has by then.
    const std::optional<RenderedPage> page = read({30000, 6000, 200, 1000});
    ASSERT_TRUE(page.has_value());
    EXPECT_TRUE(page->html.contains(u"more"_s));

    // A page that did not load is nothing: a server that closes every connection unanswered.
    int port = 0;
    const int listener = listenOnLoopback(&port);
    std::thread dropping([listener] {
        for (int client; (client = ::accept(listener, nullptr, nullptr)) >= 0;)
            ::close(client);
    });
    const QString dropped = u"http://127.0.0.1:%1/"_s.arg(port);
    view = webEngineViewFactory()(&window);
    view->Navigate(dropped);
    EXPECT_FALSE(read({}).has_value());
    // harvix-cli's off-screen reader says so, from the event loop: the call returns at once.
    QString why;
    const std::optional<WebEngineRenderer> renderer =
        loadWebEngineRenderer(webEngineModuleFolders(), &why);
    ASSERT_TRUE(renderer.has_value()) << why.toStdString();
    std::optional<QString> error;
    renderer->renderRequest({dropped, {}, {}}, nullptr,
                            [&error](const std::optional<RenderedPage> &page, const QString &text) {
                                EXPECT_FALSE(page.has_value());
                                error = text;
                            });
    EXPECT_FALSE(error.has_value()) << "answered from the event loop, not from inside the call";
    EXPECT_TRUE(QTest::qWaitFor([&] { return error.has_value(); }, 60000));
    EXPECT_EQ(error.value_or(QString()), dropped + u" could not be loaded in the browser engine"_s);
    ::shutdown(listener, SHUT_RDWR);
    dropping.join();
    ::close(listener);
}

TEST(WebEnginePane, ThePicturesInViewAtLoadAreReadFromAPageThatRendersSlowly)
{
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    qputenv("no_proxy", "127.0.0.1,localhost");
    // Eight lazy pictures in blocks of 300 px, the first four in the off-screen window at load;
    // the page watches them from just after its load. From its load on, every frame of the page
    // blocks it for 150 ms, as a loaded machine slows its rendering: the reading must wait for
    // the page's frames, not for a time.
    std::string page = "<html><head><title>Slow</title></head><body style=\"margin:0\">";
    for (int i = 0; i < 8; ++i)
        page += "<div style=\"height:300px\"><img class=\"lazy\" data-img=\"pics/" +
                std::to_string(i) + ".jpg\" width=\"160\" height=\"120\"></div>";
    page += R"HTML(<script>
function slow() {
  var until = performance.now() + 150;
  while (performance.now() < until) {}
  requestAnimationFrame(slow);
}
window.addEventListener('load', function () {
  setTimeout(function () {
    var observer = new IntersectionObserver(function (entries, o) {
      entries.forEach(function (e) {
        if (e.isIntersecting) { e.target.src = e.target.dataset.img; o.unobserve(e.target); }
      });
    });
    document.querySelectorAll('.lazy').forEach(function (img) { observer.observe(img); });
  }, 0);
  slow();
});
</script></body></html>)HTML";
    TestHttpServer server;
    server.server().Get("/slow.html", [&page](const httplib::Request &, httplib::Response &res) {
        res.set_content(page, "text/html");
    });
    server.server().Get(R"(/pics/(\d)\.jpg)",
                        [](const httplib::Request &req, httplib::Response &res) {
                            res.set_content("\xFF\xD8\xFF " + req.matches[1].str(), "image/jpeg");
                        });
    server.start();

    QString why;
    const std::optional<WebEngineRenderer> renderer =
        loadWebEngineRenderer(webEngineModuleFolders(), &why);
    ASSERT_TRUE(renderer.has_value()) << why.toStdString();
    // The program's own event loop, as harvix-cli runs it, with the bound of a minute.
    QEventLoop loop;
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    std::optional<std::optional<RenderedPage>> result;
    renderer->renderRequest({server.url(u"/slow.html"_s), {}, {}}, nullptr,
                            [&](const std::optional<RenderedPage> &rendered, const QString &) {
                                result = rendered;
                                loop.quit();
                            });
    loop.exec();
    ASSERT_TRUE(result.has_value());
    ASSERT_TRUE(result->has_value());
    QStringList missing;
    for (int i = 0; i < 8; ++i) {
        if (!result->value().html.contains(u"src=\"pics/%1.jpg\""_s.arg(i)))
            missing.append(QString::number(i));
    }
    EXPECT_TRUE(missing.isEmpty()) << "pictures without src: " << missing.join(u' ').toStdString();
}

TEST(WebEnginePane, HostilePagesAreReadWithinTheBound)
{
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    qputenv("no_proxy", "127.0.0.1,localhost");
    TestHttpServer server;
    const auto page = [&server](const char *path, std::string body) {
        server.server().Get(path, [body](const httplib::Request &, httplib::Response &res) {
            res.set_content(body, "text/html");
        });
    };
    // Dialogs by the thousand while the page loads, and a picture added after them.
    page("/dialogs.html", "<img src=\"before.jpg\"><script>for (var i = 0; i < 300; ++i) {"
                          " alert(i); confirm(i); prompt(i); }"
                          " var img = document.createElement('img'); img.src = 'after.jpg';"
                          " document.body.appendChild(img);</script>");
    page("/popups.html", "<img src=\"popups.jpg\"><script>setInterval(function () {"
                         " for (var i = 0; i < 50; ++i) window.open('/popups.html?' + i); }, 5);"
                         "</script>");
    page("/busy.html", "<img src=\"busy.jpg\"><script>for (;;) {}</script>");
    // A body that never ends: its beginning names a picture.
    server.server().Get("/trickle.html", [](const httplib::Request &, httplib::Response &res) {
        res.set_content_provider(
            size_t(1) << 20, "text/html", [](size_t at, size_t, httplib::DataSink &sink) {
                if (at > 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(200));
                const std::string part =
                    at == 0 ? "<img src=\"early.jpg\">" + std::string(2048, ' ') : "<b>.</b>";
                return sink.write(part.data(), part.size());
            });
    });
    server.start();

    QString why;
    const std::optional<WebEngineRenderer> renderer =
        loadWebEngineRenderer(webEngineModuleFolders(), &why);
    ASSERT_TRUE(renderer.has_value()) << why.toStdString();
    struct Case {
        const char16_t *path;
        const char16_t *read; // in the document read, or in the failure when none
    };
    const Case cases[] = {
        {u"/dialogs.html", u"after.jpg"},
        {u"/popups.html", u"popups.jpg"},
        {u"/trickle.html", u"early.jpg"},
        {u"/busy.html", u"the page did not settle within"},
    };
    // Five seconds for the load, five for the reading: room for a slow machine.
    RenderLimits limits;
    limits.loadMilliseconds = 5000;
    limits.maxMilliseconds = 5000;
    for (const Case &c : cases) {
        const QString path = QString::fromUtf16(c.path);
        SCOPED_TRACE(path.toStdString());
        // The program's own event loop, as harvix-cli runs it: each dialog waits for it.
        QEventLoop loop;
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        std::optional<QString> read;
        QElapsedTimer took;
        took.start();
        renderer->renderRequest({server.url(path), {}, limits}, nullptr,
                                [&](const std::optional<RenderedPage> &page, const QString &error) {
                                    read = page ? page->html : error;
                                    loop.quit();
                                });
        loop.exec();
        ASSERT_TRUE(read.has_value());
        EXPECT_TRUE(read->contains(QString::fromUtf16(c.read))) << read->left(600).toStdString();
        // The bound is a limit, not a benchmark: loosely within it.
        EXPECT_LT(took.elapsed(), 20000);
    }
}

TEST(WebEnginePane, ALocalPageReadsNoOtherLocalFile)
{
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QTemporaryDir dir;
    const auto writeFile = [&dir](const QString &name, const QByteArray &bytes) {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    };
    writeFile(u"secret.txt"_s, "LOCALSECRET");
    writeFile(u"local.html"_s,
              "<html><head><title>waiting</title></head><body><script>"
              "var x = new XMLHttpRequest();"
              "x.onload = function () { document.title = 'read ' + x.responseText; };"
              "x.onerror = function () { document.title = 'refused'; };"
              "try { x.open('GET', 'secret.txt'); x.send(); }"
              " catch (e) { document.title = 'refused'; }</script></body></html>");
    QWidget window;
    std::unique_ptr<WebView> view = webEngineViewFactory()(&window);
    ASSERT_NE(view, nullptr);
    window.show();
    view->Navigate(dir.filePath(u"local.html"_s));
    QWidget *pane = view->widget();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const QString title = pane->property("title").toString();
            return title == u"refused"_s || title.startsWith(u"read"_s);
        },
        60000));
    EXPECT_EQ(pane->property("title").toString(), u"refused"_s);
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
