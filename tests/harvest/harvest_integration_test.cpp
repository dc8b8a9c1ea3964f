// SPDX-License-Identifier: GPL-3.0-or-later
// Harvests through the libcurl transfer service against real servers on 127.0.0.1.

#include "recordingview.h"

#include "../support/httpserver.h"
#include "harvest/pageharvest.h"
#include "harvest/parallelfetch.h"
#include "platform/curl/curltransfer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "awaittask.h"

#include <QCoro/QCoroTask>

#include "testfiles.h"

#include <QProcess>
#include <QScopeGuard>

#include <gtest/gtest.h>
// The system's cpp-httplib is built with TLS; this test runs an https server of its own too.
#define CPPHTTPLIB_OPENSSL_SUPPORT
#include <httplib.h>

#include <algorithm>
#include <cstdlib>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <thread>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

const QString kConnectionError = u"message:接続エラーの様です。"_s;

// Distinct binary content for each image: every byte value occurs, and sizes differ.
// A picture of its own for each n: a JPEG's signature, then bytes of every value.
std::string imageBytes(int n)
{
    std::string s(size_t(3000 + n * 517), '\0');
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = char((i * 31 + size_t(n) * 7 + i / 256) & 0xFF);
    s.replace(0, 3, "\xFF\xD8\xFF");
    return s;
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

void serve(httplib::Server &s, const std::string &path, const std::string &body,
           const char *type = "image/jpeg")
{
    s.Get(path, [body, type](const httplib::Request &, httplib::Response &res) {
        res.set_content(body, type);
    });
}

// A server that keeps no connection alive but does not say so: it answers the first request of a
// connection (/page.html: `count` images, /N.jpg: imageBytes(N)) without "Connection: close",
// and closes the connection when the next request comes on it, unanswered.
class OneRequestPerConnectionServer {
public:
    explicit OneRequestPerConnectionServer(int count) : m_count(count)
    {
        m_listener = listenOnLoopback(&m_port);
        m_thread = std::thread([this] {
            for (int client;
                 (client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
                std::lock_guard lock(m_mutex);
                m_clients.push_back(client);
                m_connections.emplace_back([this, client] { answerOnce(client); });
            }
        });
    }
    ~OneRequestPerConnectionServer()
    {
        ::shutdown(m_listener, SHUT_RDWR);
        m_thread.join();
        // Connections the client keeps are ended here, so the test need not wait for them.
        for (const int client : m_clients)
            ::shutdown(client, SHUT_RDWR);
        for (std::thread &connection : m_connections)
            connection.join();
        for (const int client : m_clients)
            ::close(client);
        ::close(m_listener);
    }
    QString url(const QString &path) const
    {
        return u"http://127.0.0.1:%1%2"_s.arg(QString::number(m_port), path);
    }

private:
    void answerOnce(int client)
    {
        const timeval limit{10, 0};
        ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        std::string request;
        char buffer[4096];
        ssize_t got = 0;
        while (request.find("\r\n\r\n") == std::string::npos &&
               (got = ::recv(client, buffer, sizeof buffer, 0)) > 0)
            request.append(buffer, size_t(got));
        const size_t start = request.find(' ') + 1;
        const std::string path = request.substr(start, request.find(' ', start) - start);
        std::string body;
        if (path == "/page.html") {
            for (int i = 0; i < m_count; ++i)
                body += "<img src=\"" + std::to_string(i) + ".jpg\">";
        } else {
            body = imageBytes(std::atoi(path.c_str() + 1));
        }
        const std::string reply = "HTTP/1.1 200 OK\r\nContent-Type: " +
                                  std::string(path == "/page.html" ? "text/html" : "image/jpeg") +
                                  "\r\nContent-Length: " + std::to_string(body.size()) +
                                  "\r\n\r\n" + body;
        ::send(client, reply.data(), reply.size(), MSG_NOSIGNAL);
        // The next request on this connection is not answered.
        ::recv(client, buffer, sizeof buffer, 0);
        ::shutdown(client, SHUT_RDWR);
    }

    int m_count;
    int m_listener = -1;
    int m_port = 0;
    std::thread m_thread;
    std::mutex m_mutex;
    std::vector<int> m_clients;
    std::vector<std::thread> m_connections;
};

class HarvestIntegrationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        saveFolder = dir.path() + u"/"_s;
        harvest.setSavePathName(saveFolder);
    }

    // The servers outlive the transfer service (members go in reverse order), so they do not
    // wait for its kept-alive connections to time out.
    void TearDown() override { released = true; }

    // Runs a harvest of the page at path on the first server.
    PageHarvest::Outcome harvestPage(const QString &path)
    {
        view.typedAddress = server.url(path);
        return awaitTask(harvest.run(view.typedAddress));
    }

    // Harvests the page at path with up to n images in flight, into a folder of its own.
    PageHarvest::Outcome harvestInParallel(const QString &path, int n, RecordingView &into,
                                           QString &folder)
    {
        folder = dir.path() + u"/parallel/"_s;
        QDir().mkpath(folder);
        ParallelFetch fetch(inet, n);
        PageHarvest parallel(inet, into);
        parallel.setImageFetch(&fetch);
        parallel.setSavePathName(folder);
        into.typedAddress = server.url(path);
        return awaitTask(parallel.run(into.typedAddress));
    }

    // Serves /img/N.jpg after a delay that shrinks with N, so later images are ready first (the
    // failing one, answered 404, and /dup/N.jpg, other bytes, come last of all), and counts the
    // requests answered at once.
    void serveImagesInReverseTime(int count)
    {
        auto answer = [this, count](const httplib::Request &req, httplib::Response &res) {
            const bool dup = req.matches[1] == "dup";
            const int n = std::stoi(req.matches[2]);
            const int now = ++open;
            for (int seen = maxOpen; now > seen && !maxOpen.compare_exchange_weak(seen, now);) {
            }
            const bool slow = dup || n == failing;
            std::this_thread::sleep_for(std::chrono::milliseconds(slow ? 150 : 5 * (count - n)));
            {
                std::lock_guard lock(mutex);
                answered.insert(n);
            }
            --open;
            if (n == failing)
                res.status = 404;
            else
                res.set_content(imageBytes(dup ? 100 + n : n), "image/jpeg");
        };
        server.server().Get(R"(/(img|dup)/(\d+)\.jpg)", answer);
    }

    TestHttpServer server;
    TestHttpServer other;
    std::atomic<int> open{0};
    std::atomic<int> maxOpen{0};
    int failing = -1;
    std::mutex mutex;
    std::set<int> answered;
    std::atomic<bool> released{false};
    QTemporaryDir dir;
    QString saveFolder;
    CurlTransfer inet;
    RecordingView view;
    PageHarvest harvest{inet, view};
};

TEST_F(HarvestIntegrationTest, SavesSeveralImagesWithTheirExactBytes)
{
    auto &s = server.server();
    serve(s, "/dir/page.html",
          "<img src=\"1.jpg\"><IMG SRC=/dir/pics/2.JPG><img src=\"pics/3.Jpg\" alt=x>",
          "text/html");
    serve(s, "/dir/1.jpg", imageBytes(1));
    serve(s, "/dir/pics/2.JPG", imageBytes(2));
    serve(s, "/dir/pics/3.Jpg", imageBytes(3));
    server.start();

    EXPECT_EQ(harvestPage(u"/dir/page.html"_s), PageHarvest::Outcome::Finished);
    EXPECT_EQ(view.imageList, QStringList({u"1.jpg"_s, u"2.JPG"_s, u"3.Jpg"_s}));
    EXPECT_EQ(readFile(saveFolder + u"1.jpg"_s), QByteArray::fromStdString(imageBytes(1)));
    EXPECT_EQ(readFile(saveFolder + u"2.JPG"_s), QByteArray::fromStdString(imageBytes(2)));
    EXPECT_EQ(readFile(saveFolder + u"3.Jpg"_s), QByteArray::fromStdString(imageBytes(3)));
    EXPECT_EQ(entries(saveFolder), QStringList({u"1.jpg"_s, u"2.JPG"_s, u"3.Jpg"_s}));
    EXPECT_EQ(view.statusText, u"取り込み終了。"_s);
    EXPECT_EQ(view.events.mid(view.events.size() - 3),
              QStringList({u"status:取り込み終了。"_s, u"beep"_s, u"busy:0"_s}));
    EXPECT_TRUE(view.pageSource.startsWith(u"<img src=\"1.jpg\">"_s));
}

TEST_F(HarvestIntegrationTest, PageWithoutImagesWritesNothing)
{
    serve(server.server(), "/plain.html", "<p>text only, src=none.png</p>", "text/html");
    server.start();

    EXPECT_EQ(harvestPage(u"/plain.html"_s), PageHarvest::Outcome::NoImages);
    EXPECT_EQ(view.events, QStringList({u"source"_s, u"status:画像ファイルが存在しない．"_s,
                                        u"message:画像ファイルがありません。"_s}));
    EXPECT_TRUE(entries(saveFolder).isEmpty());
}

TEST_F(HarvestIntegrationTest, FailuresKeepWhatWasSavedBefore)
{
    auto &s = server.server();
    serve(s, "/p.html", "src=a.jpg src=gone.jpg src=b.jpg", "text/html");
    serve(s, "/a.jpg", imageBytes(1));
    serve(s, "/b.jpg", imageBytes(2));
    s.Get("/gone.jpg", [](const httplib::Request &, httplib::Response &res) {
        res.status = 404;
        res.set_content("<html>Not Found</html>", "text/html");
    });
    server.start();

    EXPECT_EQ(harvestPage(u"/p.html"_s), PageHarvest::Outcome::Failed);
    EXPECT_EQ(view.imageList, QStringList({u"a.jpg"_s}));
    EXPECT_EQ(entries(saveFolder), QStringList({u"a.jpg"_s}));
    EXPECT_EQ(view.events.mid(view.events.size() - 2),
              QStringList({kConnectionError, u"busy:0"_s}));

    // A save folder that does not exist fails at the first write.
    RecordingView view2;
    PageHarvest missingFolder(inet, view2);
    missingFolder.setSavePathName(dir.path() + u"/missing/"_s);
    view2.typedAddress = server.url(u"/p.html"_s);
    EXPECT_EQ(awaitTask(missingFolder.run(view2.typedAddress)), PageHarvest::Outcome::Failed);
    EXPECT_EQ(view2.imageList, QStringList({u"a.jpg"_s}));
    EXPECT_FALSE(QFileInfo::exists(dir.path() + u"/missing"_s));
    EXPECT_FALSE(view2.busy);
}

TEST_F(HarvestIntegrationTest, TwoReferencesWithOneNameKeepTheSecond)
{
    auto &s = server.server();
    serve(s, "/p.html", "src=a/x.jpg src=b/x.jpg", "text/html");
    serve(s, "/a/x.jpg", imageBytes(5));
    serve(s, "/b/x.jpg", imageBytes(1));
    server.start();

    EXPECT_EQ(harvestPage(u"/p.html"_s), PageHarvest::Outcome::Finished);
    EXPECT_EQ(view.imageList, QStringList({u"x.jpg"_s, u"x.jpg"_s}));
    EXPECT_EQ(readFile(saveFolder + u"x.jpg"_s), QByteArray::fromStdString(imageBytes(1)));
    EXPECT_EQ(entries(saveFolder), QStringList({u"x.jpg"_s}));
}

TEST_F(HarvestIntegrationTest, AbsoluteReferencesReachASecondServer)
{
    serve(other.server(), "/x/far.jpg", imageBytes(7));
    other.start();
    const std::string page =
        "<img src=\"near.jpg\"><img src=\"" + other.url(u"/x/far.jpg"_s).toStdString() + "\">";
    serve(server.server(), "/p.html", page, "text/html");
    serve(server.server(), "/near.jpg", imageBytes(6));
    server.start();

    EXPECT_EQ(harvestPage(u"/p.html"_s), PageHarvest::Outcome::Finished);
    EXPECT_EQ(view.imageList, QStringList({u"near.jpg"_s, u"far.jpg"_s}));
    EXPECT_EQ(readFile(saveFolder + u"far.jpg"_s), QByteArray::fromStdString(imageBytes(7)));
    EXPECT_EQ(other.connections(), 1);
}

TEST_F(HarvestIntegrationTest, RedirectsAreFollowed)
{
    auto &s = server.server();
    // The page moved: its references are resolved against where it moved to.
    s.Get("/old.html", [](const httplib::Request &, httplib::Response &res) {
        res.set_redirect("/new/page.html");
    });
    serve(s, "/new/page.html", "src=moved.jpg", "text/html");
    s.Get("/new/moved.jpg", [](const httplib::Request &, httplib::Response &res) {
        res.set_redirect("/store/real.jpg", 301);
    });
    serve(s, "/store/real.jpg", imageBytes(4));
    server.start();

    EXPECT_EQ(harvestPage(u"/old.html"_s), PageHarvest::Outcome::Finished);
    EXPECT_EQ(view.imageList, QStringList({u"moved.jpg"_s}));
    EXPECT_EQ(readFile(saveFolder + u"moved.jpg"_s), QByteArray::fromStdString(imageBytes(4)));
}

TEST_F(HarvestIntegrationTest, ReferencesAreResolvedAsABrowserResolvesThem)
{
    // A post folder typed without its slash: the server redirects to the slash form, and the
    // references are resolved against that. Only the right addresses answer; any other is a 404,
    // which would end the harvest.
    auto &s = server.server();
    s.Get("/blog/post", [](const httplib::Request &, httplib::Response &res) {
        res.set_redirect("/blog/post/", 301);
    });
    // The ports are known once the servers run: the page is written when it is asked for.
    s.Get("/blog/post/", [this](const httplib::Request &, httplib::Response &res) {
        const std::string here = server.base().toStdString();
        const std::string far = u"//127.0.0.1:%1"_s.arg(other.port()).toStdString();
        res.set_content("<img src=\"rel.jpg\">"
                        "<img src=\"/uploads/root.jpg\">"
                        "<img src=\"" +
                            far +
                            "/cdn/proto.jpg\">"
                            "<img src=\"HTTP://" +
                            here.substr(7) +
                            "/upper/case.jpg\">"
                            "<img src=\"../img/./x/../dots.jpg\">"
                            "<img src=\"%E6%A1%9C.jpg\">"
                            "<img src=\"a%2Fb.jpg\">"
                            "<img data-srcset='" +
                            here + "/quoted/q.jpg 1652w'>",
                        "text/html");
    });
    serve(s, "/blog/post/rel.jpg", imageBytes(1));
    serve(s, "/uploads/root.jpg", imageBytes(2));
    serve(other.server(), "/cdn/proto.jpg", imageBytes(3));
    serve(s, "/upper/case.jpg", imageBytes(4));
    serve(s, "/blog/img/dots.jpg", imageBytes(5));
    s.Get(".*", [](const httplib::Request &req, httplib::Response &res) {
        // The loopback server decodes the path it is asked for.
        if (req.path == "/blog/post/\xE6\xA1\x9C.jpg")
            res.set_content(imageBytes(6), "image/jpeg");
        else if (req.path == "/blog/post/a/b.jpg")
            res.set_content(imageBytes(7), "image/jpeg");
        else if (req.path == "/quoted/q.jpg")
            res.set_content(imageBytes(8), "image/jpeg");
        else
            res.status = 404;
    });
    other.start();
    server.start();

    EXPECT_EQ(harvestPage(u"/blog/post"_s), PageHarvest::Outcome::Finished)
        << harvest.failureDetail().toStdString();
    const QStringList names{u"rel.jpg"_s,  u"root.jpg"_s, u"proto.jpg"_s, u"case.jpg"_s,
                            u"dots.jpg"_s, u"桜.jpg"_s,   u"a%2Fb.jpg"_s, u"q.jpg"_s};
    EXPECT_EQ(view.imageList, names);
    for (int i = 0; i < names.size(); ++i)
        EXPECT_EQ(readFile(saveFolder + names.at(i)), QByteArray::fromStdString(imageBytes(i + 1)))
            << names.at(i).toStdString();
}

TEST_F(HarvestIntegrationTest, TheFirstBaseHrefIsTheBaseOfEveryReference)
{
    auto &s = server.server();
    serve(s, "/p/page.html",
          "<!-- <base href=\"/commented/\"> --><head><base target=_blank>"
          "<BASE HREF='/cdn/x/'><base href=\"/second/\"></head>"
          "<img src=\"a.jpg\"><img src=\"/root.jpg\">",
          "text/html");
    serve(s, "/cdn/x/a.jpg", imageBytes(1));
    serve(s, "/root.jpg", imageBytes(2));
    server.start();

    EXPECT_EQ(harvestPage(u"/p/page.html"_s), PageHarvest::Outcome::Finished);
    EXPECT_EQ(readFile(saveFolder + u"a.jpg"_s), QByteArray::fromStdString(imageBytes(1)));
    EXPECT_EQ(readFile(saveFolder + u"root.jpg"_s), QByteArray::fromStdString(imageBytes(2)));
}

TEST_F(HarvestIntegrationTest, CharacterReferencesAreDecodedBeforeAnythingElse)
{
    // A page that writes its base and references with character references, as some site
    // builders do. Only the decoded addresses answer; anything else is a 404 and ends the harvest.
    serve(other.server(), "/uploads/a.jpg", imageBytes(1));
    other.start();
    const std::string port = std::to_string(other.port());
    serve(server.server(), "/p/page.html",
          "<base href=\"&#x2F;cdn&#47;x&sol;\">"
          "<img src=\"&#x2F;&#x2F;127.0.0.1&colon;" +
              port +
              "&#x2F;uploads&#x2F;a.jpg\">"
              "<img src=\"caf&eacute;.jpg\">"
              "<img src=\"/thumbs?w=1&amp;h=2&copy=3&amp;f=&#x2F;c.jpg\">",
          "text/html");
    server.server().Get(".*", [](const httplib::Request &req, httplib::Response &res) {
        // The loopback server decodes the path it is asked for.
        if (req.path == "/cdn/x/caf\xC3\xA9.jpg")
            res.set_content(imageBytes(2), "image/jpeg");
        else if (req.path == "/thumbs" && req.params.size() == 4 &&
                 req.get_param_value("w") == "1" && req.get_param_value("h") == "2" &&
                 req.get_param_value("copy") == "3" && req.get_param_value("f") == "/c.jpg")
            res.set_content(imageBytes(3), "image/jpeg");
        else
            res.status = 404;
    });
    server.start();

    const QStringList names{u"a.jpg"_s, u"café.jpg"_s, u"c.jpg"_s};
    EXPECT_EQ(harvestPage(u"/p/page.html"_s), PageHarvest::Outcome::Finished)
        << harvest.failureDetail().toStdString();
    EXPECT_EQ(view.imageList, names);
    // Side by side, the same addresses and names.
    RecordingView parallelView;
    QString folder;
    EXPECT_EQ(harvestInParallel(u"/p/page.html"_s, 3, parallelView, folder),
              PageHarvest::Outcome::Finished);
    EXPECT_EQ(parallelView.imageList, names);
    for (int i = 0; i < names.size(); ++i) {
        EXPECT_EQ(readFile(saveFolder + names.at(i)), QByteArray::fromStdString(imageBytes(i + 1)))
            << names.at(i).toStdString();
        EXPECT_EQ(readFile(folder + names.at(i)), QByteArray::fromStdString(imageBytes(i + 1)))
            << names.at(i).toStdString();
    }
}

TEST_F(HarvestIntegrationTest, ImagesAreAskedForAsTheBrowserAsksForThem)
{
    // A hotlink-protected site: its images need the page as Referer (its origin alone from
    // another site), a JPEG-first Accept and the session cookie the page set.
    std::atomic<bool> pageHadReferer = false;
    server.server().Get("/gal/page.html", [&](const httplib::Request &req, httplib::Response &res) {
        pageHadReferer = req.has_header("Referer");
        res.set_header("Set-Cookie", "sid=s3cr3t; Path=/; HttpOnly");
        res.set_content("<img src=\"a.jpg\"><img src=\"" + other.url(u"/b.jpg"_s).toStdString() +
                            "\"><img src=\"moved.jpg\">",
                        "text/html");
    });
    // An image of the page's own host that moved to the other one: the other host is told the
    // origin alone there too, not the page's address with its query.
    server.server().Get("/gal/moved.jpg", [&](const httplib::Request &, httplib::Response &res) {
        res.set_redirect(other.url(u"/b.jpg"_s).toStdString());
    });
    server.server().Get("/gal/a.jpg", [&](const httplib::Request &req, httplib::Response &res) {
        const bool allowed =
            req.get_header_value("Referer") == server.url(u"/gal/page.html?id=7"_s).toStdString() &&
            req.get_header_value("Accept").rfind("image/jpeg,", 0) == 0 &&
            req.get_header_value("Cookie") == "sid=s3cr3t";
        res.status = allowed ? 200 : 403;
        res.set_content(allowed ? imageBytes(1) : std::string(), "image/jpeg");
    });
    // Another origin (another port) is told the page's origin alone.
    other.server().Get("/b.jpg", [&](const httplib::Request &req, httplib::Response &res) {
        if (req.get_header_value("Referer") == server.base().toStdString() + "/")
            res.set_content(imageBytes(2), "image/jpeg");
        else
            res.status = 403;
    });
    other.start();
    server.start();

    EXPECT_EQ(harvestPage(u"/gal/page.html?id=7#top"_s), PageHarvest::Outcome::Finished)
        << harvest.failureDetail().toStdString();
    EXPECT_FALSE(pageHadReferer);
    EXPECT_EQ(readFile(saveFolder + u"b.jpg"_s), QByteArray::fromStdString(imageBytes(2)));
    EXPECT_EQ(readFile(saveFolder + u"moved.jpg"_s), QByteArray::fromStdString(imageBytes(2)));
    // Side by side, the images are asked for the same way.
    RecordingView parallelView;
    QString folder;
    EXPECT_EQ(harvestInParallel(u"/gal/page.html?id=7"_s, 2, parallelView, folder),
              PageHarvest::Outcome::Finished);
    EXPECT_EQ(readFile(folder + u"a.jpg"_s), QByteArray::fromStdString(imageBytes(1)));
}

TEST_F(HarvestIntegrationTest, NoRefererGoesFromAnHttpsPageToAnHttpImage)
{
    // A certificate for 127.0.0.1, made for this test and trusted through CURL_CA_BUNDLE.
    const QString cert = dir.filePath(u"cert.pem"_s);
    const QString key = dir.filePath(u"key.pem"_s);
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(u"openssl"_s,
                  {u"req"_s, u"-x509"_s, u"-newkey"_s, u"ec"_s, u"-pkeyopt"_s,
                   u"ec_paramgen_curve:prime256v1"_s, u"-nodes"_s, u"-days"_s, u"1"_s, u"-subj"_s,
                   u"/CN=127.0.0.1"_s, u"-addext"_s, u"subjectAltName=IP:127.0.0.1"_s, u"-keyout"_s,
                   key, u"-out"_s, cert});
    ASSERT_TRUE(openssl.waitForFinished() && openssl.exitCode() == 0)
        << openssl.readAll().toStdString();
    ::setenv("CURL_CA_BUNDLE", cert.toLocal8Bit().constData(), 1);
    const auto unset = qScopeGuard([] { ::unsetenv("CURL_CA_BUNDLE"); });

    httplib::SSLServer secure(cert.toLocal8Bit().constData(), key.toLocal8Bit().constData());
    ASSERT_TRUE(secure.is_valid());
    // One request a connection, so that stopping the server does not wait for the transfer
    // service's kept-alive one.
    secure.set_keep_alive_max_count(1);
    secure.Get("/p.html", [this](const httplib::Request &, httplib::Response &res) {
        res.set_content("<img src=\"" + server.url(u"/plain.jpg"_s).toStdString() +
                            "\"><img src=\"moved.jpg\">",
                        "text/html");
    });
    // Nor through a redirect from an https image to an http one.
    secure.Get("/moved.jpg", [this](const httplib::Request &, httplib::Response &res) {
        res.set_redirect(server.url(u"/plain.jpg"_s).toStdString());
    });
    server.server().Get("/plain.jpg", [](const httplib::Request &req, httplib::Response &res) {
        res.status = req.has_header("Referer") ? 403 : 200;
        res.set_content(imageBytes(1), "image/jpeg");
    });
    server.start();
    const int port = secure.bind_to_any_port("127.0.0.1");
    std::thread listening([&secure] { secure.listen_after_bind(); });
    const auto stop = qScopeGuard([&] {
        secure.stop();
        listening.join();
    });
    while (!secure.is_running())
        std::this_thread::yield();

    view.typedAddress = u"https://127.0.0.1:%1/p.html"_s.arg(port);
    EXPECT_EQ(awaitTask(harvest.run(view.typedAddress)), PageHarvest::Outcome::Finished)
        << harvest.failureDetail().toStdString();
    EXPECT_EQ(readFile(saveFolder + u"plain.jpg"_s), QByteArray::fromStdString(imageBytes(1)));
    EXPECT_EQ(readFile(saveFolder + u"moved.jpg"_s), QByteArray::fromStdString(imageBytes(1)));
}

TEST_F(HarvestIntegrationTest, OnlyAPictureReplacesAFile)
{
    // Replies served with 200 where the pictures should be: each fails as not an image, and
    // the file of its name is kept; a picture, also an SVG drawing, replaces its file.
    const struct {
        const char *name;
        std::string body;
        const char *type; // nullptr: untyped
        const char *kind; // nullptr: a picture
    } cases[] = {
        {"login.jpg", "<!DOCTYPE html><title>Sign in</title>", "text/html", "HTML"},
        {"fragment.jpg", "<h1>Not found</h1>", "image/jpeg", "HTML"},
        {"spaced.jpg", std::string(1024, ' ') + "<html>", "image/jpeg", "HTML"},
        {"utf16.jpg", std::string("\xFF\xFE<\0h\0t\0m\0l\0>\0", 14), "image/jpeg", "HTML"},
        {"gone.jpg", "Not Found", "text/plain", "text"},
        {"problem.jpg", "{\"title\":\"Not Found\"}", "application/problem+json", "JSON"},
        {"untyped.jpg", "[1, 2]", nullptr, "JSON"},
        {"empty.jpg", "", "image/jpeg", "empty"},
        {"drawing.jpg", "<?xml version=\"1.0\"?>\n<!-- d -->\n<svg xmlns=\"x\"/>", "image/svg+xml",
         nullptr},
        {"real.jpg", "\xFF\xD8\xFF new picture", "image/jpeg", nullptr},
    };
    std::string page;
    for (const auto &c : cases) {
        page += std::string("src=") + c.name + " ";
        const std::string body = c.body;
        const char *type = c.type;
        server.server().Get(std::string("/") + c.name,
                            [body, type](const httplib::Request &, httplib::Response &res) {
                                if (type)
                                    res.set_content(body, type);
                                else
                                    res.body = body;
                            });
        QFile old(saveFolder + QString::fromLatin1(c.name));
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("\xFF\xD8\xFF old picture");
    }
    serve(server.server(), "/p.html", page, "text/html");
    server.start();

    QStringList failures;
    view.onFailure = [&failures](const QString &, const QString &cause) { failures.append(cause); };
    harvest.setKeepGoing(true);
    EXPECT_EQ(harvestPage(u"/p.html"_s), PageHarvest::Outcome::Incomplete);
    EXPECT_EQ(view.imageList, QStringList({u"drawing.jpg"_s, u"real.jpg"_s}));
    qsizetype failed = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray saved = readFile(saveFolder + QString::fromLatin1(c.name));
        if (c.kind) {
            EXPECT_EQ(saved, QByteArray("\xFF\xD8\xFF old picture"));
            ASSERT_LT(failed, failures.size());
            EXPECT_TRUE(failures.at(failed++).contains(u"not an image ("_s + QLatin1String(c.kind)))
                << failures.at(failed - 1).toStdString();
        } else {
            EXPECT_EQ(saved, QByteArray::fromStdString(c.body));
        }
    }
}

TEST_F(HarvestIntegrationTest, CancelDuringASlowBodyEndsTheHarvest)
{
    auto &s = server.server();
    serve(s, "/p.html", "src=a.jpg src=slow.jpg src=b.jpg", "text/html");
    serve(s, "/a.jpg", imageBytes(1));
    serve(s, "/b.jpg", imageBytes(2));
    s.Get("/slow.jpg", [this](const httplib::Request &, httplib::Response &res) {
        res.set_chunked_content_provider("image/jpeg", [this](size_t, httplib::DataSink &sink) {
            for (int i = 0; i < 500 && !released; ++i)
                std::this_thread::sleep_for(10ms);
            return sink.write("x", 1);
        });
    });
    server.start();

    // The user stops the transfer once the slow image's response has begun.
    QObject::connect(&inet, &UrlTransfer::StateChanged, &inet, [this](int, qint16 state) {
        if (state == UrlTransfer::icReceivingResponse && view.imageList.size() == 1)
            harvest.cancel();
    });
    EXPECT_EQ(harvestPage(u"/p.html"_s), PageHarvest::Outcome::Failed);
    // Ended by the cancel, not by the body or a time-out.
    EXPECT_TRUE(harvest.failureDetail().contains(u"cancelled"_s))
        << harvest.failureDetail().toStdString();
    EXPECT_EQ(view.imageList, QStringList({u"a.jpg"_s}));
    EXPECT_EQ(entries(saveFolder), QStringList({u"a.jpg"_s}));
    EXPECT_FALSE(view.busy);
}

TEST_F(HarvestIntegrationTest, SecondHarvestDuringATransferIsRefusedAndTheFirstGoesOn)
{
    auto &s = server.server();
    serve(s, "/p.html", "src=slow.jpg src=b.jpg", "text/html");
    serve(s, "/other.html", "src=other.jpg", "text/html");
    serve(s, "/b.jpg", imageBytes(2));
    // The slow image is answered only once the second harvest has run.
    std::atomic<bool> secondHarvestDone = false;
    s.Get("/slow.jpg", [&](const httplib::Request &, httplib::Response &res) {
        for (int i = 0; i < 1000 && !secondHarvestDone && !released; ++i)
            std::this_thread::sleep_for(10ms);
        res.set_content(imageBytes(1), "image/jpeg");
    });
    server.start();

    PageHarvest::Outcome nested = PageHarvest::Outcome::Finished;
    bool started = false;
    QObject::connect(&inet, &UrlTransfer::StateChanged, &inet, [&](int, qint16 state) {
        if (!started && state == UrlTransfer::icRequesting && harvest.isRunning() &&
            view.pageSource.contains(u"slow"_s)) {
            started = true;
            // From the event loop, while the first harvest is suspended on its transfer.
            QTimer::singleShot(0, &inet, [&] {
                QCoro::connect(harvest.run(server.url(u"/other.html"_s)), &inet,
                               [&](PageHarvest::Outcome outcome) {
                                   nested = outcome;
                                   secondHarvestDone = true;
                               });
            });
        }
    });
    EXPECT_EQ(harvestPage(u"/p.html"_s), PageHarvest::Outcome::Finished);
    EXPECT_TRUE(started);
    EXPECT_EQ(nested, PageHarvest::Outcome::Refused);
    EXPECT_TRUE(view.events.contains(u"status:"_s + PageHarvest::refusedStatusText()));
    EXPECT_FALSE(view.events.contains(kConnectionError));
    EXPECT_EQ(view.imageList, QStringList({u"slow.jpg"_s, u"b.jpg"_s}));
    EXPECT_EQ(readFile(saveFolder + u"slow.jpg"_s), QByteArray::fromStdString(imageBytes(1)));
    EXPECT_EQ(readFile(saveFolder + u"b.jpg"_s), QByteArray::fromStdString(imageBytes(2)));
    EXPECT_EQ(view.events.last(), u"busy:0"_s);
}

TEST_F(HarvestIntegrationTest, ManyImagesShareOneConnection)
{
    const int count = 60;
    std::string page;
    for (int i = 0; i < count; ++i) {
        page += "<img src=\"img/" + std::to_string(i) + ".jpg\">\n";
        serve(server.server(), "/img/" + std::to_string(i) + ".jpg", imageBytes(i));
    }
    serve(server.server(), "/index.html", page, "text/html");
    server.start();

    EXPECT_EQ(harvestPage(u"/index.html"_s), PageHarvest::Outcome::Finished);
    EXPECT_EQ(view.imageList.size(), count);
    EXPECT_EQ(entries(saveFolder).size(), count);
    EXPECT_EQ(readFile(saveFolder + u"59.jpg"_s), QByteArray::fromStdString(imageBytes(59)));
    EXPECT_EQ(server.connections(), 1);
}

TEST_F(HarvestIntegrationTest, AServerThatDropsEveryKeptConnectionGivesEveryImage)
{
    OneRequestPerConnectionServer dropping(40);
    view.typedAddress = dropping.url(u"/page.html"_s);
    EXPECT_EQ(awaitTask(harvest.run(view.typedAddress)), PageHarvest::Outcome::Finished)
        << harvest.failureDetail().toStdString();
    EXPECT_EQ(entries(saveFolder).size(), 40);

    RecordingView parallelView;
    ParallelFetch fetch(inet, 8);
    PageHarvest parallel(inet, parallelView);
    parallel.setImageFetch(&fetch);
    const QString folder = dir.path() + u"/parallel/"_s;
    QDir().mkpath(folder);
    parallel.setSavePathName(folder);
    parallelView.typedAddress = dropping.url(u"/page.html"_s);
    EXPECT_EQ(awaitTask(parallel.run(parallelView.typedAddress)), PageHarvest::Outcome::Finished)
        << parallel.failureDetail().toStdString();
    EXPECT_EQ(entries(folder).size(), 40);
    EXPECT_EQ(readFile(folder + u"39.jpg"_s), QByteArray::fromStdString(imageBytes(39)));
}

TEST_F(HarvestIntegrationTest, ParallelHarvestSavesAndListsWhatTheSerialOneDoes)
{
    // References 3 and 9 have one name: the later one wins, although it is ready first.
    const int count = 16;
    std::string page;
    for (int i = 0; i < count; ++i)
        page += "<img src=\"img/" + std::to_string(i) + ".jpg\">\n";
    page.replace(page.find("img/3.jpg"), 9, "dup/9.jpg");
    serve(server.server(), "/index.html", page, "text/html");
    serveImagesInReverseTime(count);
    server.start();

    ASSERT_EQ(harvestPage(u"/index.html"_s), PageHarvest::Outcome::Finished);
    EXPECT_EQ(maxOpen, 1);
    maxOpen = 0;
    RecordingView parallelView;
    QString folder;
    EXPECT_EQ(harvestInParallel(u"/index.html"_s, 4, parallelView, folder),
              PageHarvest::Outcome::Finished);
    EXPECT_EQ(parallelView.events, view.events);
    EXPECT_EQ(entries(folder), entries(saveFolder));
    for (const QString &name : entries(saveFolder))
        EXPECT_EQ(readFile(folder + name), readFile(saveFolder + name)) << name.toStdString();
    EXPECT_EQ(readFile(folder + u"9.jpg"_s), QByteArray::fromStdString(imageBytes(9)));
    EXPECT_LE(maxOpen, 4);
    EXPECT_GE(maxOpen, 2);
}

TEST_F(HarvestIntegrationTest, ARetryWaitHoldsNoSlotOfTheParallelHarvest)
{
    // The first image is busy once (503, tried again after a second); the others are all
    // fetched meanwhile, two at a time, and the harvest saves every one.
    const int count = 12;
    std::string page;
    for (int i = 0; i < count; ++i)
        page += "<img src=\"img/" + std::to_string(i) + ".jpg\">";
    serve(server.server(), "/index.html", page, "text/html");
    std::vector<int> asked;
    server.server().Get(R"(/img/(\d+)\.jpg)",
                        [&](const httplib::Request &req, httplib::Response &res) {
                            const int n = std::stoi(req.matches[1]);
                            std::lock_guard lock(mutex);
                            asked.push_back(n);
                            if (n == 0 && std::count(asked.begin(), asked.end(), 0) == 1)
                                res.status = 503;
                            else
                                res.set_content(imageBytes(n), "image/jpeg");
                        });
    server.start();
    inet.setRetries(1);

    RecordingView parallelView;
    QString folder;
    EXPECT_EQ(harvestInParallel(u"/index.html"_s, 2, parallelView, folder),
              PageHarvest::Outcome::Finished);
    EXPECT_EQ(entries(folder).size(), count);
    std::lock_guard lock(mutex);
    ASSERT_EQ(asked.size(), size_t(count + 1));
    EXPECT_EQ(asked.back(), 0);
}

TEST_F(HarvestIntegrationTest, ParallelHarvestStopsAtTheFirstFailedImage)
{
    const int count = 10;
    std::string page;
    for (int i = 0; i < count; ++i)
        page += "src=img/" + std::to_string(i) + ".jpg ";
    serve(server.server(), "/p.html", page, "text/html");
    failing = 2; // 3, 4 and 5 are downloaded before it fails
    serveImagesInReverseTime(count);
    server.start();

    RecordingView parallelView;
    QString folder;
    EXPECT_EQ(harvestInParallel(u"/p.html"_s, 4, parallelView, folder),
              PageHarvest::Outcome::Failed);
    EXPECT_EQ(parallelView.imageList, QStringList({u"0.jpg"_s, u"1.jpg"_s}));
    EXPECT_EQ(entries(folder), QStringList({u"0.jpg"_s, u"1.jpg"_s}));
    EXPECT_EQ(parallelView.events.mid(parallelView.events.size() - 2),
              QStringList({kConnectionError, u"busy:0"_s}));
    std::lock_guard lock(mutex);
    EXPECT_TRUE(answered.count(5));
}

TEST_F(HarvestIntegrationTest, ParallelHarvestCancelsTheImagesInFlightWhenOneFails)
{
    // The first image fails once the next three are on their way; they trickle for seconds.
    std::atomic<int> gone{0};
    std::atomic<int> asked{0};
    serve(server.server(), "/p.html", "src=0.jpg src=1.jpg src=2.jpg src=3.jpg", "text/html");
    // The 404 is sent once the other three have been asked for.
    server.server().Get("/0.jpg", [&](const httplib::Request &, httplib::Response &res) {
        for (int i = 0; i < 1000 && asked < 3 && !released; ++i)
            std::this_thread::sleep_for(5ms);
        res.status = 404;
    });
    server.server().Get(R"(/[123]\.jpg)", [&](const httplib::Request &, httplib::Response &res) {
        ++asked;
        res.set_chunked_content_provider("image/jpeg", [&](size_t, httplib::DataSink &sink) {
            for (int i = 0; i < 500 && !released; ++i) {
                std::this_thread::sleep_for(10ms);
                if (!sink.write("\xFF", 1)) {
                    ++gone; // the client has let the transfer go
                    return false;
                }
            }
            return false;
        });
    });
    server.start();

    RecordingView parallelView;
    QString folder;
    EXPECT_EQ(harvestInParallel(u"/p.html"_s, 4, parallelView, folder),
              PageHarvest::Outcome::Failed);
    EXPECT_EQ(asked, 3);
    // The transfers still under way were cancelled, not left to run on.
    EXPECT_TRUE(QTest::qWaitFor([&] { return gone == 3; }, 2000)) << gone;
}

TEST_F(HarvestIntegrationTest, SymbolicLinkInTheSaveFolderIsReplaced)
{
    serve(server.server(), "/p.html", "src=a.jpg", "text/html");
    serve(server.server(), "/a.jpg", imageBytes(3));
    server.start();
    QTemporaryDir elsewhere;
    const QString victim = elsewhere.path() + u"/victim"_s;
    {
        QFile f(victim);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("untouched");
    }
    ASSERT_TRUE(QFile::link(victim, saveFolder + u"a.jpg"_s));

    EXPECT_EQ(harvestPage(u"/p.html"_s), PageHarvest::Outcome::Finished);
    EXPECT_FALSE(QFileInfo(saveFolder + u"a.jpg"_s).isSymLink());
    EXPECT_EQ(readFile(saveFolder + u"a.jpg"_s), QByteArray::fromStdString(imageBytes(3)));
    EXPECT_EQ(readFile(victim), QByteArray("untouched"));
}

} // namespace
