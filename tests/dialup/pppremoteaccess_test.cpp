// SPDX-License-Identifier: GPL-3.0-or-later
#include "../support/fakeprompter.h"
#include "../support/httpserver.h"
#include "dialup/frmras.h"
#include "dialup/vbras32.h"
#include "platform/codepage.h"
#include "platform/curl/curltransfer.h"
#include "platform/ppp/ppperrors.h"
#include "platform/ppp/pppremoteaccess.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <QCoro/QCoroTask>

#include <gtest/gtest.h>
#include <httplib.h>

#include <csignal>
#include <fcntl.h>
#include <functional>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// The dial to its end.
qint32 dialup(VBRas32 &ras)
{
    return QCoro::waitFor(ras.Dialup());
}

// A stand-in for pppd: records its arguments, environment and the password it reads from the
// passwordfd pipe, then exits with the status from config.json. With "daemon" it behaves like
// pppd's updetach: a child keeps the "link" until SIGTERM and the parent exits 0 once it runs,
// after writing the linkname pid file when asked to. With "nonRoot" it is the setuid pppd run by
// an ordinary user: "plugin" on the command line is an option error (status 2), and so is
// "passwordfd" unless the options file or the called peer file loads the plugin. With "hang" it
// is a pppd that never gives up (persist, maxfail 0): it runs until SIGTERM. It first writes
// "stdout" to its standard output, where pppd logs until it detaches, then "stderr" to its
// standard error, where pppd reports a wrong option.
const char *standIn = R"(#!/usr/bin/python3
import json, os, re, signal, sys, time
here = os.path.dirname(os.path.abspath(__file__))
cfg = json.load(open(os.path.join(here, 'config.json')))
args = sys.argv[1:]
for stream in ('stdout', 'stderr'):
    if stream in cfg:
        getattr(sys, stream).write(cfg[stream])
        getattr(sys, stream).flush()
rec = {'args': args, 'env': list(os.environ.values()), 'password': None, 'pid': os.getpid()}
def loads_plugin(path):
    try:
        lines = open(path, encoding='utf-8').read().split('\n')
        return any(re.search(r'plugin\s+(\S*/)?passwordfd\.so', l.split('#')[0]) for l in lines)
    except OSError:
        return False
if cfg.get('nonRoot'):
    loaded = loads_plugin(cfg['optionsFile'])
    if args[0] == 'call':
        loaded = loaded or loads_plugin(os.path.join(cfg['peersFolder'], args[1]))
    if 'plugin' in args or ('passwordfd' in args and not loaded):
        with open(os.path.join(here, 'calls.jsonl'), 'a') as f:
            f.write(json.dumps(rec) + '\n')
        sys.exit(2)
if 'passwordfd' in args:
    fd = int(args[args.index('passwordfd') + 1])
    data = b''
    while True:
        chunk = os.read(fd, 4096)
        if not chunk:
            break
        data += chunk
    rec['password'] = data.decode('utf-8')
def term(*_):
    with open(os.path.join(here, 'terminated'), 'a') as f:
        f.write(str(os.getpid()) + '\n')
    os._exit(5)
if cfg.get('hang'):
    signal.signal(signal.SIGTERM, term)
with open(os.path.join(here, 'calls.jsonl'), 'a') as f:
    f.write(json.dumps(rec) + '\n')
if cfg.get('hang'):
    end = time.time() + 30
    while time.time() < end:
        time.sleep(0.05)
    sys.exit(0)
status = cfg.get('status', 0)
if status != 0 or not cfg.get('daemon'):
    sys.exit(status)
r, w = os.pipe()
pid = os.fork()
if pid == 0:
    os.close(r)
    def term(*_):
        with open(os.path.join(here, 'terminated'), 'a') as f:
            f.write(str(os.getpid()) + '\n')
        os._exit(0)
    signal.signal(signal.SIGTERM, term)
    if cfg.get('hidden'):
        # Not recognisable as pppd until the test creates "reveal".
        open('/proc/self/comm', 'w').write('hidden')
        os.close(w)
        end = time.time() + 30
        while not os.path.exists(os.path.join(here, 'reveal')) and time.time() < end:
            time.sleep(0.01)
        open('/proc/self/comm', 'w').write('pppd')
        open(os.path.join(here, 'revealed'), 'w').write(str(os.getpid()))
    else:
        os.close(w)
    end = time.time() + 30
    while time.time() < end:
        time.sleep(0.05)
    os._exit(0)
os.close(w)
os.read(r, 1)
if 'linkname' in args and cfg.get('runFolder'):
    name = args[args.index('linkname') + 1]
    with open(os.path.join(cfg['runFolder'], 'ppp-' + name + '.pid'), 'w') as f:
        f.write('%d\nppp0\n' % pid)
sys.exit(0)
)";

class PppBackendTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        root = QDir(dir.path());
        for (const char *sub : {"bin", "peers", "other", "run"})
            root.mkdir(QLatin1String(sub));
        for (const char *peer : {"home", "b-isp", "会社", ".hidden", "name-far-too-long-for-nt"})
            touch(root.filePath(QStringLiteral("peers/") + QString::fromUtf8(peer)));
        root.mkdir(QStringLiteral("peers/subfolder"));
        touch(root.filePath(QStringLiteral("other/away")));

        QFile script(binPath());
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write(standIn);
        script.close();
        script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                              QFileDevice::ExeOwner);
        options.pppOptionsFile = root.filePath(QStringLiteral("options"));
        configure(QJsonObject{{QStringLiteral("status"), 0}});

        oldPath = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(root.filePath(QStringLiteral("bin"))) + ':' + oldPath);

        options.peersFolder = root.filePath(QStringLiteral("peers"));
        options.pppdPeersFolder = options.peersFolder;
        options.runFolder = root.filePath(QStringLiteral("run"));
        options.useLinkname = false;
        options.asRoot = true;
        options.pppdFolders = {};
    }
    void TearDown() override
    {
        // End any stand-in link still waiting.
        for (const qint64 pid : daemons) {
            ::kill(pid_t(pid), SIGKILL);
            waitGone(pid);
        }
        qputenv("PATH", oldPath);
    }

    // Waits until a stand-in link has ended, so that no later dial finds it.
    static void waitGone(qint64 pid)
    {
        const bool gone = QTest::qWaitFor(
            [pid] {
                QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
                if (!stat.open(QIODevice::ReadOnly))
                    return true;
                const QByteArray text = stat.readAll();
                return text.mid(text.lastIndexOf(')') + 2, 1) == "Z";
            },
            10000);
        EXPECT_TRUE(gone) << pid;
    }
    static void touch(const QString &path)
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    QString binPath() const { return root.filePath(QStringLiteral("bin/pppd")); }
    void configure(QJsonObject config)
    {
        config.insert(QStringLiteral("runFolder"), root.filePath(QStringLiteral("run")));
        config.insert(QStringLiteral("optionsFile"), options.pppOptionsFile);
        config.insert(QStringLiteral("peersFolder"), root.filePath(QStringLiteral("peers")));
        QFile f(root.filePath(QStringLiteral("bin/config.json")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(QJsonDocument(config).toJson());
    }
    QList<QJsonObject> calls() const
    {
        QList<QJsonObject> out;
        QFile f(root.filePath(QStringLiteral("bin/calls.jsonl")));
        if (f.open(QIODevice::ReadOnly))
            for (const auto &line : f.readAll().split('\n'))
                if (!line.isEmpty())
                    out.append(QJsonDocument::fromJson(line).object());
        return out;
    }
    static QStringList strings(const QJsonValue &v)
    {
        QStringList out;
        for (const auto &item : v.toArray())
            out.append(item.toString());
        return out;
    }
    QString terminated() const
    {
        QFile f(root.filePath(QStringLiteral("bin/terminated")));
        return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll().trimmed()) : QString();
    }
    // Our own child processes that nobody waited for.
    static int zombieChildren()
    {
        int zombies = 0;
        const auto names = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
        for (const auto &name : names) {
            QFile stat(QStringLiteral("/proc/") + name + QStringLiteral("/stat"));
            if (!stat.open(QIODevice::ReadOnly))
                continue;
            const QByteArray text = stat.readAll();
            const auto fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
            if (fields.size() > 1 && fields[0] == "Z" && fields[1].toLongLong() == ::getpid())
                ++zombies;
        }
        return zombies;
    }

    QTemporaryDir dir;
    QDir root;
    QByteArray oldPath;
    PppRemoteAccess::Options options;
    QList<qint64> daemons;
};

TEST_F(PppBackendTest, PeerFilesAreTheEntriesInNameOrder)
{
    PppRemoteAccess ppp(options);
    VBRas32 ras(ppp);
    EXPECT_EQ(ras.platformFamily(), 2u);
    ASSERT_EQ(ras.EntryCount(), 3);
    EXPECT_EQ(ras.EnumEntries(0), QStringLiteral("b-isp"));
    EXPECT_EQ(ras.EnumEntries(1), QStringLiteral("home"));
    EXPECT_EQ(ras.EnumEntries(2), QStringLiteral("会社"));

    ras.setPhoneBook(root.filePath(QStringLiteral("other")));
    EXPECT_EQ(ras.RefreshEntries(), 0);
    ASSERT_EQ(ras.EntryCount(), 1);
    EXPECT_EQ(ras.EnumEntries(0), QStringLiteral("away"));
}

TEST_F(PppBackendTest, MissingPeersFolderGivesEmptyPhoneBookAndClearDialError)
{
    options.peersFolder = root.filePath(QStringLiteral("nothing-here"));
    PppRemoteAccess ppp(options);
    VBRas32 ras(ppp);
    EXPECT_EQ(ras.EntryCount(), 0);
    EXPECT_EQ(ras.RefreshEntries(), 621);
    ras.setEntry(QStringLiteral("home"));
    EXPECT_EQ(dialup(ras), 621);
    EXPECT_FALSE(ras.ErrMsg(621).isEmpty());
    EXPECT_TRUE(calls().isEmpty());
}

TEST_F(PppBackendTest, DialPassesPasswordThroughPipeOnlyAndHangUpSendsSigterm)
{
    configure(QJsonObject{{QStringLiteral("daemon"), true}});
    PppRemoteAccess ppp(options);
    VBRas32 ras(ppp);
    ras.setEntry(QStringLiteral("会社"));
    ras.setUserID(QStringLiteral("taro"));
    ras.setPassword(QStringLiteral("s3cret パス"));
    ASSERT_EQ(dialup(ras), 0);
    ASSERT_NE(ras.Connection(), 0u);
    daemons.append(ras.Connection());

    const auto recorded = calls();
    ASSERT_EQ(recorded.size(), 1);
    const QStringList args = strings(recorded[0][QStringLiteral("args")]);
    ASSERT_EQ(args.size(), 9);
    EXPECT_EQ(
        args.mid(0, 8),
        (QStringList{QStringLiteral("call"), QStringLiteral("会社"), QStringLiteral("updetach"),
                     QStringLiteral("user"), QStringLiteral("taro"), QStringLiteral("plugin"),
                     QStringLiteral("passwordfd.so"), QStringLiteral("passwordfd")}));
    EXPECT_EQ(recorded[0][QStringLiteral("password")].toString(), QStringLiteral("s3cret パス"));
    for (const auto &text : args + strings(recorded[0][QStringLiteral("env")]))
        EXPECT_FALSE(text.contains(QStringLiteral("s3cret"))) << text.toStdString();
    EXPECT_EQ(zombieChildren(), 0);

    // The link is found among the active connections by its entry name.
    VBRas32 other(ppp);
    EXPECT_TRUE(other.SeekEnumConns(QStringLiteral("会社"), true));
    EXPECT_EQ(other.Connection(), ras.Connection());

    const auto pid = ras.Connection();
    EXPECT_EQ(ras.HangUp(), 0);
    EXPECT_TRUE(QTest::qWaitFor([this] { return !terminated().isEmpty(); }, 10000));
    EXPECT_EQ(terminated(), QString::number(pid));
}

void writeText(const QString &path, const QByteArray &text)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text);
}

TEST_F(PppBackendTest, OrdinaryUserDialsThroughPluginLoadedByPrivilegedOptions)
{
    options.asRoot = false;
    configure(QJsonObject{{QStringLiteral("nonRoot"), true}, {QStringLiteral("daemon"), true}});
    PppRemoteAccess ppp(options);
    VBRas32 ras(ppp);
    ras.setUserID(QStringLiteral("taro"));
    ras.setPassword(QStringLiteral("pw"));
    const QString passwordfdOnly = QStringLiteral("call,%1,updetach,user,taro,passwordfd");

    struct Case {
        const char *name;
        QByteArray systemOptions;
        QByteArray peerFile;
        const char *phoneBook; // null: the folder pppd calls from
        qint32 code;
    } cases[] = {
        {"no plugin anywhere", "lock\n", "", nullptr, 645},
        {"commented out", "# plugin passwordfd.so\n", "", nullptr, 645},
        {"system options", "lock\nplugin passwordfd.so\n", "", nullptr, 0},
        {"full plugin path", "plugin /usr/lib/pppd/2.4.9/passwordfd.so\n", "", nullptr, 0},
        {"peer file read through call", "", "noauth\nplugin passwordfd.so\n", nullptr, 0},
        // A file given with "file" is not privileged, so its plugin line does not count.
        {"peer file of another folder", "", "plugin passwordfd.so\n", "other", 645},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(root.filePath(QStringLiteral("bin/calls.jsonl")));
        writeText(options.pppOptionsFile, c.systemOptions);
        const QString book =
            c.phoneBook ? QString::fromLatin1(c.phoneBook) : QStringLiteral("peers");
        const QString entry = c.phoneBook ? QStringLiteral("away") : QStringLiteral("home");
        writeText(root.filePath(book + QLatin1Char('/') + entry), c.peerFile);
        ras.setPhoneBook(c.phoneBook ? root.filePath(book) : QString());
        ras.setEntry(entry);
        EXPECT_EQ(dialup(ras), c.code);
        if (const auto link = ras.Connection(); link != 0) {
            daemons.append(link);
            ras.HangUp();
            waitGone(link);
        }
        const auto recorded = calls();
        if (c.code != 0) {
            EXPECT_TRUE(recorded.isEmpty()); // pppd is not run at all
            EXPECT_TRUE(ras.ErrMsg(c.code).contains(QStringLiteral("plugin passwordfd.so")));
            EXPECT_TRUE(ras.ErrMsg(c.code).contains(QStringLiteral("/etc/ppp/options")));
            continue;
        }
        ASSERT_EQ(recorded.size(), 1);
        const QStringList args = strings(recorded[0][QStringLiteral("args")]);
        EXPECT_EQ(args.mid(0, 6).join(QLatin1Char(',')), passwordfdOnly.arg(entry));
        EXPECT_FALSE(args.contains(QStringLiteral("plugin")));
        EXPECT_EQ(recorded[0][QStringLiteral("password")].toString(), QStringLiteral("pw"));
    }

    // Without a password pppd keeps to its secrets files, and nothing needs the plugin.
    writeText(options.pppOptionsFile, "");
    QFile::remove(root.filePath(QStringLiteral("bin/calls.jsonl")));
    ras.setPhoneBook(QString());
    ras.setEntry(QStringLiteral("home"));
    ras.setPassword(QString());
    EXPECT_EQ(dialup(ras), 0);
    daemons.append(ras.Connection());
    EXPECT_EQ(
        strings(calls().value(0)[QStringLiteral("args")]),
        (QStringList{QStringLiteral("call"), QStringLiteral("home"), QStringLiteral("updetach"),
                     QStringLiteral("user"), QStringLiteral("taro")}));
}

TEST_F(PppBackendTest, PluginOnCommandLineOfNonRootPppdIsAnOptionError)
{
    // What happened before the plugin was left to the options file: an ordinary user's pppd
    // refuses the privileged option, and that has a code and text of its own.
    configure(QJsonObject{{QStringLiteral("nonRoot"), true}});
    PppRemoteAccess ppp(options); // believes it runs as root
    VBRas32 ras(ppp);
    ras.setEntry(QStringLiteral("home"));
    ras.setPassword(QStringLiteral("pw"));
    EXPECT_EQ(dialup(ras), 625);
    EXPECT_TRUE(
        strings(calls().value(0)[QStringLiteral("args")]).contains(QStringLiteral("plugin")));
    EXPECT_TRUE(ras.ErrMsg(625).contains(QStringLiteral("オプション")));
    EXPECT_NE(ras.ErrMsg(625), ras.ErrMsg(635));
}

TEST_F(PppBackendTest, PppdsLastLineEndsTheFailedDialsText)
{
    // Far more log than a pipe holds, then the option error: pppd is read while it writes.
    configure(QJsonObject{
        {QStringLiteral("status"), 2},
        {QStringLiteral("stdout"),
         QStringLiteral("Serial connection established.\n").repeated(3000)},
        {QStringLiteral("stderr"), QStringLiteral("pppd: unrecognized option '/dev/ttyS9'\n\n")}});
    options.dialTimeoutMs = 10000;
    PppRemoteAccess ppp(options);
    FakePrompter prompter;
    QTemporaryDir config;
    QPointer<frmRAS> form = new frmRAS(
        ppp, prompter, [](const QString &) {}, nullptr, config.filePath(QStringLiteral("program/")),
        config.path() + u'/');
    form->show();
    form->Combo1()->setEditText(QStringLiteral("home"));
    form->Command1()->click();
    ASSERT_TRUE(QTest::qWaitFor([&form] { return form.isNull(); }, 15000));
    ASSERT_EQ(prompter.shown.size(), 1);
    EXPECT_EQ(prompter.shown[0].informative,
              ppperrors::text(625) + QStringLiteral("\npppd: unrecognized option '/dev/ttyS9'"));

    // A line longer than the text's room is cut to fit, at a whole character.
    VBRas32 ras(ppp);
    ras.setEntry(QStringLiteral("home"));
    configure(QJsonObject{{QStringLiteral("status"), 2},
                          {QStringLiteral("stderr"), QStringLiteral("pppd: 設定").repeated(40)}});
    EXPECT_EQ(dialup(ras), 625);
    const QString cut = ras.ErrMsg(625);
    EXPECT_TRUE(cut.startsWith(ppperrors::text(625) + QStringLiteral("\npppd: 設定")))
        << cut.toStdString();
    EXPECT_TRUE(cut.endsWith(QStringLiteral("…"))) << cut.toStdString();
    EXPECT_LT(codepage::toCp932(cut).size(), 255);

    // The next failure is its own: this pppd said nothing.
    configure(QJsonObject{{QStringLiteral("status"), 2}});
    EXPECT_EQ(dialup(ras), 625);
    EXPECT_EQ(ras.ErrMsg(625), ppperrors::text(625));
}

TEST_F(PppBackendTest, LinkFoundOnlyAfterTheWaitIsEndedAndReportedLost)
{
    configure(QJsonObject{{QStringLiteral("daemon"), true}, {QStringLiteral("hidden"), true}});
    options.findLinkTimeoutMs = 200;
    const QString revealed = root.filePath(QStringLiteral("bin/revealed"));
    options.beforeLastLook = [&] {
        touch(root.filePath(QStringLiteral("bin/reveal")));
        EXPECT_TRUE(QTest::qWaitFor([&] { return QFile::exists(revealed); }, 10000));
    };
    PppRemoteAccess ppp(options);
    VBRas32 ras(ppp);
    ras.setEntry(QStringLiteral("b-isp")); // dialled by no other test
    EXPECT_EQ(dialup(ras), 668);
    EXPECT_EQ(ras.Connection(), 0u);

    QFile pidFile(revealed);
    ASSERT_TRUE(pidFile.open(QIODevice::ReadOnly));
    const QString pid = QString::fromLatin1(pidFile.readAll().trimmed());
    daemons.append(pid.toLongLong());
    EXPECT_TRUE(QTest::qWaitFor([this] { return !terminated().isEmpty(); }, 10000));
    EXPECT_EQ(terminated(), pid);
}

TEST_F(PppBackendTest, LinksWhoseNamesDoNotFitARecordAreNotListed)
{
    // pppd run by someone else for peers that no entry-name field can hold whole: a cut name
    // could pass for another entry, so such links are left out.
    configure(QJsonObject{{QStringLiteral("daemon"), true}});
    const QString tooLong[] = {QStringLiteral("name-far-too-long-for-nt"),
                               QStringLiteral("とても長い名前の接続先")};
    for (const auto &name : tooLong) {
        const QString pidName = QStringLiteral("x%1").arg(daemons.size());
        ASSERT_EQ(
            QProcess::execute(binPath(), {QStringLiteral("call"), name, QStringLiteral("updetach"),
                                          QStringLiteral("linkname"), pidName}),
            0);
        QFile pidFile(root.filePath(QStringLiteral("run/ppp-%1.pid").arg(pidName)));
        ASSERT_TRUE(pidFile.open(QIODevice::ReadOnly));
        daemons.append(pidFile.readLine().trimmed().toLongLong());
    }
    PppRemoteAccess ppp(options);
    VBRas32 ras(ppp);
    ras.setEntry(QStringLiteral("home"));
    ASSERT_EQ(dialup(ras), 0);
    daemons.append(ras.Connection());

    const auto links = ppp.activeLinks();
    for (const auto &link : links)
        EXPECT_FALSE(daemons.mid(0, 2).contains(link.process.pid)) << link.entry.toStdString();
    EXPECT_TRUE(std::any_of(links.begin(), links.end(), [&](const PppRemoteAccess::Link &l) {
        return l.process.pid == qint64(ras.Connection()) && l.entry == QStringLiteral("home");
    }));
}

TEST_F(PppBackendTest, LinknamePidFileFindsTheLink)
{
    options.useLinkname = true;
    configure(QJsonObject{{QStringLiteral("daemon"), true}});
    PppRemoteAccess ppp(options);
    VBRas32 ras(ppp);
    ras.setEntry(QStringLiteral("home"));
    ASSERT_EQ(dialup(ras), 0);
    daemons.append(ras.Connection());
    const QStringList args = strings(calls().value(0)[QStringLiteral("args")]);
    EXPECT_EQ(args, (QStringList{QStringLiteral("call"), QStringLiteral("home"),
                                 QStringLiteral("updetach"), QStringLiteral("linkname"),
                                 QStringLiteral("home")}));
    QFile pidFile(root.filePath(QStringLiteral("run/ppp-home.pid")));
    ASSERT_TRUE(pidFile.open(QIODevice::ReadOnly));
    EXPECT_EQ(pidFile.readLine().trimmed().toLongLong(), qint64(ras.Connection()));
    EXPECT_EQ(ras.HangUp(), 0);
}

TEST_F(PppBackendTest, AnotherPppdIsNeverTakenForTheLink)
{
    // pppd run by someone else: one for this very entry, and one for another entry that a stale
    // pid file of this entry names.
    configure(QJsonObject{{QStringLiteral("daemon"), true}});
    for (const QString &peer : {QStringLiteral("home"), QStringLiteral("b-isp")}) {
        ASSERT_EQ(QProcess::execute(binPath(),
                                    {QStringLiteral("call"), peer, QStringLiteral("updetach"),
                                     QStringLiteral("linkname"), peer + QStringLiteral("-other")}),
                  0);
        QFile pidFile(root.filePath(QStringLiteral("run/ppp-%1-other.pid").arg(peer)));
        ASSERT_TRUE(pidFile.open(QIODevice::ReadOnly));
        daemons.append(pidFile.readLine().trimmed().toLongLong());
    }
    ASSERT_TRUE(QFile::copy(root.filePath(QStringLiteral("run/ppp-b-isp-other.pid")),
                            root.filePath(QStringLiteral("run/ppp-home.pid"))));
    // Our pppd says the link is up, and leaves no process that keeps it.
    configure(QJsonObject{{QStringLiteral("status"), 0}});
    options.findLinkTimeoutMs = 200;
    for (const bool linkname : {false, true}) {
        SCOPED_TRACE(linkname ? "stale pid file" : "same entry");
        options.useLinkname = linkname;
        PppRemoteAccess ppp(options);
        VBRas32 ras(ppp);
        ras.setEntry(QStringLiteral("home"));
        EXPECT_EQ(dialup(ras), 668);
        EXPECT_EQ(ras.Connection(), 0u);
        EXPECT_EQ(terminated(), QString()) << "another's pppd was ended";
    }
}

TEST_F(PppBackendTest, OtherPhoneBookDialsWithFileOption)
{
    PppRemoteAccess ppp(options);
    VBRas32 ras(ppp);
    ras.setPhoneBook(root.filePath(QStringLiteral("other")));
    ras.setEntry(QStringLiteral("away"));
    configure(QJsonObject{{QStringLiteral("status"), 19}});
    EXPECT_EQ(dialup(ras), 691);
    const QStringList args = strings(calls().value(0)[QStringLiteral("args")]);
    EXPECT_EQ(
        args,
        (QStringList{
            QStringLiteral("file"),
            QDir(root.filePath(QStringLiteral("other"))).absoluteFilePath(QStringLiteral("away")),
            QStringLiteral("updetach")}));
}

TEST_F(PppBackendTest, ExitStatusBecomesNearestRasCode)
{
    const struct {
        int status;
        qint32 code;
    } cases[] = {{19, 691}, {16, 630}, {15, 718}, {10, 734}, {6, 633}, {7, 633},
                 {5, 631},  {8, 678},  {4, 608},  {2, 625},  {1, 635}, {3, 635}};
    PppRemoteAccess ppp(options);
    VBRas32 ras(ppp);
    QList<qint32> raised;
    QObject::connect(&ras, &VBRas32::ConnectError, &ras,
                     [&raised](qint32 &code) { raised.append(code); });
    for (const auto &c : cases) {
        configure(QJsonObject{{QStringLiteral("status"), c.status}});
        ras.setEntry(QStringLiteral("home"));
        EXPECT_EQ(dialup(ras), c.code) << "exit status " << c.status;
        EXPECT_EQ(ras.Connection(), 0u);
        EXPECT_FALSE(ras.ErrMsg(c.code).isEmpty());
        EXPECT_NE(ras.ErrMsg(c.code), ras.ErrMsg(99999)) << c.code;
    }
    EXPECT_EQ(raised.size(), int(std::size(cases)));
    EXPECT_EQ(calls().size(), int(std::size(cases)));
    EXPECT_EQ(zombieChildren(), 0);

    // Started with SIGCHLD ignored, the program never learns pppd's exit status: that is an
    // unknown failure, not a dial that ended well.
    struct sigaction ignore = {}, before = {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGCHLD, &ignore, &before);
    configure(QJsonObject{{QStringLiteral("status"), 19}});
    ras.setEntry(QStringLiteral("home"));
    EXPECT_EQ(dialup(ras), 635);
    ::sigaction(SIGCHLD, &before, nullptr);
}

TEST_F(PppBackendTest, DialThatPppdNeverEndsIsEndedAtTheDeadline)
{
    configure(QJsonObject{{QStringLiteral("hang"), true}});
    options.dialTimeoutMs = 1000;
    PppRemoteAccess ppp(options);
    VBRas32 ras(ppp);
    QList<qint32> raised;
    QObject::connect(&ras, &VBRas32::ConnectError, &ras,
                     [&raised](qint32 &code) { raised.append(code); });
    ras.setEntry(QStringLiteral("home"));
    EXPECT_EQ(dialup(ras), 638);
    EXPECT_EQ(raised, QList<qint32>{638});
    EXPECT_EQ(ras.Connection(), 0u);
    ASSERT_EQ(calls().size(), 1);
    EXPECT_FALSE(terminated().isEmpty()); // its pppd was asked to end
    EXPECT_EQ(zombieChildren(), 0);
    EXPECT_NE(ras.ErrMsg(638), ras.ErrMsg(99999));
}

// One image fetched as the harvest fetches it.
QCoro::Task<QByteArray> fetchImage(CurlTransfer &inet, QString url)
{
    co_return (co_await inet.transfer(url, UrlTransfer::icByteArray)).bytes;
}

// A harvest of count images from server: how many came whole.
QCoro::Task<int> harvestImages(CurlTransfer &inet, const TestHttpServer &server, int count)
{
    int fetched = 0;
    for (int i = 0; i < count; ++i) {
        const QByteArray image =
            co_await fetchImage(inet, server.url(QStringLiteral("/%1.jpg").arg(i)));
        if (image == QByteArray("\xFF\xD8\xFF picture ") + QByteArray::number(i))
            ++fetched;
    }
    co_return fetched;
}

TEST_F(PppBackendTest, TheProgramKeepsRunningWhileADialWaits)
{
    // A pppd that never connects: the dial ends at its deadline.
    configure(QJsonObject{{QStringLiteral("hang"), true}});
    options.dialTimeoutMs = 3000;
    PppRemoteAccess ppp(options);
    FakePrompter prompter;
    QTemporaryDir config;
    QStringList status;
    QPointer<frmRAS> form = new frmRAS(
        ppp, prompter, [&status](const QString &text) { status.append(text); }, nullptr,
        config.filePath(QStringLiteral("program/")), config.path() + u'/');
    form->show();
    form->Combo1()->setEditText(QStringLiteral("home"));
    TestHttpServer server;
    server.server().Get(R"(/(\d+)\.jpg)", [](const httplib::Request &req, httplib::Response &res) {
        res.set_content("\xFF\xD8\xFF picture " + req.matches[1].str(), "image/jpeg");
    });
    server.start();
    CurlTransfer inet;

    form->Command1()->click();
    ASSERT_TRUE(QTest::qWaitFor([this] { return calls().size() == 1; }, 10000));
    // The dial runs on its own: of the dialog only what would start a second dial is closed.
    ASSERT_FALSE(form.isNull());
    EXPECT_TRUE(form->isEnabled());
    EXPECT_FALSE(form->Command1()->isEnabled());
    const QWidget *stayOpen[] = {form->Combo1(),   form->Text1(),    form->Text2(),
                                 form->Command2(), form->Command3(), form->Command4()};
    for (const QWidget *open : stayOpen)
        EXPECT_TRUE(open->isEnabled()) << open->objectName().toStdString();

    // A harvest started meanwhile ends with all its images before the dial does.
    QCoro::Task<int> harvest = harvestImages(inet, server, 30);
    ASSERT_TRUE(QTest::qWaitFor([&harvest] { return harvest.isReady(); }, 10000));
    EXPECT_EQ(QCoro::waitFor(harvest), 30);
    ASSERT_FALSE(form.isNull());
    EXPECT_FALSE(form->Command1()->isEnabled());
    EXPECT_TRUE(prompter.shown.isEmpty());

    // The dial's end is as before: the deadline's failure, its box, the dialog unloaded.
    ASSERT_TRUE(QTest::qWaitFor([&form] { return form.isNull(); }, 10000));
    ASSERT_EQ(prompter.shown.size(), 1);
    EXPECT_EQ(status.last(), QStringLiteral("ダイヤルアップ接続エラー"));
    EXPECT_FALSE(terminated().isEmpty());
    EXPECT_EQ(zombieChildren(), 0);
}

TEST_F(PppBackendTest, ClosingTheDialogDuringADialEndsItsPppdAtOnce)
{
    configure(QJsonObject{{QStringLiteral("hang"), true}});
    options.dialTimeoutMs = 20000;
    const struct {
        const char *name;
        std::function<void(frmRAS *)> close;
    } ways[] = {
        {"キャンセル", [](frmRAS *form) { form->Command4()->click(); }},
        {"close box", [](frmRAS *form) { form->windowHandle()->close(); }},
    };
    for (const auto &way : ways) {
        SCOPED_TRACE(way.name);
        QFile::remove(root.filePath(QStringLiteral("bin/calls.jsonl")));
        QFile::remove(root.filePath(QStringLiteral("bin/terminated")));
        PppRemoteAccess ppp(options);
        FakePrompter prompter;
        QTemporaryDir config;
        QPointer<frmRAS> form = new frmRAS(
            ppp, prompter, [](const QString &) {}, nullptr,
            config.filePath(QStringLiteral("program/")), config.path() + u'/');
        form->show();
        form->Combo1()->setEditText(QStringLiteral("home"));
        form->Command1()->click();
        ASSERT_TRUE(QTest::qWaitFor([this] { return calls().size() == 1; }, 10000));
        const qint64 pppd = calls()[0][QStringLiteral("pid")].toInteger();

        QElapsedTimer clock;
        clock.start();
        way.close(form);
        EXPECT_TRUE(QTest::qWaitFor([&form] { return form.isNull(); }, 3000));
        EXPECT_LT(clock.elapsed(), 3000);
        // Our pppd was ended and collected: none is left, and no box tells of a failure.
        EXPECT_TRUE(QTest::qWaitFor(
            [pppd] { return !QFile::exists(QStringLiteral("/proc/%1").arg(pppd)); }, 3000));
        EXPECT_EQ(terminated(), QString::number(pppd));
        EXPECT_EQ(zombieChildren(), 0);
        EXPECT_TRUE(prompter.shown.isEmpty());
    }
}

TEST_F(PppBackendTest, LinkThatTurnsUpAfterTheDialWasHungUpIsEnded)
{
    configure(QJsonObject{{QStringLiteral("daemon"), true}, {QStringLiteral("hidden"), true}});
    options.findLinkTimeoutMs = 10000;
    PppRemoteAccess ppp(options);
    VBRas32 ras(ppp);
    ras.setEntry(QStringLiteral("b-isp")); // dialled by no other test
    QCoro::Task<qint32> dial = ras.Dialup();
    // pppd reported the link up and is gone; the link it left does not show as pppd yet.
    ASSERT_TRUE(QTest::qWaitFor([this] { return calls().size() == 1; }, 10000));
    const qint64 first = calls()[0][QStringLiteral("pid")].toInteger();
    ASSERT_TRUE(QTest::qWaitFor(
        [first] { return !QFile::exists(QStringLiteral("/proc/%1").arg(first)); }, 10000));
    ASSERT_FALSE(dial.isReady());

    EXPECT_EQ(ras.HangUp(), 0);
    touch(root.filePath(QStringLiteral("bin/reveal")));
    ASSERT_TRUE(QTest::qWaitFor([&dial] { return dial.isReady(); }, 10000));
    EXPECT_EQ(QCoro::waitFor(dial), 631);
    EXPECT_EQ(ras.Connection(), 0u);
    QFile revealed(root.filePath(QStringLiteral("bin/revealed")));
    ASSERT_TRUE(revealed.open(QIODevice::ReadOnly));
    const QString link = QString::fromLatin1(revealed.readAll().trimmed());
    daemons.append(link.toLongLong());
    EXPECT_TRUE(QTest::qWaitFor([&] { return terminated() == link; }, 10000));
}

TEST_F(PppBackendTest, NoDescriptorForAPipeIsReportedAsSuchWithoutRunningPppd)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizers' own checks need free descriptors";
#endif
    PppRemoteAccess ppp(options);
    VBRas32 ras(ppp);
    ras.setEntry(QStringLiteral("home"));
    // With a password its pipe is the first one needed, without one the pipe that reports a
    // failed start.
    for (const QString &password : {QStringLiteral("pw"), QString()}) {
        SCOPED_TRACE(password.toStdString());
        ras.setPassword(password);
        int lowestFree = 0;
        while (::fcntl(lowestFree, F_GETFD) != -1)
            ++lowestFree;
        rlimit old{};
        ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &old), 0);
        rlimit none = old;
        none.rlim_cur = rlim_t(lowestFree);
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &none), 0);
        const qint32 code = dialup(ras);
        ::setrlimit(RLIMIT_NOFILE, &old);
        EXPECT_EQ(code, 4);
    }
    EXPECT_TRUE(calls().isEmpty());
    EXPECT_TRUE(ras.ErrMsg(4).contains(QStringLiteral("パイプ")));
}

TEST_F(PppBackendTest, EntryWithoutPeerFileFailsWithoutRunningPppd)
{
    PppRemoteAccess ppp(options);
    VBRas32 ras(ppp);
    for (const char *entry : {"nothere", "", "subfolder", "../other/away", ".hidden"}) {
        ras.setEntry(QString::fromUtf8(entry));
        EXPECT_EQ(dialup(ras), 623) << entry;
    }
    EXPECT_TRUE(calls().isEmpty());
}

TEST_F(PppBackendTest, MissingOrForbiddenPppdGivesClearCode)
{
    // Nothing but the stand-in's folder is searched, so the system's own pppd stays out of it.
    qputenv("PATH", QFile::encodeName(root.filePath(QStringLiteral("bin"))));
    PppRemoteAccess ppp(options);
    VBRas32 ras(ppp);
    ras.setEntry(QStringLiteral("home"));

    QFile::setPermissions(binPath(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    EXPECT_EQ(dialup(ras), 5);
    EXPECT_TRUE(ras.ErrMsg(5).contains(QStringLiteral("pppd")));

    QFile::remove(binPath());
    EXPECT_EQ(dialup(ras), 711);
    EXPECT_TRUE(ras.ErrMsg(711).contains(QStringLiteral("pppd")));
    EXPECT_TRUE(calls().isEmpty());
}

// Starts program so that it gets the process id pid, by setting the number the kernel handed
// out last (root only). False when that is not possible or another process took the number.
bool startWithPid(QProcess &process, const QString &program, const QStringList &args, qint64 pid)
{
    for (int attempt = 0; attempt < 20; ++attempt) {
        QFile last(QStringLiteral("/proc/sys/kernel/ns_last_pid"));
        if (!last.open(QIODevice::WriteOnly) || last.write(QByteArray::number(pid - 1)) < 0 ||
            !last.flush())
            return false;
        last.close();
        process.start(program, args);
        if (!process.waitForStarted())
            return false;
        if (process.processId() == pid)
            return true;
        process.kill();
        process.waitForFinished();
    }
    return false;
}

TEST_F(PppBackendTest, HangUpLeavesAProcessThatReusedTheNumberOfTheLink)
{
    configure(QJsonObject{{QStringLiteral("hang"), true}});
    const QStringList args = {QStringLiteral("call"), QStringLiteral("recycled")};
    // A link of someone else's, adopted through the active connections.
    QProcess link;
    link.start(binPath(), args);
    ASSERT_TRUE(link.waitForStarted());
    PppRemoteAccess ppp(options);
    VBRas32 ras(ppp);
    EXPECT_TRUE(QTest::qWaitFor(
        [&ras] { return ras.SeekEnumConns(QStringLiteral("recycled"), true); }, 10000));
    ASSERT_EQ(qint64(ras.Connection()), link.processId());

    // The link ends, and a new pppd gets its number.
    link.kill();
    link.waitForFinished();
    QProcess successor;
    if (!startWithPid(successor, binPath(), args, qint64(ras.Connection())))
        GTEST_SKIP() << "cannot hand the same process id to a new process here";
    daemons.append(successor.processId());
    EXPECT_EQ(ras.HangUp(), 6);
    EXPECT_FALSE(successor.waitForFinished(300));
    EXPECT_TRUE(terminated().isEmpty());
}

TEST_F(PppBackendTest, HangUpNeverSignalsAProcessThatIsNotPppd)
{
    PppRemoteAccess ppp(options);
    EXPECT_EQ(ppp.RasHangUpA(0), 6u);
    EXPECT_EQ(ppp.RasHangUpA(RemoteAccess::Handle(::getpid())), 6u); // still alive to see this
    EXPECT_TRUE(ppperrors::text(4242).contains(QStringLiteral("4242")));
}

} // namespace
