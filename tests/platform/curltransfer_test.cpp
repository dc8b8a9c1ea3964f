// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/curl/curltransfer.h"
#include "platform/curl/requestaddress.h"

#include "platform/codepage.h"
#include "support/httpserver.h"
#include "support/transfers.h"

#include <QCoreApplication>
#include <QScopeGuard>
#include <QTimer>

#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <httplib.h>
#include <set>

#include <atomic>
#include <cstdlib>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace std::chrono_literals;
using State = UrlTransfer::State;

namespace {

// A picture's bytes: a JPEG's signature, then bytes of every value.
std::string bytePattern(size_t size)
{
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i)
        s[i] = char((i * 7 + i / 256) & 0xFF);
    s.replace(0, 3, "\xFF\xD8\xFF");
    return s;
}

// Answers each connection, one after the other, with `pieces` written one at a time, `gap`
// before each, and then keeps the connection until the client closes it. A piece is one write,
// so a client reads it at once: a reply can stop anywhere (in the headers, in the body) and a
// server can trickle.
class CannedServer {
public:
    explicit CannedServer(std::vector<std::string> pieces, std::chrono::milliseconds gap = 0ms)
    {
        m_listener = listenOnLoopback(&m_port);
        m_thread = std::thread([this, pieces = std::move(pieces), gap] {
            for (int client; (client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;
                 ::close(client)) {
                const timeval limit{20, 0}; // a client that never closes does not hold the test
                ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
                char buffer[4096]; // every request fits: the reply follows its first read
                ::recv(client, buffer, sizeof buffer, 0);
                for (const std::string &piece : pieces) {
                    for (auto slept = &piece == &pieces.front() ? gap : 0ms; slept < gap && !m_stop;
                         slept += 10ms)
                        std::this_thread::sleep_for(10ms);
                    if (m_stop || ::send(client, piece.data(), piece.size(), MSG_NOSIGNAL) < 0)
                        break;
                }
                while (!m_stop && ::recv(client, buffer, sizeof buffer, 0) > 0) {
                }
            }
        });
    }
    ~CannedServer()
    {
        m_stop = true;
        ::shutdown(m_listener, SHUT_RDWR);
        m_thread.join();
        ::close(m_listener);
    }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1/").arg(m_port); }

private:
    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

class CurlTransferTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto &s = m_server.server();
        const auto serve = [&s](const char *path, std::string body, const char *type) {
            s.Get(path, [=](const httplib::Request &, httplib::Response &res) {
                res.set_content(body, type);
            });
        };
        serve("/text", "<html>Hello, \\ ~ world</html>", "text/html");
        serve("/bytes", bytePattern(100000), "image/jpeg");
        // The same, compressed (a zlib stream: qCompress's, after its 4-byte length).
        s.Get("/bytes.z", [](const httplib::Request &, httplib::Response &res) {
            res.set_header("Content-Encoding", "deflate");
            res.set_content(
                qCompress(QByteArray::fromStdString(bytePattern(100000))).sliced(4).toStdString(),
                "image/jpeg");
        });
        serve("/sjis", codepage::toCp932(QStringLiteral("取り込み\\")).toStdString(),
              "text/html; charset=Shift_JIS");
        s.Get("/echo/.*", [](const httplib::Request &req, httplib::Response &res) {
            res.set_content("\xFF\xD8\xFF" + req.path, "image/jpeg");
        });
        s.Get("/close", [](const httplib::Request &, httplib::Response &res) {
            res.set_header("Connection", "close");
            res.set_content("bye", "text/plain");
        });
        s.Get(R"(/hop/(\d+))", [this](const httplib::Request &req, httplib::Response &res) {
            const int n = std::stoi(req.matches[1]);
            if (n == 0)
                res.set_content("arrived", "text/plain");
            else
                res.set_redirect(m_server.url(QStringLiteral("/hop/%1").arg(n - 1)).toStdString());
        });
        for (const auto &[from, to] : {std::pair{"/loop", "/loop"}, {"/to-ftp", "ftp://h/x"}})
            s.Get(from,
                  [to](const httplib::Request &, httplib::Response &res) { res.set_redirect(to); });
        s.Get(R"(/status/(\d+))", [](const httplib::Request &req, httplib::Response &res) {
            res.status = std::stoi(req.matches[1]);
            if (res.status != 204 && res.status != 205 && res.status != 304) // never with a body
                res.set_content("<html>error page</html>", "text/html");
        });
        // A body of the given size, declared or (chunked) seen only as it comes; asked for as a
        // page and as an image, so it is typed as neither (and begins "BM", a bitmap's
        // signature, in plain ASCII).
        s.Get(R"(/(size|chunked)/(\d+))", [](const httplib::Request &req, httplib::Response &res) {
            std::string body(std::stoul(req.matches[2]), 'a');
            body.replace(0, std::min<size_t>(2, body.size()),
                         std::string("BM").substr(0, body.size()));
            if (req.matches[1] == "size")
                return res.set_content(body, "application/octet-stream");
            res.set_chunked_content_provider(
                "application/octet-stream", [body](size_t at, httplib::DataSink &sink) {
                    return at == 0 ? sink.write(body.data(), body.size()) : (sink.done(), true);
                });
        });
        // Bodies compressed whether asked for or not (a brotli stream of one uncompressed
        // meta-block), and one that is not what its encoding says.
        const auto encoded = [&s](const char *path, const char *encoding, std::string body,
                                  const char *type) {
            s.Get(path, [=](const httplib::Request &, httplib::Response &res) {
                res.set_header("Content-Encoding", encoding);
                res.set_content(body, type);
            });
        };
#define BYTES(literal) std::string(literal, sizeof(literal) - 1)
        encoded("/enc/gzip", "gzip",
                BYTES("\x1F\x8B\x08\x00\x00\x00\x00\x00\x02\x03\xFB\x7F\xE3\xBF\x42\x7A\x55"
                      "\x66\x01\x00\x8B\x93\xED\xE5\x08\x00\x00\x00"),
                "image/jpeg");
        encoded("/enc/deflate", "deflate",
                BYTES("\x78\x9C\xFB\x7F\xE3\xBF\x42\x4A\x6A\x5A\x4E\x62\x49\x2A\x00\x28\x9F"
                      "\x05\xCC"),
                "image/jpeg");
        encoded("/enc/br", "br", BYTES("\x50\x00\x10\xFF\xD8\xFF br\x03"), "image/jpeg");
        encoded("/enc/zstd", "zstd",
                BYTES("\x28\xB5\x2F\xFD\x04\x58\x41\x00\x00\xFF\xD8\xFF\x20\x7A\x73\x74"
                      "\x64\xF5\xDE\x80\xD2"),
                "image/jpeg");
        // Two encodings in two headers, applied in their order: deflate, then gzip.
        s.Get("/enc/stacked", [](const httplib::Request &, httplib::Response &res) {
            res.set_header("Content-Encoding", "deflate");
            res.set_header("Content-Encoding", "gzip");
            res.set_content(
                BYTES("\x1F\x8B\x08\x00\x00\x00\x00\x00\x02\x03\xAB\xB8\xF5\xBB\xFE\xF1\x7E"
                      "\xA7\x42\xCF\xA4\xA2\xB2\x2C\x2E\x06\x4D\x15\xD6\x6B\x00\x70\xAB"
                      "\xCB\x0A\x13\x00\x00\x00"),
                "image/jpeg");
        });
        encoded("/enc/page", "gzip",
                BYTES("\x1F\x8B\x08\x00\x00\x00\x00\x00\x02\x03\xB3\x29\xB0\x7B\x3A\x67\xF9"
                      "\xF3\x1D\xEB\x6C\xF4\x0B\xEC\x00\xDD\x60\x38\x09\x0D\x00\x00\x00"),
                "text/html; charset=utf-8");
        encoded("/enc/corrupt", "gzip", BYTES("\x1F\x8B\x08\x00 not gzip at all"), "image/jpeg");
        // The gzip of "\xFF\xD8\xFF gzip" cut short inside its data: what it decodes to starts
        // like a JPEG.
        encoded("/enc/cut", "gzip",
                BYTES("\x1F\x8B\x08\x00\x00\x00\x00\x00\x02\x03\xFB\x7F\xE3\xBF\x42\x7A"),
                "image/jpeg");
#undef BYTES
        // Requests sent to this server as a proxy name the whole address.
        s.Get(R"(http://proxied\.example/.*)",
              [](const httplib::Request &req, httplib::Response &res) {
                  res.set_content("via proxy " + req.path, "text/plain");
              });
        m_server.start();
    }

    QString url(const char *path) const
    {
        return m_server.url(QString::fromLatin1(path));
    }

    TestHttpServer m_server;
};

struct StateLog {
    explicit StateLog(CurlTransfer &t)
    {
        QObject::connect(&t, &UrlTransfer::StateChanged, &t,
                         [this](int, qint16 s) { states.push_back(s); });
    }
    std::vector<qint16> take() { return std::exchange(states, {}); }
    std::vector<qint16> states;
};

TEST_F(CurlTransferTest, ReturnsThePageAsTextAndAnImageAsItsExactBytes)
{
    CurlTransfer t;
    EXPECT_EQ(OpenURL(t, url("/text")).toString(),
              QStringLiteral("<html>Hello, \\ ~ world</html>"));
    EXPECT_EQ(openText(t, url("/sjis")), QStringLiteral("取り込み\\"));
    const QVariant v = OpenURL(t, url("/bytes"), UrlTransfer::icByteArray);
    ASSERT_EQ(v.typeId(), QMetaType::QByteArray);
    EXPECT_TRUE(v.toByteArray() == QByteArray::fromStdString(bytePattern(100000)));
}

TEST(RequestAddress, SpacesAndControlsAfterTheHostAreEncodedAndNothingElse)
{
    const struct {
        const char *typed;
        const char *sent;
    } cases[] = {
        {"h/my photo.jpg", "h/my%20photo.jpg"},
        {"  http://h/my%20photo.jpg ", "http://h/my%20photo.jpg"},
        {"http://h/a\x7f\tb.jpg", "http://h/a%7F%09b.jpg"},
        {"http://h/p?q=a b#f g", "http://h/p?q=a%20b#f%20g"}, // not "+" in the query
        {"http://foo bar/x y", "http://foo bar/x%20y"},       // the host stays bad
        {"http://h?x y", "http://h?x%20y"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(requestAddress(QString::fromLatin1(c.typed)), QByteArray(c.sent)) << c.typed;
    EXPECT_EQ(requestAddress(QStringLiteral("http://h/写真.jpg")),
              QStringLiteral("http://h/写真.jpg").toUtf8());
    // The host a request goes to (whose browser cookies pick the User-Agent).
    const struct {
        const char *typed;
        const char *host;
    } hosts[] = {
        {" 127.0.0.1:5/a.jpg", "127.0.0.1"},
        {"HTTP://User:pw@Example.ORG:8080/p?q=@x", "example.org"},
        {"https://[::1]:8443/x", "::1"},
        {"http://h?x/y", "h"},
    };
    for (const auto &c : hosts)
        EXPECT_EQ(transferAddress(QString::fromLatin1(c.typed)).host, QLatin1String(c.host))
            << c.typed;
}

TEST_F(CurlTransferTest, AddressesAreRepairedBeforeTheyAreSent)
{
    CurlTransfer t;
    EXPECT_EQ(openBytes(t, QStringLiteral(" 127.0.0.1:%1/echo/my photo.jpg").arg(m_server.port())),
              QByteArray("\xFF\xD8\xFF/echo/my photo.jpg"));
}

TEST_F(CurlTransferTest, ProxyFromTheEnvironmentIsUsed)
{
    const QByteArray proxy = m_server.base().toLatin1();
    ASSERT_EQ(::setenv("http_proxy", proxy.constData(), 1), 0);
    const auto unset = qScopeGuard([] { ::unsetenv("http_proxy"); });
    CurlTransfer t;
    EXPECT_EQ(openText(t, QStringLiteral("http://proxied.example/a.jpg")),
              QStringLiteral("via proxy http://proxied.example/a.jpg"));
}

TEST_F(CurlTransferTest, StatesOfAFreshConnectionThenOfAReusedOne)
{
    CurlTransfer t;
    StateLog log(t);
    // A second OpenURL while one waits fails at once and leaves the first alone.
    bool secondThrew = false;
    QObject::connect(&t, &UrlTransfer::StateChanged, &t, [&](int, qint16 s) {
        try {
            if (s == State::icReceivingResponse)
                openText(t, url("/size/1"));
        } catch (const TransferError &) {
            secondThrew = true;
        }
    });
    openText(t, url("/close"));
    EXPECT_EQ(log.take(), (std::vector<qint16>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 12}));

    openText(t, url("/text"));
    EXPECT_EQ(log.take(), (std::vector<qint16>{1, 2, 3, 4, 5, 6, 7, 8, 12}));
    openText(t, url("/text"));
    EXPECT_EQ(log.take(), (std::vector<qint16>{4, 5, 6, 7, 8, 12}));
    // An error page is read to its end, so the connection outlives it.
    EXPECT_THROW(openText(t, url("/status/404")), TransferError);
    EXPECT_EQ(log.take(), (std::vector<qint16>{4, 5, 6, 7, 8, 11}));
    EXPECT_EQ(openBytes(t, url("/bytes")).size(), 100000);
    EXPECT_EQ(log.take(), (std::vector<qint16>{4, 5, 6, 7, 8, 12}));
    EXPECT_TRUE(secondThrew);
}

TEST_F(CurlTransferTest, RedirectsAreFollowedUpToTen)
{
    CurlTransfer t;
    EXPECT_EQ(openText(t, url("/hop/10")), QStringLiteral("arrived"));
    try {
        openText(t, url("/hop/11"));
        FAIL() << "eleven redirects accepted";
    } catch (const TransferError &e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("redirects"))) << e.what();
    }
    EXPECT_THROW(openText(t, url("/loop")), TransferError);
    EXPECT_THROW(openText(t, url("/to-ftp")), TransferError);
}

TEST_F(CurlTransferTest, OnlyAFinalReplyWithABodyIsABody)
{
    CurlTransfer t;
    // A 2xx with a body; everything else fails, also the 302 here, which has no Location.
    for (int status : {200, 201, 203, 226})
        EXPECT_EQ(openText(t, url("/status/") + QString::number(status)),
                  QStringLiteral("<html>error page</html>"));
    // A 206 is a part of a body, and no part was asked for.
    for (int status : {204, 205, 206, 299, 302, 304, 399, 400, 403, 404, 500, 503}) {
        try {
            openBytes(t, url("/status/") + QString::number(status));
            ADD_FAILURE() << "status " << status << " accepted";
        } catch (const TransferError &e) {
            EXPECT_TRUE(e.message().contains(QStringLiteral("status %1").arg(status))) << e.what();
        }
    }
    // Text in the address is never taken for a placeholder of the message.
    try {
        openBytes(t, url("/status/404?a%2Fb"));
        ADD_FAILURE() << "a 404 accepted";
    } catch (const TransferError &e) {
        EXPECT_TRUE(e.message().endsWith(QStringLiteral("/status/404?a%2Fb answered with HTTP "
                                                        "status 404")))
            << e.what();
    }
}

TEST_F(CurlTransferTest, CompressedBodiesAreDecoded)
{
    CurlTransfer t;
    for (const char *encoding : {"gzip", "deflate", "br", "zstd", "stacked"})
        EXPECT_EQ(openBytes(t, url("/enc/") + QString::fromLatin1(encoding)),
                  QByteArray("\xFF\xD8\xFF ") + encoding);
    EXPECT_EQ(openText(t, url("/enc/page")), QStringLiteral("<p>圧縮</p>"));
    for (const char *path : {"/enc/corrupt", "/enc/cut"}) {
        try {
            openBytes(t, url(path));
            ADD_FAILURE() << path << " accepted";
        } catch (const TransferError &e) {
            EXPECT_TRUE(e.message().contains(QStringLiteral("unencoding"))) << e.what();
        }
    }
}

TEST_F(CurlTransferTest, LengthsThatDisagreeFail)
{
    for (const char *lengths : {"Content-Length: 3\r\nContent-Length: 5", "Content-Length: 3, 5"}) {
        SCOPED_TRACE(lengths);
        CannedServer server({"HTTP/1.1 200 OK\r\n" + std::string(lengths) + "\r\n\r\nabcde"});
        CurlTransfer t;
        try {
            openBytes(t, server.url());
            ADD_FAILURE() << "a body of two lengths accepted";
        } catch (const TransferError &e) {
            EXPECT_TRUE(e.message().contains(QStringLiteral("Content-Length"))) << e.what();
        }
    }
}

TEST_F(CurlTransferTest, BodyOverTheMaximumFails)
{
    CurlTransfer t;
    t.setMaxBodySize(1024);
    t.setMaxPageSize(512); // a page has a cap of its own
    const auto size = [&](const char *path, qint32 type) -> qsizetype {
        try {
            return OpenURL(t, url(path), type).toByteArray().size();
        } catch (const TransferError &e) {
            EXPECT_TRUE(e.message().contains(QStringLiteral("larger than"))) << e.what();
            return -1;
        }
    };
    for (const qint32 type : {UrlTransfer::icByteArray, UrlTransfer::icString}) {
        const qsizetype cap = type == UrlTransfer::icString ? 512 : 1024;
        for (const char *sized : {"/size/", "/chunked/"}) {
            SCOPED_TRACE(std::string(sized) + (type == UrlTransfer::icString ? "page" : "image"));
            EXPECT_EQ(size((sized + std::to_string(cap)).c_str(), type), cap);
            EXPECT_EQ(size((sized + std::to_string(cap + 1)).c_str(), type), -1);
        }
    }
}

TEST_F(CurlTransferTest, SlowerThanOneByteASecondForTheTimeOutFails)
{
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 12\r\n\r\n";
    std::vector<std::string> headerLines{"HTTP/1.1 200 OK\r\n"}, bodyBytes{head};
    for (int i = 0; i < 12; ++i)
        headerLines.push_back("X-Line: 1\r\n"), bodyBytes.push_back("s");
    headerLines.push_back("Content-Length: 0\r\n\r\n");
    // The shortest limit there is, 1 s (libcurl measures the speed once a second). Unchecked,
    // each trickle would succeed after 18 s.
    struct Case {
        const char *what;
        CannedServer server;
        bool fails;
    } cases[] = {
        {"no reply", CannedServer({"", head + std::string(12, 's')}, 15000ms), true},
        {"a header line every 1.5 s", CannedServer(headerLines, 1500ms), true},
        {"a body byte every 1.5 s", CannedServer(bodyBytes, 1500ms), true},
        {"a body byte every 0.1 s", CannedServer(bodyBytes, 100ms), false},
    };
    for (Case &c : cases) {
        SCOPED_TRACE(c.what);
        CurlTransfer t;
        t.setTimeoutSeconds(1);
        try {
            EXPECT_EQ(openText(t, c.server.url()).size(), c.fails ? -1 : 12);
        } catch (const TransferError &e) {
            EXPECT_TRUE(c.fails) << e.what();
            EXPECT_TRUE(e.message().contains(QStringLiteral("timed out"))) << e.what();
        }
    }
}

TEST_F(CurlTransferTest, CancelAtAnyMomentFailsTheTransfer)
{
    CannedServer inHeaders({"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n"});
    CannedServer inBody({"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc"});
    CannedServer complete({"HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc"});
    // Names are looked up at a name server of the test's own that never answers (DNS over HTTPS
    // on loopback), so a lookup lasts until it is cancelled and nothing leaves the machine.
    CannedServer silentNameServer({});
    const QString nameServer =
        silentNameServer.url().replace(QStringLiteral("http:"), QStringLiteral("https:"));
    enum Action { Cancel, DestroyTheService };
    struct Case {
        const char *moment;
        QString url;
        qint16 at; // the state whose receiver acts; icNone: before any state
        Action action;
        std::vector<qint16> states;
    };
    const Case cases[] = {
        {"before the transfer starts", complete.url(), State::icNone, Cancel, {11}},
        {"while resolving", QStringLiteral("http://resolving.invalid/"), 1, Cancel, {1, 11}},
        {"during the headers", inHeaders.url(), 7, Cancel, {1, 2, 3, 4, 5, 6, 7, 9, 10, 11}},
        {"during the body", inBody.url(), 7, Cancel, {1, 2, 3, 4, 5, 6, 7, 9, 10, 11}},
        {"after the body arrived", complete.url(), 8, Cancel, {1, 2, 3, 4, 5, 6, 7, 8, 11}},
        {"after the last state", complete.url(), 12, Cancel, {1, 2, 3, 4, 5, 6, 7, 8, 12}},
        // Destroyed from the event loop while the transfer is awaited: the awaiter fails, and
        // nothing more is reported.
        {"destroyed", inBody.url(), 7, DestroyTheService, {1, 2, 3, 4, 5, 6, 7}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.moment);
        auto *t = new CurlTransfer;
        t->setDnsOverHttps(nameServer);
        StateLog log(*t);
        const auto act = [&c, t] {
            if (c.action == Cancel)
                cancelOpen(*t);
            else
                QMetaObject::invokeMethod(
                    qApp, [t] { delete t; }, Qt::QueuedConnection);
        };
        QObject::connect(t, &UrlTransfer::StateChanged, qApp, [&c, act](int, qint16 s) {
            if (s == c.at)
                act();
        });
        if (c.at == State::icNone)
            QMetaObject::invokeMethod(t, act, Qt::QueuedConnection);
        try {
            openText(*t, c.url);
            ADD_FAILURE() << "stopped transfer succeeded";
        } catch (const TransferError &e) {
            EXPECT_TRUE(e.message().contains(c.action == DestroyTheService
                                                 ? QStringLiteral("closed")
                                                 : QStringLiteral("cancelled")))
                << e.what();
        }
        EXPECT_EQ(log.states, c.states);
        if (c.action != DestroyTheService)
            delete t;
    }
    // Cancel while idle does nothing.
    CurlTransfer t;
    cancelOpen(t);
    EXPECT_EQ(openText(t, complete.url()), QStringLiteral("abc"));
}

TEST_F(CurlTransferTest, CancelledSideBySideTransferReportsItsEndAtOnce)
{
    // The body never ends: only cancelling ends the transfer.
    CannedServer inBody({"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc"});
    CurlTransfer t;
    std::vector<std::pair<int, qint16>> states;
    QObject::connect(&t, &UrlTransfer::StateChanged, &t,
                     [&states](int ticket, qint16 state) { states.emplace_back(ticket, state); });
    const int ticket =
        t.startTransfer(inBody.url(), UrlTransfer::icByteArray, {}, UrlTransfer::Lane::SideBySide);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !states.empty() && states.back().second == State::icReceivingResponse; },
        10000));
    t.cancelTransfer(ticket);
    // Its error state is there before the event loop runs again, as after Cancel.
    ASSERT_FALSE(states.empty());
    EXPECT_EQ(states.back(), std::make_pair(ticket, qint16(State::icError)));
}

TEST_F(CurlTransferTest, SideBySideBodiesShareOneBudgetAndTheAwaitedOneAlwaysGoesOn)
{
    // Half the largest body is what the transfers side by side hold together: of three 100 KB
    // images none of which is awaited yet, one arrives and the others pause. Each one awaited
    // then goes on, the last one first, and all of them arrive whole. A compressed body pauses
    // as it is decoded, wherever its room runs out.
    for (const char *path : {"/bytes", "/bytes.z"}) {
        SCOPED_TRACE(path);
        CurlTransfer t;
        t.setMaxBodySize(256 * 1024);
        std::set<int> completed;
        QObject::connect(&t, &UrlTransfer::StateChanged, &t, [&](int ticket, qint16 state) {
            if (state == State::icResponseCompleted)
                completed.insert(ticket);
        });
        const auto start = [&] {
            return t.startTransfer(url(path), UrlTransfer::icByteArray, {},
                                   UrlTransfer::Lane::SideBySide);
        };
        std::vector<int> tickets;
        for (int i = 0; i < 3; ++i)
            tickets.push_back(start());
        EXPECT_FALSE(QTest::qWaitFor([&] { return completed.size() == 3; }, 1500));
        if (path == std::string("/bytes"))
            EXPECT_EQ(completed.size(), 1u);
        else // the room a compressed body takes grows as it is decoded: two may both run out
            EXPECT_LE(completed.size(), 1u);
        // A paused one cancelled leaves its handle clean for the next transfer.
        const auto paused = std::find_if(tickets.begin(), tickets.end(),
                                         [&](int ticket) { return !completed.count(ticket); });
        ASSERT_NE(paused, tickets.end());
        t.cancelTransfer(*paused);
        *paused = start();
        for (auto ticket = tickets.rbegin(); ticket != tickets.rend(); ++ticket)
            EXPECT_EQ(finish(t, *ticket).bytes, QByteArray::fromStdString(bytePattern(100000)));
    }
}

TEST_F(CurlTransferTest, ATransferCancelledWhileItsFinishWaitsLeavesItsHandleToTheNextOne)
{
    // A receiver of the states cancels the transfer being waited for and starts another one,
    // which takes over its easy handle; the wait ends as cancelled and the other goes on.
    CannedServer never({"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc"});
    CannedServer complete({"HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nBMa"});
    CurlTransfer t;
    int first = 0;
    int second = 0;
    const auto startImage = [&t](const QString &url) {
        return t.startTransfer(url, UrlTransfer::icByteArray, {}, UrlTransfer::Lane::SideBySide);
    };
    QObject::connect(&t, &UrlTransfer::StateChanged, &t, [&](int ticket, qint16 state) {
        if (ticket == first && state == State::icReceivingResponse && second == 0) {
            t.cancelTransfer(first);
            second = startImage(complete.url());
        }
    });
    first = startImage(never.url());
    try {
        finish(t, first);
        ADD_FAILURE() << "a cancelled transfer gave a body";
    } catch (const TransferError &e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("cancelled"))) << e.what();
    }
    ASSERT_NE(second, 0);
    EXPECT_EQ(finish(t, second).bytes, QByteArray("BMa"));
}

TEST_F(CurlTransferTest, BadAddressesFail)
{
    CurlTransfer t;
    StateLog log(t);
    for (const char *address : {"http://", "ftp://127.0.0.1/x", "foo bar", "http://foo bar/x", "",
                                "file:///etc/passwd", "http://127.0.0.1:99999/"}) {
        SCOPED_TRACE(address);
        EXPECT_THROW(openText(t, QString::fromLatin1(address)), TransferError);
        EXPECT_EQ(log.take(), std::vector<qint16>{State::icError});
    }
}

TEST_F(CurlTransferTest, ConnectionFailuresNameTheirCause)
{
    QString refused;
    {
        CannedServer closed({});
        refused = closed.url(); // nothing listens there any more
    }
    const QString plain = QStringLiteral("https://127.0.0.1:%1/text").arg(m_server.port());
    // CURL_CA_BUNDLE, else SSL_CERT_FILE, names the certificates to trust (missing files here).
    const struct {
        QString address;
        const char *bundle;
        const char *certFile;
        const char *cause;
    } cases[] = {
        {refused, nullptr, nullptr, "cannot connect"},
        {plain, nullptr, nullptr, "secure connection"},
        {plain, nullptr, "/missing/file.pem", "/missing/file.pem"},
        {plain, "/missing/bundle.pem", "/missing/file.pem", "/missing/bundle.pem"},
    };
    const auto unset = qScopeGuard([] {
        ::unsetenv("CURL_CA_BUNDLE");
        ::unsetenv("SSL_CERT_FILE");
    });
    for (const auto &c : cases) {
        SCOPED_TRACE(c.cause);
        c.bundle ? ::setenv("CURL_CA_BUNDLE", c.bundle, 1) : ::unsetenv("CURL_CA_BUNDLE");
        c.certFile ? ::setenv("SSL_CERT_FILE", c.certFile, 1) : ::unsetenv("SSL_CERT_FILE");
        CurlTransfer t;
        try {
            openText(t, c.address);
            ADD_FAILURE() << "failed connection succeeded";
        } catch (const TransferError &e) {
            EXPECT_TRUE(e.message().contains(QString::fromLatin1(c.cause))) << e.what();
        }
    }
}

} // namespace
