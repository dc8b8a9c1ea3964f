// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ppp/pppremoteaccess.h"

#include "platform/codepage.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <map>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

QString pppdName()
{
    return QStringLiteral("pppd");
}

// A peer file name that pppd accepts after "call" and that names a file inside its folder.
bool isEntryName(const QString &name)
{
    return !name.isEmpty() && !name.startsWith(QLatin1Char('.')) &&
           !name.contains(QLatin1Char('/'));
}

// Only names that fit an NT entry-name field and survive CP932 can be listed and dialled back.
bool fitsRecord(const QString &name)
{
    const QByteArray encoded = codepage::toCp932(name);
    return encoded.size() < raslayout::entryNameNT.nameSize && codepage::fromCp932(encoded) == name;
}

bool sameFolder(const QString &a, const QString &b)
{
    return QFileInfo(a).canonicalFilePath() == QFileInfo(b).canonicalFilePath() &&
           !QFileInfo(a).canonicalFilePath().isEmpty();
}

// pppd found on PATH, then in the given folders. Sets *denied when a pppd exists that this
// user may not run.
QString findPppd(const QStringList &moreFolders, bool *denied)
{
    *denied = false;
    QString found = QStandardPaths::findExecutable(pppdName());
    if (found.isEmpty() && !moreFolders.isEmpty())
        found = QStandardPaths::findExecutable(pppdName(), moreFolders);
    if (!found.isEmpty())
        return found;
    QStringList folders = qEnvironmentVariable("PATH").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    folders << moreFolders;
    for (const auto &folder : folders) {
        const QFileInfo candidate(QDir(folder).filePath(pppdName()));
        if (candidate.isFile())
            *denied = true;
    }
    return {};
}

QByteArray readProcFile(qint64 pid, const char *name)
{
    QFile file(QStringLiteral("/proc/%1/").arg(pid) + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(64 * 1024);
}

bool isPppd(qint64 pid)
{
    return pid > 0 && readProcFile(pid, "comm").trimmed() == "pppd";
}

QStringList commandLine(qint64 pid)
{
    QStringList args;
    const QByteArray raw = readProcFile(pid, "cmdline");
    for (const auto &arg : raw.split('\0'))
        args.append(QFile::decodeName(arg));
    if (!args.isEmpty() && args.last().isEmpty())
        args.removeLast();
    return args;
}

// The entry a pppd command line dials: the name after "call", or the file name after "file".
QString entryOf(const QStringList &args)
{
    for (qsizetype i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("call"))
            return args[i + 1];
        if (args[i] == QLatin1String("file"))
            return QFileInfo(args[i + 1]).fileName();
    }
    return {};
}

// Start time of a process in clock ticks since boot (0 when unknown).
quint64 startTime(qint64 pid)
{
    const QByteArray stat = readProcFile(pid, "stat");
    const auto close = stat.lastIndexOf(')');
    if (close < 0)
        return 0;
    // Fields after the command name start with field 3 (state); the start time is field 22.
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    return fields.size() > 19 ? fields[19].toULongLong() : 0;
}

QList<qint64> processIds()
{
    QList<qint64> pids;
    const QStringList names = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const auto &name : names) {
        bool ok = false;
        const qint64 pid = name.toLongLong(&ok);
        if (ok && pid > 0)
            pids.append(pid);
    }
    return pids;
}

qint64 pidFromFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    return file.readLine(64).trimmed().toLongLong();
}

// Whether an options file loads the passwordfd plugin ("plugin passwordfd.so", also with a
// folder before the file name). Words are split at white space; "#" starts a comment.
bool loadsPasswordPlugin(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    bool afterPlugin = false;
    while (!file.atEnd()) {
        QByteArray line = file.readLine(64 * 1024);
        if (const auto hash = line.indexOf('#'); hash >= 0)
            line.truncate(hash);
        for (const auto &word : line.simplified().split(' ')) {
            if (word.isEmpty())
                continue;
            if (afterPlugin) {
                QByteArray name = word;
                if (name.size() >= 2 && (name.front() == '"' || name.front() == '\'') &&
                    name.back() == name.front())
                    name = name.mid(1, name.size() - 2);
                if (name.mid(name.lastIndexOf('/') + 1) == "passwordfd.so")
                    return true;
            }
            afterPlugin = word == "plugin";
        }
    }
    return false;
}

struct RunResult {
    bool started = false;
    int execErrno = 0;
    int status = 0;
};

// Runs a program and waits for it. keepFd stays open in the program; every other descriptor
// except the standard ones (which read from and write to /dev/null) is closed on exec.
RunResult runAndWait(const QString &program, const QStringList &arguments, int keepFd)
{
    std::vector<QByteArray> storage;
    storage.push_back(QFile::encodeName(program));
    for (const auto &arg : arguments)
        storage.push_back(arg.toLocal8Bit());
    std::vector<char *> argv;
    for (auto &arg : storage)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    RunResult result;
    const int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    int execError[2] = {-1, -1};
    if (::pipe2(execError, O_CLOEXEC) != 0) {
        result.execErrno = errno;
        if (devNull >= 0)
            ::close(devNull);
        return result;
    }

    const pid_t pid = ::fork();
    if (pid == 0) {
        // Child: only async-signal-safe calls from here on.
        if (devNull >= 0) {
            ::dup2(devNull, 0);
            ::dup2(devNull, 1);
            ::dup2(devNull, 2);
        }
        if (keepFd > 2) {
            ::close_range(3, static_cast<unsigned>(keepFd - 1), CLOSE_RANGE_CLOEXEC);
            ::close_range(static_cast<unsigned>(keepFd + 1), ~0U, CLOSE_RANGE_CLOEXEC);
            ::fcntl(keepFd, F_SETFD, 0);
        } else {
            ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
        }
        ::execv(argv[0], argv.data());
        const int err = errno;
        [[maybe_unused]] const auto written = ::write(execError[1], &err, sizeof err);
        ::_exit(127);
    }
    const int forkErrno = errno;
    ::close(execError[1]);
    if (devNull >= 0)
        ::close(devNull);
    if (pid < 0) {
        ::close(execError[0]);
        result.execErrno = forkErrno;
        return result;
    }

    int err = 0;
    ssize_t n;
    do {
        n = ::read(execError[0], &err, sizeof err);
    } while (n < 0 && errno == EINTR);
    ::close(execError[0]);

    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.status = status;
    if (n == sizeof err) {
        result.execErrno = err;
        return result;
    }
    result.started = true;
    return result;
}

} // namespace

PppRemoteAccess::Options::Options() : useLinkname(::geteuid() == 0), asRoot(::geteuid() == 0) {}

PppRemoteAccess::PppRemoteAccess() : PppRemoteAccess(Options()) {}

PppRemoteAccess::PppRemoteAccess(Options options) : m_options(std::move(options)) {}

std::unique_ptr<RemoteAccess> makePppRemoteAccess()
{
    return std::make_unique<PppRemoteAccess>();
}

int PppRemoteAccess::GetVersionExA(unsigned char *versionInfo)
{
    if (readU32(versionInfo) != VersionRecordSize)
        return 0;
    writeU32(versionInfo + 4, 5);
    writeU32(versionInfo + 8, 0);
    writeU32(versionInfo + 12, 0);
    writeU32(versionInfo + VersionPlatformIdOffset, 2);
    versionInfo[20] = 0;
    return 1;
}

QString PppRemoteAccess::peersFolderFor(const char *phoneBook) const
{
    if (!phoneBook)
        return m_options.peersFolder;
    return codepage::fromCp932(phoneBook);
}

bool PppRemoteAccess::listEntries(const QString &folder, QStringList *entries)
{
    entries->clear();
    const QDir dir(folder);
    if (!dir.exists() || !dir.isReadable())
        return false;
    const QStringList names = dir.entryList(QDir::Files);
    for (const auto &name : names) {
        if (isEntryName(name) && fitsRecord(name))
            entries->append(name);
    }
    std::sort(entries->begin(), entries->end());
    return true;
}

quint32 PppRemoteAccess::RasEnumEntriesA(const char *reserved, const char *phoneBook,
                                         unsigned char *entries, quint32 *size, quint32 *count)
{
    if (reserved)
        return ErrorInvalidParameter;
    const auto layout = raslayout::entryNameNT;
    if (const quint32 checked = raslayout::checkRecords(entries, size, count, layout.recordSize))
        return checked;
    QStringList names;
    if (!listEntries(peersFolderFor(phoneBook), &names)) {
        *count = 0;
        return ErrorCannotOpenPhonebook;
    }
    QList<QByteArray> encoded;
    for (const auto &name : names)
        encoded.append(codepage::toCp932(name));
    return raslayout::fillEntryNames(entries, size, count, layout, encoded);
}

quint32 PppRemoteAccess::RasDialA(const void *extensions, const char *phoneBook,
                                  const unsigned char *dialParams, quint32 notifierType,
                                  const void *notifier, Handle *connection)
{
    Q_UNUSED(extensions);
    // Only the synchronous dial is offered.
    if (!dialParams || !connection || notifierType != 0 || notifier)
        return ErrorInvalidParameter;
    const auto layout = raslayout::dialParamsNT;
    if (readU32(dialParams) != quint32(layout.recordSize))
        return ErrorInvalidSize;
    QByteArray entryBytes, userBytes, passwordBytes;
    if (!raslayout::readField(dialParams, layout.entryName, layout.entryNameSize, &entryBytes) ||
        !raslayout::readField(dialParams, layout.userName, layout.userNameSize, &userBytes) ||
        !raslayout::readField(dialParams, layout.password, layout.passwordSize, &passwordBytes))
        return ErrorInvalidParameter;

    const QString folder = peersFolderFor(phoneBook);
    if (!QFileInfo(folder).isDir())
        return ErrorCannotOpenPhonebook;
    // /etc/ppp/peers is open to the dip group only, as is running pppd.
    if (!QDir(folder).isReadable())
        return ErrorAccessDenied;
    const QString entry = codepage::fromCp932(entryBytes);
    const QString peerFile = QDir(folder).absoluteFilePath(entry);
    if (!isEntryName(entry) || !QFileInfo(peerFile).isFile())
        return ErrorCannotFindPhonebookEntry;

    bool denied = false;
    const QString pppd = findPppd(m_options.pppdFolders, &denied);
    if (pppd.isEmpty())
        return denied ? ErrorAccessDenied : ErrorRasmanCannotInitialize;

    QStringList arguments;
    const bool byCall = sameFolder(folder, m_options.pppdPeersFolder);
    if (byCall)
        arguments << QStringLiteral("call") << entry;
    else
        arguments << QStringLiteral("file") << peerFile;
    const QStringList dialArguments = arguments;
    // After the peer file, so that a "nodetach" in it cannot make the dial wait for ever.
    arguments << QStringLiteral("updetach");
    const QString user = codepage::fromCp932(userBytes);
    if (!user.isEmpty())
        arguments << QStringLiteral("user") << user;
    if (m_options.useLinkname)
        arguments << QStringLiteral("linkname") << entry;

    // The password goes into a pipe before pppd starts; pppd's passwordfd plugin reads it up to
    // the end of the pipe. Without a password pppd keeps using its secrets files.
    int passwordFd = -1;
    QByteArray password = codepage::fromCp932(passwordBytes).toLocal8Bit();
    std::fill(passwordBytes.begin(), passwordBytes.end(), '\0');
    // Only root may load the plugin from the command line; anyone else relies on a privileged
    // options file having loaded it: the system-wide one, or the peer file when pppd reads it
    // through "call" (a file given with "file" is read with the user's own privileges).
    const bool loadPlugin = m_options.asRoot;
    if (!password.isEmpty() && !loadPlugin && !loadsPasswordPlugin(m_options.pppOptionsFile) &&
        !(byCall && loadsPasswordPlugin(peerFile))) {
        std::fill(password.begin(), password.end(), '\0');
        return ErrorAuthInternal;
    }
    if (!password.isEmpty()) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return ErrorUnknown;
        // Keep the descriptor clear of the standard ones that the child replaces.
        passwordFd = ::fcntl(fds[0], F_DUPFD_CLOEXEC, 3);
        ::close(fds[0]);
        const ssize_t written = ::write(fds[1], password.constData(), size_t(password.size()));
        ::close(fds[1]);
        std::fill(password.begin(), password.end(), '\0');
        if (passwordFd < 0 || written != password.size()) {
            if (passwordFd >= 0)
                ::close(passwordFd);
            return ErrorUnknown;
        }
        if (loadPlugin)
            arguments << QStringLiteral("plugin") << QStringLiteral("passwordfd.so");
        arguments << QStringLiteral("passwordfd") << QString::number(passwordFd);
    }

    const RunResult run = runAndWait(pppd, arguments, passwordFd);
    if (passwordFd >= 0)
        ::close(passwordFd);
    if (!run.started) {
        return (run.execErrno == EACCES || run.execErrno == EPERM) ? ErrorAccessDenied
                                                                   : ErrorRasmanCannotInitialize;
    }
    if (!WIFEXITED(run.status))
        return ErrorUnknown;
    const quint32 code = codeForExitStatus(WEXITSTATUS(run.status));
    if (code != Success)
        return code;

    const qint64 link = findLink(entry, dialArguments, m_options.findLinkTimeoutMs);
    if (link <= 0) {
        // Reported up, but the link was not seen in time. A pppd that shows up only now would
        // keep the line up with nobody holding its handle: end it before reporting the failure.
        if (m_options.beforeLastLook)
            m_options.beforeLastLook();
        if (const qint64 late = findLink(entry, dialArguments, 0); late > 0)
            ::kill(pid_t(late), SIGTERM);
        return ErrorNoConnection;
    }
    *connection = Handle(link);
    return Success;
}

qint64 PppRemoteAccess::findLink(const QString &entry, const QStringList &dialArguments,
                                 int timeoutMs) const
{
    // A timeout of 0 looks exactly once.
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        if (m_options.useLinkname) {
            const qint64 pid = pidFromFile(
                QDir(m_options.runFolder).filePath(QStringLiteral("ppp-%1.pid").arg(entry)));
            if (isPppd(pid))
                return pid;
        }
        qint64 newest = 0;
        quint64 newestStart = 0;
        for (const qint64 pid : processIds()) {
            if (!isPppd(pid))
                continue;
            const QStringList args = commandLine(pid);
            const auto at =
                std::search(args.begin(), args.end(), dialArguments.begin(), dialArguments.end());
            if (at == args.end())
                continue;
            const quint64 start = startTime(pid);
            if (newest == 0 || start >= newestStart) {
                newest = pid;
                newestStart = start;
            }
        }
        if (newest > 0)
            return newest;
        if (deadline.hasExpired())
            return 0;
        QThread::msleep(20);
    }
}

QList<PppRemoteAccess::Link> PppRemoteAccess::activeLinks() const
{
    std::map<qint64, QString> links;
    if (m_options.useLinkname) {
        const QDir run(m_options.runFolder);
        const QStringList files = run.entryList({QStringLiteral("ppp-*.pid")}, QDir::Files);
        for (const auto &file : files) {
            const qint64 pid = pidFromFile(run.filePath(file));
            const QString entry = file.mid(4, file.size() - 8);
            if (isPppd(pid) && fitsRecord(entry))
                links[pid] = entry;
        }
    }
    for (const qint64 pid : processIds()) {
        if (links.count(pid) || !isPppd(pid))
            continue;
        // Only names that fit a record are listed: a cut name could pass for another entry.
        const QString entry = entryOf(commandLine(pid));
        if (isEntryName(entry) && fitsRecord(entry))
            links[pid] = entry;
    }
    QList<Link> result;
    for (const auto &[pid, entry] : links)
        result.append({pid, entry});
    return result;
}

quint32 PppRemoteAccess::RasEnumConnectionsA(unsigned char *records, quint32 *size, quint32 *count)
{
    const auto layout = raslayout::connNT;
    if (const quint32 checked = raslayout::checkRecords(records, size, count, layout.recordSize))
        return checked;
    QList<raslayout::ActiveConnection> connections;
    for (const auto &link : activeLinks())
        connections.append({Handle(link.pid), codepage::toCp932(link.entry)});
    return raslayout::fillConnections(records, size, count, layout, connections);
}

quint32 PppRemoteAccess::RasHangUpA(Handle connection)
{
    // Only a pppd process is ever signalled, so a stale handle cannot hit another program.
    if (connection == 0 || connection > quint32(std::numeric_limits<pid_t>::max()) ||
        !isPppd(connection))
        return ErrorInvalidHandle;
    if (::kill(pid_t(connection), SIGTERM) == 0)
        return Success;
    return errno == EPERM ? ErrorAccessDenied : ErrorInvalidHandle;
}

quint32 PppRemoteAccess::codeForExitStatus(int status)
{
    switch (status) {
    case 0:
        return Success;
    case 19: // we failed to authenticate ourselves to the peer
        return ErrorAuthenticationFailure;
    case 16: // the modem hung up
        return ErrorPortDisconnected;
    case 15: // the peer stopped answering echo requests
        return ErrorPppTimeout;
    case 10: // negotiation failed
        return ErrorPppNoProtocolsConfigured;
    case 6: // the serial port is locked by another process
    case 7: // the serial port could not be opened
        return ErrorPortNotAvailable;
    case 5: // pppd was stopped by a signal
        return ErrorUserDisconnection;
    case 8: // the connect script failed
        return ErrorNoAnswer;
    case 4: // the kernel has no PPP support
        return ErrorDeviceDoesNotExist;
    case 2: // an option was wrong or not allowed for this user
        return ErrorCorruptPhonebook;
    default:
        return ErrorUnknown;
    }
}

QString PppRemoteAccess::errorText(quint32 code)
{
    switch (code) {
    case Success:
        return QStringLiteral("操作は正常に終了しました。");
    case ErrorAccessDenied:
        return QStringLiteral("pppd または電話帳 (peers フォルダー) を使う権限がありません。"
                              "dip グループに入っているか確認してください。");
    case ErrorInvalidHandle:
        return QStringLiteral("指定された接続はありません。");
    case ErrorInvalidParameter:
        return QStringLiteral("パラメーターが正しくありません。");
    case ErrorCallNotImplemented:
        return QStringLiteral("この操作はサポートされていません。");
    case ErrorBufferTooSmall:
        return QStringLiteral("バッファーが小さすぎます。");
    case ErrorDeviceDoesNotExist:
        return QStringLiteral("このシステムのカーネルは PPP をサポートしていません。");
    case ErrorCannotOpenPhonebook:
        return QStringLiteral("電話帳 (peers フォルダー) を開けません。");
    case ErrorCannotFindPhonebookEntry:
        return QStringLiteral("電話帳にこのエントリーがありません。");
    case ErrorCorruptPhonebook:
        return QStringLiteral(
            "pppd がオプションの誤りを報告しました。電話帳エントリー (peers "
            "フォルダーのファイル) と /etc/ppp/options の内容、または一般ユーザーに"
            "許されていないオプションがないか確認してください。");
    case ErrorAuthInternal:
        return QStringLiteral("パスワードを pppd に渡せません。管理者が /etc/ppp/options に "
                              "\"plugin passwordfd.so\" の行を追加する必要があります。");
    case ErrorPortDisconnected:
        return QStringLiteral("モデムが回線を切断しました。");
    case ErrorUserDisconnection:
        return QStringLiteral("接続は中断されました。");
    case ErrorInvalidSize:
        return QStringLiteral("構造体のサイズが正しくありません。");
    case ErrorPortNotAvailable:
        return QStringLiteral("モデム (シリアル ポート) は使用中か、開けません。");
    case ErrorUnknown:
        return QStringLiteral("pppd が原因不明のエラーで終了しました。");
    case ErrorNoConnection:
        return QStringLiteral("接続は確立後すぐに切断されました。");
    case ErrorNoAnswer:
        return QStringLiteral("接続先が応答しません (接続スクリプトが失敗しました)。");
    case ErrorAuthenticationFailure:
        return QStringLiteral("ユーザー名またはパスワードが正しくないため、接続が拒否されました。");
    case ErrorRasmanCannotInitialize:
        return QStringLiteral("pppd が見つかりません。ppp パッケージをインストールしてください。");
    case ErrorPppTimeout:
        return QStringLiteral("接続先から応答がなくなりました。");
    case ErrorPppNoProtocolsConfigured:
        return QStringLiteral("接続先とのネゴシエーションに失敗しました。");
    default:
        return QStringLiteral("不明なエラーです (エラー番号 %1)。").arg(code);
    }
}

quint32 PppRemoteAccess::RasGetErrorStringA(quint32 code, char *buffer, quint32 bufferSize)
{
    if (!buffer || bufferSize == 0)
        return ErrorInvalidParameter;
    const QByteArray text = codepage::toCp932(errorText(code));
    if (quint32(text.size()) + 1 > bufferSize)
        return ErrorBufferTooSmall;
    std::memcpy(buffer, text.constData(), size_t(text.size()));
    buffer[text.size()] = 0;
    return Success;
}
