// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ppp/pppremoteaccess.h"

#include "platform/codepage.h"
#include "platform/ppp/ppperrors.h"
#include "platform/ppp/pppoptions.h"
#include "platform/ppp/pppprocess.h"
#include "platform/raslayout.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Only names that fit an NT entry-name field and survive CP932 can be listed and dialled back.
bool fitsRecord(const QString &name)
{
    return codepage::toCp932(name).size() < raslayout::entryNameNT.nameSize &&
           codepage::survivesCp932(name);
}

bool sameFolder(const QString &a, const QString &b)
{
    return QFileInfo(a).canonicalFilePath() == QFileInfo(b).canonicalFilePath() &&
           !QFileInfo(a).canonicalFilePath().isEmpty();
}

void wipe(QByteArray &secret)
{
    std::fill(secret.begin(), secret.end(), '\0');
}

// text followed by a line with message, both in CP932, to fit size bytes with the terminating
// NUL: a message too long for the room left is cut at a whole character and ends with "…".
QByteArray withMessageLine(const QByteArray &text, const QString &message, quint32 size)
{
    const QByteArray line = codepage::toCp932(message);
    if (quint64(text.size()) + 1 + quint64(line.size()) + 1 <= size)
        return text + '\n' + line;
    const QByteArray ellipsis = codepage::toCp932(QStringLiteral("…"));
    const qint64 room = qint64(size) - 1 - text.size() - 1 - ellipsis.size();
    if (room <= 0)
        return text;
    qsizetype cut = 0;
    while (cut < line.size()) {
        const int length = codepage::cp932CharLength(static_cast<unsigned char>(line[cut]));
        if (cut + length > room)
            break;
        cut += length;
    }
    return text + '\n' + line.first(cut) + ellipsis;
}

} // namespace

// One dial as RasDialA works through it.
struct PppRemoteAccess::Dial {
    QString entry;
    QString user;
    QByteArray password; // local 8-bit, wiped as soon as it is in the pipe
    QString peerFile;
    bool byCall = false;       // pppd reads the peer file itself through "call"
    QStringList dialArguments; // what names the peer on pppd's command line
    int passwordFd = -1;
    // When this dial started pppd: its link is a process started since, and its pid file was
    // written since.
    quint64 startedTicks = 0;
    QDateTime started;

    Dial() = default;
    Dial(const Dial &) = delete;
    Dial &operator=(const Dial &) = delete;
    ~Dial()
    {
        wipe(password);
        if (passwordFd >= 0)
            ::close(passwordFd);
    }
};

PppRemoteAccess::Options::Options() : useLinkname(::geteuid() == 0), asRoot(::geteuid() == 0) {}

PppRemoteAccess::PppRemoteAccess() : PppRemoteAccess(Options()) {}

PppRemoteAccess::PppRemoteAccess(Options options) : m_options(std::move(options)) {}

std::unique_ptr<RemoteAccess> makePppRemoteAccess()
{
    return std::make_unique<PppRemoteAccess>();
}

int PppRemoteAccess::GetVersionExA(unsigned char *versionInfo)
{
    return raslayout::fillVersionRecord(versionInfo, 2);
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
        if (pppoptions::isEntryName(name) && fitsRecord(name))
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

QCoro::Task<quint32> PppRemoteAccess::RasDialA(const void *extensions, const char *phoneBook,
                                               const unsigned char *dialParams,
                                               quint32 notifierType, const void *notifier,
                                               Handle *connection)
{
    Q_UNUSED(extensions);
    // Whatever pppd said about an earlier dial is not about this one.
    m_lastDialFailure = {};
    // The end of the dial is the end of the task: no notifier is taken.
    if (!dialParams || !connection || notifierType != 0 || notifier)
        co_return ErrorInvalidParameter;
    Dial dial;
    if (const quint32 malformed = readDialParams(dialParams, &dial))
        co_return malformed;
    if (const quint32 missing = findPeer(phoneBook, &dial))
        co_return missing;
    bool denied = false;
    const QString pppd =
        pppprocess::findProgram(QStringLiteral("pppd"), m_options.pppdFolders, &denied);
    if (pppd.isEmpty())
        co_return denied ? ErrorAccessDenied : ErrorRasmanCannotInitialize;
    if (const quint32 refused = passPassword(&dial))
        co_return refused;

    dial.startedTicks = procscan::ticksNow();
    dial.started = QDateTime::currentDateTimeUtc();
    // The dial is known by its pppd as soon as that runs, so that a hang-up can end it; it is
    // forgotten when the dial ends, however it ends.
    pppprocess::Stop stop;
    Handle handle = 0;
    struct Forget {
        std::map<Handle, pppprocess::Stop *> &dialing;
        const Handle &handle;
        ~Forget()
        {
            if (handle != 0)
                dialing.erase(handle);
        }
    } forget{m_dialing, handle};
    const auto started = [&](qint64 pid) {
        handle = Handle(pid);
        *connection = handle;
        m_dialing[handle] = &stop;
    };
    const auto run = co_await pppprocess::runAndWait(pppd, pppdArguments(dial), dial.passwordFd,
                                                     m_options.dialTimeoutMs, &stop, started);
    if (const quint32 failed = codeForRun(run)) {
        const quint32 code = stop.requested() ? quint32(ErrorUserDisconnection) : failed;
        m_lastDialFailure = {code, run.lastMessage};
        co_return code;
    }
    co_return co_await takeLink(dial, connection, &stop);
}

// Reads the entry name, user name and password of an NT dial record; each must end inside its
// field.
quint32 PppRemoteAccess::readDialParams(const unsigned char *params, Dial *dial)
{
    const auto layout = raslayout::dialParamsNT;
    if (raslayout::readU32(params) != quint32(layout.recordSize))
        return ErrorInvalidSize;
    bool entryEnds = false, userEnds = false, passwordEnds = false;
    dial->entry = codepage::fromCp932(
        raslayout::readField(params, layout.entryName, layout.entryNameSize, &entryEnds));
    dial->user = codepage::fromCp932(
        raslayout::readField(params, layout.userName, layout.userNameSize, &userEnds));
    QByteArray password =
        raslayout::readField(params, layout.password, layout.passwordSize, &passwordEnds);
    dial->password = codepage::fromCp932(password).toLocal8Bit();
    wipe(password);
    return entryEnds && userEnds && passwordEnds ? Success : ErrorInvalidParameter;
}

// The result code of a pppd run that did not report the link up; Success when it did.
quint32 PppRemoteAccess::codeForRun(const pppprocess::Run &run)
{
    using Outcome = pppprocess::Run::Outcome;
    switch (run.outcome) {
    case Outcome::NoPipe:
        return ErrorTooManyOpenFiles;
    case Outcome::NoProcess:
        return ErrorNotEnoughMemory;
    case Outcome::NotStarted:
        return (run.error == EACCES || run.error == EPERM) ? ErrorAccessDenied
                                                           : ErrorRasmanCannotInitialize;
    case Outcome::TimedOut:
        return ErrorRequestTimeout;
    case Outcome::Stopped:
        // Ended by a hang-up: unless it had reported the link up just then.
        if (WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0)
            return Success;
        return ErrorUserDisconnection;
    case Outcome::Lost:
        return ErrorUnknown;
    case Outcome::Exited:
        break;
    }
    if (!WIFEXITED(run.status))
        return ErrorUnknown;
    return ppperrors::codeForExitStatus(WEXITSTATUS(run.status));
}

// Finds the peer file of the entry in the phone book and how pppd is to be given it.
quint32 PppRemoteAccess::findPeer(const char *phoneBook, Dial *dial) const
{
    const QString folder = peersFolderFor(phoneBook);
    if (!QFileInfo(folder).isDir())
        return ErrorCannotOpenPhonebook;
    // /etc/ppp/peers is open to the dip group only, as is running pppd.
    if (!QDir(folder).isReadable())
        return ErrorAccessDenied;
    dial->peerFile = QDir(folder).absoluteFilePath(dial->entry);
    if (!pppoptions::isEntryName(dial->entry) || !QFileInfo(dial->peerFile).isFile())
        return ErrorCannotFindPhonebookEntry;
    dial->byCall = sameFolder(folder, m_options.pppdPeersFolder);
    dial->dialArguments = dial->byCall ? QStringList{QStringLiteral("call"), dial->entry}
                                       : QStringList{QStringLiteral("file"), dial->peerFile};
    return Success;
}

// Puts the password into a pipe before pppd starts; pppd's passwordfd plugin reads it up to the
// end of the pipe. Without a password pppd keeps using its secrets files.
quint32 PppRemoteAccess::passPassword(Dial *dial) const
{
    if (dial->password.isEmpty())
        return Success;
    // Only root may load the plugin from the command line; anyone else relies on a privileged
    // options file having loaded it: the system-wide one, or the peer file when pppd reads it
    // through "call" (a file given with "file" is read with the user's own privileges).
    if (!m_options.asRoot && !pppoptions::loadsPasswordPlugin(m_options.pppOptionsFile) &&
        !(dial->byCall && pppoptions::loadsPasswordPlugin(dial->peerFile)))
        return ErrorAuthInternal;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return ErrorTooManyOpenFiles;
    // Kept clear of the standard descriptors that the child replaces.
    dial->passwordFd = ::fcntl(fds[0], F_DUPFD_CLOEXEC, 3);
    ::close(fds[0]);
    const ssize_t written =
        ::write(fds[1], dial->password.constData(), size_t(dial->password.size()));
    ::close(fds[1]);
    const bool whole = written == dial->password.size();
    wipe(dial->password);
    if (dial->passwordFd < 0)
        return ErrorTooManyOpenFiles;
    // A pipe holds far more than the longest password field.
    return whole ? Success : ErrorUnknown;
}

QStringList PppRemoteAccess::pppdArguments(const Dial &dial) const
{
    // updetach after the peer file, so that a "nodetach" in it cannot make the dial wait until
    // the link ends.
    QStringList arguments = dial.dialArguments;
    arguments << QStringLiteral("updetach");
    if (!dial.user.isEmpty())
        arguments << QStringLiteral("user") << dial.user;
    if (m_options.useLinkname)
        arguments << QStringLiteral("linkname") << dial.entry;
    if (dial.passwordFd >= 0) {
        if (m_options.asRoot)
            arguments << QStringLiteral("plugin") << QStringLiteral("passwordfd.so");
        arguments << QStringLiteral("passwordfd") << QString::number(dial.passwordFd);
    }
    return arguments;
}

// pppd reported the link up and left a process that keeps it: that process is the connection.
// /proc may show it a little later, so it is looked for again every 20 ms until
// findLinkTimeoutMs have passed. A dial hung up meanwhile ends the link it finds.
QCoro::Task<quint32> PppRemoteAccess::takeLink(const Dial &dial, Handle *connection,
                                               pppprocess::Stop *stop)
{
    constexpr int retryMs = 20;
    const QDeadlineTimer deadline(m_options.findLinkTimeoutMs);
    Wake wake;
    QTimer retry;
    retry.setSingleShot(true);
    QObject::connect(&retry, &QTimer::timeout, &retry, [&wake] { wake.fire(); });
    struct Watching {
        pppprocess::Stop *stop;
        ~Watching() { stop->watch(nullptr); }
    } watching{stop};
    stop->watch(&wake);
    for (;;) {
        if (const procscan::Process link = findLink(dial); link.pid > 0) {
            if (stop->requested()) {
                procscan::HeldPppd(link).signal(SIGTERM);
                co_return ErrorUserDisconnection;
            }
            *connection = handOut(link);
            co_return Success;
        }
        if (deadline.hasExpired())
            break;
        retry.start(int(std::min<qint64>(retryMs, deadline.remainingTime())));
        co_await wake.next();
    }
    // Not seen in time. A pppd that shows up only now would keep the line up with nobody
    // holding its handle: end it before reporting the failure.
    if (m_options.beforeLastLook)
        m_options.beforeLastLook();
    if (const procscan::Process late = findLink(dial); late.pid > 0)
        procscan::HeldPppd(late).signal(SIGTERM);
    co_return stop->requested() ? ErrorUserDisconnection : ErrorNoConnection;
}

// The process that keeps this dial's link: a pppd started since the dial started pppd, whose
// command line names the peer as the dial did (the daemon that our pppd forked, as updetach
// does). Another pppd for the same entry, started before, and a stale pid file that names some
// other pppd are never taken for it, so hang-up can reach only our own process. One look.
procscan::Process PppRemoteAccess::findLink(const Dial &dial) const
{
    const auto ours = [&dial](qint64 pid) -> procscan::Process {
        if (!procscan::isPppd(pid))
            return {};
        const quint64 started = procscan::startTime(pid);
        const QStringList args = procscan::commandLine(pid);
        if (started < dial.startedTicks ||
            std::search(args.begin(), args.end(), dial.dialArguments.begin(),
                        dial.dialArguments.end()) == args.end())
            return {};
        return {pid, started};
    };
    if (m_options.useLinkname) {
        const QString pidFile =
            QDir(m_options.runFolder).filePath(QStringLiteral("ppp-%1.pid").arg(dial.entry));
        // File times come from a clock that may lag a few milliseconds behind.
        if (QFileInfo(pidFile).lastModified() >= dial.started.addSecs(-1)) {
            if (const procscan::Process link = ours(procscan::pidFromFile(pidFile)); link.pid)
                return link;
        }
    }
    // The newest such pppd.
    procscan::Process newest;
    for (const qint64 pid : procscan::processIds()) {
        const procscan::Process candidate = ours(pid);
        if (candidate.pid > 0 && (newest.pid == 0 || candidate.started >= newest.started))
            newest = candidate;
    }
    return newest;
}

RemoteAccess::Handle PppRemoteAccess::handOut(const procscan::Process &link)
{
    const Handle handle = Handle(link.pid);
    // Links that have ended since they were handed out are let go, with their pidfds.
    std::erase_if(m_handedOut, [](const auto &held) { return held.second.signal(0) == ESRCH; });
    m_handedOut.insert_or_assign(handle, procscan::HeldPppd(link));
    return handle;
}

QList<PppRemoteAccess::Link> PppRemoteAccess::activeLinks() const
{
    std::map<qint64, QString> links;
    if (m_options.useLinkname) {
        const QDir run(m_options.runFolder);
        const QStringList files = run.entryList({QStringLiteral("ppp-*.pid")}, QDir::Files);
        for (const auto &file : files) {
            const qint64 pid = procscan::pidFromFile(run.filePath(file));
            const QString entry = file.mid(4, file.size() - 8);
            if (procscan::isPppd(pid) && fitsRecord(entry))
                links[pid] = entry;
        }
    }
    for (const qint64 pid : procscan::processIds()) {
        if (links.count(pid) || !procscan::isPppd(pid))
            continue;
        // Only names that fit a record are listed: a cut name could pass for another entry.
        const QString entry = pppoptions::entryOf(procscan::commandLine(pid));
        if (pppoptions::isEntryName(entry) && fitsRecord(entry))
            links[pid] = entry;
    }
    QList<Link> result;
    for (const auto &[pid, entry] : links)
        result.append({{pid, procscan::startTime(pid)}, entry});
    return result;
}

quint32 PppRemoteAccess::RasEnumConnectionsA(unsigned char *records, quint32 *size, quint32 *count)
{
    const auto layout = raslayout::connNT;
    if (const quint32 checked = raslayout::checkRecords(records, size, count, layout.recordSize))
        return checked;
    QList<raslayout::ActiveConnection> connections;
    for (const auto &link : activeLinks())
        connections.append({handOut(link.process), codepage::toCp932(link.entry)});
    return raslayout::fillConnections(records, size, count, layout, connections);
}

quint32 PppRemoteAccess::RasHangUpA(Handle connection)
{
    // A dial in progress ends its own pppd, and then fails with 631.
    if (const auto dialing = m_dialing.find(connection); dialing != m_dialing.end()) {
        dialing->second->request();
        return Success;
    }
    // Only a handle this service handed out, and only its own process: a stale handle never
    // hits another program.
    const auto known = m_handedOut.find(connection);
    if (known == m_handedOut.end())
        return ErrorInvalidHandle;
    const int error = known->second.signal(SIGTERM);
    // A link this user may not end stays known: asking again gives the same answer.
    if (error == EPERM)
        return ErrorAccessDenied;
    m_handedOut.erase(known);
    return error == 0 ? Success : ErrorInvalidHandle;
}

quint32 PppRemoteAccess::RasGetErrorStringA(quint32 code, char *buffer, quint32 bufferSize)
{
    if (!buffer || bufferSize == 0)
        return ErrorInvalidParameter;
    QByteArray text = codepage::toCp932(ppperrors::text(code));
    // The code the last dial failed with: pppd's own words say what went wrong in particular.
    if (code == m_lastDialFailure.code && !m_lastDialFailure.message.isEmpty())
        text = withMessageLine(text, m_lastDialFailure.message, bufferSize);
    return raslayout::copyText(buffer, bufferSize, text);
}
