// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/curl/curltransfer.h"

#include "platform/codepage.h"
#include "support/httpserver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QScopeGuard>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace std::chrono_literals;
using State = UrlTransfer::State;

namespace {

std::string bytePattern(size_t size)
{
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i)
        s[i] = char((i * 7 + i / 256) & 0xFF);
    return s;
}

// Streams `count` pieces of `piece`, sleeping `gap` before each, until the client goes away
// or the test releases the server.
httplib::Server::Handler trickle(std::string piece, int count, std::chrono::milliseconds gap,
                                 const std::atomic<bool> &released)
{
    return [=, &released](const httplib::Request &, httplib::Response &res) {
        res.set_chunked_content_provider(
            "text/plain", [=, &released](size_t offset, httplib::DataSink &sink) {
                if (offset >= piece.size() * size_t(count)) {
                    sink.done();
                    return true;
                }
                for (auto slept = 0ms; slept < gap && !released; slept += 10ms)
                    std::this_thread::sleep_for(10ms);
                return sink.write(piece.data(), piece.size());
            });
    };
}

class CurlTransferTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto &s = m_server.server();
        s.Get("/text", [](const httplib::Request &, httplib::Response &res) {
            res.set_content("<html>Hello, \\ ~ world</html>", "text/html");
        });
        s.Get("/bytes", [](const httplib::Request &, httplib::Response &res) {
            res.set_content(bytePattern(100000), "image/jpeg");
        });
        s.Get("/my photo.jpg", [](const httplib::Request &, httplib::Response &res) {
            res.set_content("spaced", "image/jpeg");
        });
        s.Get("/sjis", [](const httplib::Request &, httplib::Response &res) {
            const QByteArray body = codepage::toCp932(QStringLiteral("取り込み\\"));
            res.set_content(body.toStdString(), "text/html; charset=Shift_JIS");
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
        s.Get("/loop",
              [](const httplib::Request &, httplib::Response &res) { res.set_redirect("/loop"); });
        s.Get("/to-ftp", [](const httplib::Request &, httplib::Response &res) {
            res.set_redirect("ftp://127.0.0.1/x");
        });
        s.Get(R"(/status/(\d+))", [](const httplib::Request &req, httplib::Response &res) {
            res.status = std::stoi(req.matches[1]);
            res.set_content("<html>error page</html>", "text/html");
        });
        s.Get(R"(/size/(\d+))", [](const httplib::Request &req, httplib::Response &res) {
            res.set_content(std::string(std::stoul(req.matches[1]), 'a'), "text/plain");
        });
        s.Get(R"(/chunked/(\d+))", [](const httplib::Request &req, httplib::Response &res) {
            const size_t total = std::stoul(req.matches[1]);
            res.set_chunked_content_provider(
                "text/plain", [total](size_t offset, httplib::DataSink &sink) {
                    if (offset >= total) {
                        sink.done();
                        return true;
                    }
                    const std::string piece(std::min<size_t>(512, total - offset), 'b');
                    return sink.write(piece.data(), piece.size());
                });
        });
        s.Get("/stall-head", [this](const httplib::Request &, httplib::Response &res) {
            for (int i = 0; i < 300 && !m_released; ++i)
                std::this_thread::sleep_for(10ms);
            res.set_content("late", "text/plain");
        });
        s.Get("/stall-body", [this](const httplib::Request &, httplib::Response &res) {
            res.set_chunked_content_provider("text/plain",
                                             [this](size_t offset, httplib::DataSink &sink) {
                                                 if (offset == 0)
                                                     return sink.write("first", 5);
                                                 for (int i = 0; i < 300 && !m_released; ++i)
                                                     std::this_thread::sleep_for(10ms);
                                                 sink.done();
                                                 return true;
                                             });
        });
        s.Get("/steady", trickle("s", 12, 200ms, m_released)); // 2.4 s, a byte every 0.2 s
        s.Get("/slow", trickle(std::string(100, 'x'), 200, 50ms, m_released)); // 10 s
        // Requests sent to this server as a proxy name the whole address.
        s.Get(R"(http://proxied\.example/.*)",
              [](const httplib::Request &req, httplib::Response &res) {
                  res.set_content("via proxy " + req.path, "text/plain");
              });
        m_server.start();
    }

    void TearDown() override
    {
        m_released = true;
        m_server.stop();
    }

    QString url(const char *path) const { return m_server.url(QString::fromLatin1(path)); }

    // Runs fn after ms milliseconds on this thread, from within OpenURL's wait.
    static void later(int ms, std::function<void()> fn)
    {
        QTimer::singleShot(ms, qApp, std::move(fn));
    }

    TestHttpServer m_server;
    std::atomic<bool> m_released{false};
};

struct StateLog {
    explicit StateLog(CurlTransfer &t)
    {
        QObject::connect(&t, &UrlTransfer::StateChanged, &t, [this](qint16 s) {
            states.push_back(s);
            if (QThread::currentThread() != qApp->thread())
                offThread = true;
        });
    }
    std::vector<qint16> take() { return std::exchange(states, {}); }
    std::vector<qint16> states;
    bool offThread = false;
};

TEST_F(CurlTransferTest, TextModeReturnsThePageWithAsciiAsSent)
{
    CurlTransfer t;
    EXPECT_EQ(t.OpenURL(url("/text")).toString(), QStringLiteral("<html>Hello, \\ ~ world</html>"));
    EXPECT_EQ(t.openText(url("/sjis")), QStringLiteral("取り込み\\"));
}

TEST_F(CurlTransferTest, ByteModeReturnsExactlyTheBytesSent)
{
    CurlTransfer t;
    const QVariant v = t.OpenURL(url("/bytes"), UrlTransfer::icByteArray);
    ASSERT_EQ(v.typeId(), QMetaType::QByteArray);
    const QByteArray got = v.toByteArray();
    const std::string want = bytePattern(100000);
    ASSERT_EQ(got.size(), qsizetype(want.size()));
    EXPECT_TRUE(std::equal(want.begin(), want.end(), got.begin()));
}

TEST_F(CurlTransferTest, AddressWithoutSchemeIsHttp)
{
    CurlTransfer t;
    const QString address = QStringLiteral("127.0.0.1:%1/text").arg(m_server.port());
    EXPECT_EQ(t.openText(address), QStringLiteral("<html>Hello, \\ ~ world</html>"));
}

TEST_F(CurlTransferTest, SpacesInThePathAreSentEncoded)
{
    CurlTransfer t;
    EXPECT_EQ(t.openBytes(url("/my photo.jpg")), QByteArray("spaced"));
    EXPECT_EQ(t.openBytes(QStringLiteral("  ") + url("/my%20photo.jpg") + QStringLiteral(" ")),
              QByteArray("spaced"));
}

TEST_F(CurlTransferTest, ProxyFromTheEnvironmentIsUsed)
{
    const QByteArray proxy = m_server.base().toLatin1();
    ASSERT_EQ(::setenv("http_proxy", proxy.constData(), 1), 0);
    const auto unset = qScopeGuard([] { ::unsetenv("http_proxy"); });
    CurlTransfer t;
    EXPECT_EQ(t.openText(QStringLiteral("http://proxied.example/a.jpg")),
              QStringLiteral("via proxy http://proxied.example/a.jpg"));
}

TEST_F(CurlTransferTest, StatesOfAFreshConnectionThenOfAReusedOne)
{
    CurlTransfer t;
    StateLog log(t);
    t.openText(url("/close"));
    EXPECT_EQ(log.take(), (std::vector<qint16>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 12}));

    t.openText(url("/text"));
    EXPECT_EQ(log.take(), (std::vector<qint16>{1, 2, 3, 4, 5, 6, 7, 8, 12}));
    t.openText(url("/text"));
    EXPECT_EQ(log.take(), (std::vector<qint16>{4, 5, 6, 7, 8, 12}));
    EXPECT_FALSE(log.offThread);
}

TEST_F(CurlTransferTest, FailureEndsWithTheErrorState)
{
    CurlTransfer t;
    StateLog log(t);
    EXPECT_THROW(t.openText(url("/status/404")), TransferError);
    EXPECT_EQ(log.take(), (std::vector<qint16>{1, 2, 3, 4, 5, 6, 7, 8, 11}));
}

TEST_F(CurlTransferTest, ManyTransfersShareOneConnection)
{
    CurlTransfer t;
    for (int i = 0; i < 25; ++i)
        ASSERT_EQ(t.openBytes(url("/bytes")).size(), 100000);
    // An error page is read to its end, so the connection outlives it as well.
    EXPECT_THROW(t.openBytes(url("/status/404")), TransferError);
    EXPECT_EQ(t.openBytes(url("/size/10")).size(), 10);
    EXPECT_EQ(m_server.connections(), 1);
}

TEST_F(CurlTransferTest, RedirectsAreFollowedUpToTen)
{
    CurlTransfer t;
    EXPECT_EQ(t.openText(url("/hop/10")), QStringLiteral("arrived"));
    try {
        t.openText(url("/hop/11"));
        FAIL() << "eleven redirects accepted";
    } catch (const TransferError &e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("redirects"))) << e.what();
    }
    EXPECT_THROW(t.openText(url("/loop")), TransferError);
    EXPECT_THROW(t.openText(url("/to-ftp")), TransferError);
}

TEST_F(CurlTransferTest, ErrorStatusesFail)
{
    CurlTransfer t;
    for (int status : {400, 403, 404, 500, 503}) {
        try {
            t.openBytes(url("/status/") + QString::number(status));
            ADD_FAILURE() << "status " << status << " accepted";
        } catch (const TransferError &e) {
            EXPECT_TRUE(e.message().contains(QString::number(status))) << e.what();
        }
    }
    EXPECT_EQ(t.openText(url("/status/200")), QStringLiteral("<html>error page</html>"));
}

TEST_F(CurlTransferTest, BodyOverTheMaximumFails)
{
    struct Case {
        const char *path;
        bool accepted;
    };
    const Case cases[] = {
        {"/size/1024", true},    {"/size/1025", false},    {"/size/10240", false},
        {"/chunked/1024", true}, {"/chunked/1025", false}, {"/chunked/10240", false},
    };
    CurlTransfer t;
    t.setMaxBodySize(1024);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        if (c.accepted) {
            EXPECT_EQ(t.openBytes(url(c.path)).size(), 1024);
        } else {
            try {
                t.openBytes(url(c.path));
                ADD_FAILURE() << "oversized body accepted";
            } catch (const TransferError &e) {
                EXPECT_TRUE(e.message().contains(QStringLiteral("larger than 1024"))) << e.what();
            }
        }
    }
}

TEST_F(CurlTransferTest, NoDataForTheTimeOutFails)
{
    CurlTransfer t;
    t.setTimeoutSeconds(1);
    for (const char *path : {"/stall-head", "/stall-body"}) {
        SCOPED_TRACE(path);
        QElapsedTimer clock;
        clock.start();
        EXPECT_THROW(t.openText(url(path)), TransferError);
        EXPECT_GE(clock.elapsed(), 900);
        EXPECT_LT(clock.elapsed(), 2800); // the server stalls for 3 s
    }
}

TEST_F(CurlTransferTest, SlowButSteadyBodyOutlastsTheTimeOut)
{
    CurlTransfer t;
    t.setTimeoutSeconds(1);
    EXPECT_EQ(t.openText(url("/steady")), QString(12, QLatin1Char('s')));
}

TEST_F(CurlTransferTest, CancelDuringASlowBodyFailsPromptly)
{
    CurlTransfer t;
    StateLog log(t);
    later(300, [&] { t.Cancel(); });
    QElapsedTimer clock;
    clock.start();
    try {
        t.openBytes(url("/slow"));
        FAIL() << "cancelled transfer succeeded";
    } catch (const TransferError &e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("cancelled"))) << e.what();
    }
    EXPECT_LT(clock.elapsed(), 2000); // the body would take 10 s
    ASSERT_FALSE(log.states.empty());
    EXPECT_EQ(log.states.back(), State::icError);

    // The service goes on working, and Cancel while idle does nothing.
    t.Cancel();
    EXPECT_EQ(t.openText(url("/size/3")), QStringLiteral("aaa"));
}

TEST_F(CurlTransferTest, SecondOpenUrlDuringATransferThrowsAndLeavesTheFirstAlone)
{
    CurlTransfer t;
    bool secondThrew = false;
    later(100, [&] {
        try {
            t.openText(url("/text"));
        } catch (const TransferError &) {
            secondThrew = true;
        }
    });
    EXPECT_EQ(t.openText(url("/steady")), QString(12, QLatin1Char('s')));
    EXPECT_TRUE(secondThrew);
}

TEST_F(CurlTransferTest, BadAddressesFail)
{
    CurlTransfer t;
    StateLog log(t);
    for (const char *address : {"http://", "ftp://127.0.0.1/x", "foo bar", "http://foo bar/x", "",
                                "file:///etc/passwd", "http://127.0.0.1:99999/"}) {
        SCOPED_TRACE(address);
        EXPECT_THROW(t.openText(QString::fromLatin1(address)), TransferError);
        EXPECT_EQ(log.take(), std::vector<qint16>{State::icError});
    }
}

TEST_F(CurlTransferTest, RefusedConnectionFails)
{
    // A bound socket that does not listen refuses connections to its port.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    socklen_t length = sizeof address;
    ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length), 0);
    const int port = ntohs(address.sin_port);

    CurlTransfer t;
    try {
        t.openText(QStringLiteral("http://127.0.0.1:%1/").arg(port));
        ADD_FAILURE() << "refused connection succeeded";
    } catch (const TransferError &e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("cannot connect"))) << e.what();
    }
    ::close(fd);
}

TEST_F(CurlTransferTest, TlsHandshakeWithAPlainServerFails)
{
    CurlTransfer t;
    try {
        t.openText(QStringLiteral("https://127.0.0.1:%1/text").arg(m_server.port()));
        ADD_FAILURE() << "https to a plain server succeeded";
    } catch (const TransferError &e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("secure connection"))) << e.what();
    }
}

TEST_F(CurlTransferTest, ApplicationExitDuringATransferThrowsAndDestructionDoesNotHang)
{
    {
        CurlTransfer t;
        later(200, [] { QCoreApplication::exit(0); });
        QElapsedTimer clock;
        clock.start();
        EXPECT_THROW(t.openText(url("/slow")), TransferError);
        EXPECT_LT(clock.elapsed(), 2000);
        // Once the application is quitting no transfer can wait any more.
        EXPECT_THROW(t.openText(url("/text")), TransferError);
    }
    {
        CurlTransfer idle; // destroyed after exit without ever fetching
    }
    // Clear the quitting state so that later tests in this process can wait again.
    QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
    CurlTransfer t;
    EXPECT_EQ(t.openText(url("/size/2")), QStringLiteral("aa"));
}

} // namespace
