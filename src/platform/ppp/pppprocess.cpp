// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ppp/pppprocess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace pppprocess {

namespace {

// How long an ended program may take to go after SIGTERM (pppd hangs up the line first).
constexpr int termGraceMs = 5000;

// The argument vector for execv, holding its own copies of the texts.
class Argv {
public:
    Argv(const QString &program, const QStringList &arguments)
    {
        m_texts.push_back(QFile::encodeName(program));
        for (const auto &arg : arguments)
            m_texts.push_back(arg.toLocal8Bit());
        for (auto &text : m_texts)
            m_pointers.push_back(text.data());
        m_pointers.push_back(nullptr);
    }
    char *const *data() { return m_pointers.data(); }

private:
    std::vector<QByteArray> m_texts;
    std::vector<char *> m_pointers;
};

// In the forked child: only async-signal-safe calls. Standard input reads from devNull, standard
// output and error write to outputFd. Reports a failed exec through errorFd.
[[noreturn]] void execChild(char *const *argv, int devNull, int outputFd, int keepFd, int errorFd)
{
    if (devNull >= 0)
        ::dup2(devNull, 0);
    ::dup2(outputFd, 1);
    ::dup2(outputFd, 2);
    if (keepFd > 2) {
        ::close_range(3, static_cast<unsigned>(keepFd - 1), CLOSE_RANGE_CLOEXEC);
        ::close_range(static_cast<unsigned>(keepFd + 1), ~0U, CLOSE_RANGE_CLOEXEC);
        ::fcntl(keepFd, F_SETFD, 0);
    } else {
        ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
    }
    ::execv(argv[0], argv);
    const int err = errno;
    [[maybe_unused]] const auto written = ::write(errorFd, &err, sizeof err);
    ::_exit(127);
}

// The errno of a failed exec, read from the child's error pipe; 0 when the exec succeeded
// (the pipe closed on exec without a word).
int execError(int errorFd)
{
    int err = 0;
    ssize_t n;
    do {
        n = ::read(errorFd, &err, sizeof err);
    } while (n < 0 && errno == EINTR);
    return n == sizeof err ? err : 0;
}

// What the child writes to its standard output and error, read from the pipe's non-blocking end
// whenever there is something, so that a talkative pppd never blocks on a full pipe; only the
// last few KiB are kept. Closes fd when it goes.
class OutputTail {
public:
    explicit OutputTail(int fd) : m_fd(fd), m_notifier(qintptr(fd), QSocketNotifier::Read)
    {
        QObject::connect(&m_notifier, &QSocketNotifier::activated, &m_notifier,
                         [this] { readAvailable(); });
    }
    OutputTail(const OutputTail &) = delete;
    OutputTail &operator=(const OutputTail &) = delete;
    ~OutputTail() { ::close(m_fd); }

    // The last non-empty line of what has been written so far. The program's descendants may
    // keep the pipe open after it has ended (pppd's link does until it detaches), so what is
    // there is read, and no end of file is waited for.
    QString lastLine()
    {
        readAvailable();
        const QList<QByteArray> lines = m_tail.split('\n');
        for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
            if (const QByteArray text = line->trimmed(); !text.isEmpty())
                return QString::fromLocal8Bit(text);
        }
        return {};
    }

private:
    static constexpr qsizetype keep = 4096;

    void readAvailable()
    {
        char chunk[4096];
        for (;;) {
            const ssize_t n = ::read(m_fd, chunk, sizeof chunk);
            if (n > 0) {
                m_tail.append(chunk, n);
                if (m_tail.size() > keep)
                    m_tail.remove(0, m_tail.size() - keep);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            // Every writer has gone: nothing more will come.
            if (n == 0)
                m_notifier.setEnabled(false);
            return;
        }
    }

    int m_fd;
    QSocketNotifier m_notifier;
    QByteArray m_tail;
};

// How a wait for a child ended.
enum class Ended { Exited, Expired, Stopped };

// Suspends until the child has ended (its wait status in *status, or *error set when the
// status could not be collected: SIGCHLD ignored reaps it unseen), ms have passed (ms < 0: no
// limit) or stop is requested. The child's pidfd wakes it; where the kernel gives none, a look
// every 50 ms does.
QCoro::Task<Ended> awaitExit(pid_t pid, int pidfd, int ms, Stop *stop, int *status, int *error)
{
    Wake wake;
    std::unique_ptr<QSocketNotifier> exited;
    QTimer look;
    if (pidfd >= 0) {
        exited = std::make_unique<QSocketNotifier>(qintptr(pidfd), QSocketNotifier::Read);
        QObject::connect(exited.get(), &QSocketNotifier::activated, exited.get(),
                         [&wake] { wake.fire(); });
    } else {
        QObject::connect(&look, &QTimer::timeout, &look, [&wake] { wake.fire(); });
        look.start(50);
    }
    QTimer deadline;
    deadline.setSingleShot(true);
    bool expired = false;
    QObject::connect(&deadline, &QTimer::timeout, &deadline, [&] {
        expired = true;
        wake.fire();
    });
    if (ms >= 0)
        deadline.start(ms);
    struct Watching {
        Stop *stop;
        ~Watching()
        {
            if (stop)
                stop->watch(nullptr);
        }
    } watching{stop};
    if (stop)
        stop->watch(&wake);

    for (;;) {
        const pid_t done = ::waitpid(pid, status, WNOHANG);
        if (done == pid)
            co_return Ended::Exited;
        if (done < 0 && errno != EINTR) {
            *error = errno;
            co_return Ended::Exited;
        }
        if (stop && stop->requested())
            co_return Ended::Stopped;
        if (expired)
            co_return Ended::Expired;
        co_await wake.next();
    }
}

// Ends a child that is to go before its time, and collects it.
QCoro::Task<> endChild(pid_t pid, int pidfd, int *status)
{
    int error = 0;
    ::kill(pid, SIGTERM);
    if (co_await awaitExit(pid, pidfd, termGraceMs, nullptr, status, &error) == Ended::Exited)
        co_return;
    ::kill(pid, SIGKILL);
    // Killed, it goes at once; the wait has no limit of its own.
    co_await awaitExit(pid, pidfd, -1, nullptr, status, &error);
}

} // namespace

void Stop::request()
{
    m_requested = true;
    if (m_wake)
        m_wake->fire();
}

QCoro::Task<Run> runAndWait(QString program, QStringList arguments, int keepFd, int timeoutMs,
                            Stop *stop, std::function<void(qint64)> started)
{
    Argv argv(program, arguments);
    int errorPipe[2] = {-1, -1};
    if (::pipe2(errorPipe, O_CLOEXEC) != 0)
        co_return Run{Run::Outcome::NoPipe, errno, 0};
    int outputPipe[2] = {-1, -1};
    if (::pipe2(outputPipe, O_CLOEXEC) != 0) {
        const int pipeError = errno;
        ::close(errorPipe[0]);
        ::close(errorPipe[1]);
        co_return Run{Run::Outcome::NoPipe, pipeError, 0};
    }
    const int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    const pid_t pid = ::fork();
    if (pid == 0)
        execChild(argv.data(), devNull, outputPipe[1], keepFd, errorPipe[1]);
    const int forkError = errno;
    ::close(errorPipe[1]);
    ::close(outputPipe[1]);
    if (devNull >= 0)
        ::close(devNull);
    ::fcntl(outputPipe[0], F_SETFL, ::fcntl(outputPipe[0], F_GETFL) | O_NONBLOCK);
    OutputTail output(outputPipe[0]);
    if (pid < 0) {
        ::close(errorPipe[0]);
        co_return Run{Run::Outcome::NoProcess, forkError, 0};
    }
    const int notRun = execError(errorPipe[0]);
    ::close(errorPipe[0]);
    // Our own child, not yet collected: its number cannot pass to another process meanwhile.
    struct Pidfd {
        int fd;
        ~Pidfd()
        {
            if (fd >= 0)
                ::close(fd);
        }
    } pidfd{int(::syscall(SYS_pidfd_open, pid, 0))};
    if (notRun == 0 && started)
        started(qint64(pid));

    // The deadline starts once the program runs: a pppd that never gives up (persist with
    // maxfail 0) would hold the dial for ever.
    Run run;
    int lost = 0;
    const Ended ended = co_await awaitExit(pid, pidfd.fd, timeoutMs, stop, &run.status, &lost);
    if (ended != Ended::Exited) {
        co_await endChild(pid, pidfd.fd, &run.status);
        run.outcome = ended == Ended::Expired ? Run::Outcome::TimedOut : Run::Outcome::Stopped;
        if (ended == Ended::Expired)
            run.status = 0;
    } else if (notRun != 0) {
        run.outcome = Run::Outcome::NotStarted;
        run.error = notRun;
    } else if (lost != 0) {
        run.outcome = Run::Outcome::Lost;
        run.error = lost;
        run.status = 0;
    } else {
        run.outcome = Run::Outcome::Exited;
    }
    // Everything it wrote is in the pipe by the time it has ended.
    run.lastMessage = output.lastLine();
    co_return run;
}

QString findProgram(const QString &name, const QStringList &moreFolders, bool *denied)
{
    *denied = false;
    QString found = QStandardPaths::findExecutable(name);
    if (found.isEmpty() && !moreFolders.isEmpty())
        found = QStandardPaths::findExecutable(name, moreFolders);
    if (!found.isEmpty())
        return found;
    QStringList folders = qEnvironmentVariable("PATH").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    folders << moreFolders;
    for (const auto &folder : folders) {
        if (QFileInfo(QDir(folder).filePath(name)).isFile())
            *denied = true;
    }
    return {};
}

} // namespace pppprocess
