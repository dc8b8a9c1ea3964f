// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/programlauncher.h"
#include "platform/qt/qtprogramlauncher.h"
#include "platform/systembrowser.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>

using namespace std::chrono_literals;

namespace {

// Starts only the programs it knows, recording every attempt.
class ScriptedLauncher : public ProgramLauncher {
public:
    qint64 startDetached(const QString &program, const QStringList &arguments) override
    {
        tried.append(QStringList{program} + arguments);
        return available.contains(program) ? 100 + tried.size() : 0;
    }
    QStringList available;
    QList<QStringList> tried;
};

QCoro::Task<QStringList> answer(QStringList command)
{
    co_return command;
}

// Writes an executable shell script at path.
void writeScript(const QString &path, const QByteArray &body)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\n" + body);
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// Puts a folder first on the PATH for the life of the object.
class PathFirst {
public:
    explicit PathFirst(const QString &folder) : m_old(qgetenv("PATH"))
    {
        qputenv("PATH", QFile::encodeName(folder) + ':' + m_old);
    }
    ~PathFirst() { qputenv("PATH", m_old); }

private:
    QByteArray m_old;
};

QProcessEnvironment envWith(const QString &browser)
{
    QProcessEnvironment env;
    if (!browser.isNull())
        env.insert(QStringLiteral("BROWSER"), browser);
    return env;
}

struct BrowserCase {
    const char *name;
    QString browserVariable;
    QStringList available;
    QList<QStringList> expectedTries;
    bool started;
};

TEST(SystemBrowser, PicksTheFirstBrowserThatStartsWithoutAPage)
{
    const QString www = QStringLiteral("x-www-browser");
    const QString firefox = QStringLiteral("firefox-esr");
    const QStringList fallback{firefox, QStringLiteral("--new-window")};
    const BrowserCase cases[] = {
        {"no BROWSER: x-www-browser", QString(), {www}, {{www}}, true},
        {"no BROWSER, no x-www-browser: the default browser",
         QString(),
         {firefox},
         {{www}, fallback},
         true},
        {"BROWSER wins",
         QStringLiteral("firefox"),
         {QStringLiteral("firefox"), www},
         {{QStringLiteral("firefox")}},
         true},
        {"BROWSER list, options kept, page placeholder dropped",
         QStringLiteral("missing %s:chromium --new-window %s"),
         {QStringLiteral("chromium")},
         {{QStringLiteral("missing")},
          {QStringLiteral("chromium"), QStringLiteral("--new-window")}},
         true},
        {"BROWSER unusable falls back",
         QStringLiteral("::nothing"),
         {www},
         {{QStringLiteral("nothing")}, {www}},
         true},
        {"nothing can start", QString(), {}, {{www}, fallback}, false},
    };
    for (const BrowserCase &c : cases) {
        ScriptedLauncher launcher;
        launcher.available = c.available;
        const qint64 pid = QCoro::waitFor(launchSystemBrowser(launcher, envWith(c.browserVariable),
                                                              [&] { return answer(fallback); }));
        EXPECT_EQ(launcher.tried, c.expectedTries) << c.name;
        EXPECT_EQ(pid != 0, c.started) << c.name;
    }
    // No default browser known: nothing more is tried.
    ScriptedLauncher none;
    EXPECT_EQ(QCoro::waitFor(launchSystemBrowser(none, envWith({}), [] { return answer({}); })), 0);
    EXPECT_EQ(none.tried, QList<QStringList>{{www}});
}

TEST(SystemBrowser, DefaultBrowserStartsFromItsDesktopEntryWithoutAPage)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("browser.desktop"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[Desktop Entry]\nName=Browser\nExec=\"/opt/my browser/run\" --new-window %U "
               "--class=%c --percent=100%%\n"
               "[Desktop Action new-private]\nExec=/opt/other --private %u\n");
    file.close();
    EXPECT_EQ(desktopEntryCommand(path),
              (QStringList{QStringLiteral("/opt/my browser/run"), QStringLiteral("--new-window"),
                           QStringLiteral("--class="), QStringLiteral("--percent=100%")}));
    EXPECT_TRUE(desktopEntryCommand(dir.filePath(QStringLiteral("missing.desktop"))).isEmpty());
}

TEST(SystemBrowser, AHungDefaultBrowserQueryIsKilledWhileTheEventLoopRuns)
{
    QTemporaryDir bin;
    ASSERT_TRUE(bin.isValid());
    const QString pidFile = bin.filePath(QStringLiteral("pid"));
    writeScript(bin.filePath(QStringLiteral("xdg-settings")),
                "echo $$ > '" + QFile::encodeName(pidFile) + "'\nexec sleep 30\n");
    const PathFirst path(bin.path());

    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(20);
    ScriptedLauncher launcher;
    QElapsedTimer clock;
    clock.start();
    QCoro::Task<qint64> launch =
        launchSystemBrowser(launcher, envWith({}), [] { return defaultBrowserCommand(1000ms); });
    EXPECT_FALSE(launch.isReady()) << "the launch waits for xdg-settings without blocking";
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(pidFile); }, 5000));
    EXPECT_EQ(QCoro::waitFor(launch), 0);
    EXPECT_GE(clock.elapsed(), 900) << "given its timeout (a coarse timer fires up to 5% early)";
    EXPECT_GE(ticks, 10) << "the event loop went on meanwhile";

    // The stand-in was killed and reaped: no process, not even a zombie, is left with its id.
    QFile file(pidFile);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const pid_t query = pid_t(file.readAll().trimmed().toInt());
    ASSERT_GT(query, 0);
    errno = 0;
    EXPECT_EQ(::kill(query, 0), -1);
    EXPECT_EQ(errno, ESRCH);
}

TEST(SystemBrowser, StartsARealProgramFoundOnThePathAndDoesNotWait)
{
    QTemporaryDir bin;
    ASSERT_TRUE(bin.isValid());
    const QString marker = bin.filePath(QStringLiteral("started"));
    writeScript(bin.filePath(QStringLiteral("x-www-browser")),
                "exec >/dev/null 2>&1\necho \"$#\" >> '" + QFile::encodeName(marker) +
                    "'\nexec sleep 30\n");
    const PathFirst path(bin.path());
    QProcessEnvironment env;
    QtProgramLauncher launcher;
    const qint64 first = QCoro::waitFor(launchSystemBrowser(launcher, env));
    const qint64 second = QCoro::waitFor(launchSystemBrowser(launcher, env));

    EXPECT_GT(first, 0);
    EXPECT_GT(second, 0);
    EXPECT_NE(first, second) << "a second choice starts a second browser";
    // Both started without arguments (each wrote "0"), while they still run.
    EXPECT_TRUE(QTest::qWaitFor([&] { return QFile(marker).size() >= 4; }, 5000));
    QFile out(marker);
    ASSERT_TRUE(out.open(QIODevice::ReadOnly));
    EXPECT_EQ(out.readAll(), QByteArray("0\n0\n"));
    for (qint64 pid : {first, second})
        ::kill(pid_t(pid), SIGTERM);
}

TEST(SystemBrowser, ABrowserThatFailsAtOnceCountsAsNotStarted)
{
    QTemporaryDir bin;
    ASSERT_TRUE(bin.isValid());
    const QString marker = bin.filePath(QStringLiteral("started"));
    const QString script = bin.filePath(QStringLiteral("browser"));
    writeScript(script,
                "exec >/dev/null 2>&1\necho \"$@\" > '" + QFile::encodeName(marker) + "'\n");
    QtProgramLauncher launcher;
    const qint64 pid = QCoro::waitFor(launchSystemBrowser(
        launcher, envWith(QStringLiteral("/bin/false:") + script + QStringLiteral(" --new %s")),
        [] { return answer({}); }));
    EXPECT_GT(pid, 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(marker); }, 5000))
        << "the entry after /bin/false was tried";
    QFile out(marker);
    ASSERT_TRUE(out.open(QIODevice::ReadOnly));
    EXPECT_EQ(out.readAll(), QByteArray("--new\n"));
}

} // namespace
