// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/harvixapp.h"
#include "platform/curl/curltransfer.h"
#include "platform/programlauncher.h"
#include "platform/qt/qtpictureloader.h"
#include "platform/qt/qtprogramlauncher.h"
#include "platform/systembrowser.h"

#include "fakeprompter.h"

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

// Sets an environment variable for the life of the object.
class EnvironmentVariable {
public:
    EnvironmentVariable(const char *name, const QByteArray &value)
        : m_name(name), m_old(qgetenv(name)), m_was(qEnvironmentVariableIsSet(name))
    {
        qputenv(name, value);
    }
    ~EnvironmentVariable()
    {
        if (m_was)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }

private:
    const char *m_name;
    QByteArray m_old;
    bool m_was;
};

// Puts a folder first on the PATH for the life of the object.
class PathFirst {
public:
    explicit PathFirst(const QString &folder)
        : m_path("PATH", QFile::encodeName(folder) + ':' + qgetenv("PATH"))
    {
    }

private:
    EnvironmentVariable m_path;
};

// The program without the windows around its main window.
class NoWindows : public AppWindows {
public:
    QWidget *makeConnect(HarvixApp &) override { return nullptr; }
    QWidget *makeBrowser(HarvixApp &) override { return nullptr; }
    QWidget *makeHelp(HarvixApp &) override { return nullptr; }
    QWidget *makeVersion(HarvixApp &) override { return nullptr; }
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
        const qint64 pid =
            QCoro::waitFor(launchSystemBrowser(launcher, envWith(c.browserVariable), [&] {
                return answer(fallback);
            })).pid;
        EXPECT_EQ(launcher.tried, c.expectedTries) << c.name;
        EXPECT_EQ(pid != 0, c.started) << c.name;
    }
    // No default browser known: nothing more is tried.
    ScriptedLauncher none;
    EXPECT_EQ(QCoro::waitFor(launchSystemBrowser(none, envWith({}), [] { return answer({}); })).pid,
              0);
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
    QCoro::Task<ProgramStart> launch =
        launchSystemBrowser(launcher, envWith({}), [] { return defaultBrowserCommand(1000ms); });
    EXPECT_FALSE(launch.isReady()) << "the launch waits for xdg-settings without blocking";
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(pidFile); }, 5000));
    EXPECT_EQ(QCoro::waitFor(launch).pid, 0);
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
    const qint64 first = QCoro::waitFor(launchSystemBrowser(launcher, env)).pid;
    const qint64 second = QCoro::waitFor(launchSystemBrowser(launcher, env)).pid;

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
    const qint64 pid =
        QCoro::waitFor(launchSystemBrowser(launcher,
                                           envWith(QStringLiteral("/bin/false:") + script +
                                                   QStringLiteral(" --new %s")),
                                           [] { return answer({}); }))
            .pid;
    EXPECT_GT(pid, 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(marker); }, 5000))
        << "the entry after /bin/false was tried";
    QFile out(marker);
    ASSERT_TRUE(out.open(QIODevice::ReadOnly));
    EXPECT_EQ(out.readAll(), QByteArray("--new\n"));

    // When none starts, the browser menu's box gives the reason of the last one tried: here the
    // desktop's default browser, tried after a missing $BROWSER entry, one that fails 1.2 s after
    // its start (still within the time a browser has to fail) and an x-www-browser that fails
    // with another status.
    writeScript(bin.filePath(QStringLiteral("x-www-browser")), "exit 3\n");
    writeScript(script, "sleep 1.2\nexit 5\n");
    const PathFirst path(bin.path());
    const EnvironmentVariable browser("BROWSER", "no-such-browser:" + QFile::encodeName(script));
    FakePrompter prompter;
    CurlTransfer inet;
    QtPictureLoader pictures;
    NoWindows windows;
    HarvixApp app(inet, prompter, pictures, launcher, windows, {},
                  [] { return QStringList{QStringLiteral("/bin/false")}; });
    app.launchBrowser();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !prompter.shown.isEmpty(); }, 10000));
    ASSERT_EQ(prompter.shown.size(), 1);
    EXPECT_EQ(prompter.shown.first().text, QStringLiteral("Web ブラウザを起動できませんでした。"));
    EXPECT_EQ(prompter.shown.first().informative,
              QStringLiteral("/bin/false が終了コード 1 で終わりました。"));
}

} // namespace
