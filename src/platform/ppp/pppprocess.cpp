// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ppp/pppprocess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
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

// In the forked child: only async-signal-safe calls. Reports a failed exec through errorFd.
[[noreturn]] void execChild(char *const *argv, int devNull, int keepFd, int errorFd)
{
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

// Waits for the child to end until the deadline; true when it did, with its wait status, or
// with *error set when the status could not be collected (SIGCHLD ignored reaps it unseen).
bool waitUntil(pid_t pid, const QDeadlineTimer &deadline, int *status, int *error)
{
    for (;;) {
        const pid_t done = ::waitpid(pid, status, WNOHANG);
        if (done == pid)
            return true;
        if (done < 0 && errno != EINTR) {
            *error = errno;
            return true;
        }
        if (deadline.hasExpired())
            return false;
        waitWithEvents(10);
    }
}

// Ends a child that did not end in time, and collects it.
void endChild(pid_t pid)
{
    int status = 0, error = 0;
    ::kill(pid, SIGTERM);
    if (waitUntil(pid, QDeadlineTimer(termGraceMs), &status, &error))
        return;
    ::kill(pid, SIGKILL);
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

} // namespace

void waitWithEvents(int ms)
{
    if (!QCoreApplication::instance() || QCoreApplication::closingDown()) {
        QThread::msleep(ms);
        return;
    }
    QEventLoop loop;
    bool elapsed = false;
    QTimer::singleShot(ms, &loop, [&] {
        elapsed = true;
        loop.quit();
    });
    loop.exec();
    // A loop left early (the application is quitting) must not turn the wait into a busy one.
    if (!elapsed)
        QThread::msleep(ms);
}

Run runAndWait(const QString &program, const QStringList &arguments, int keepFd, int timeoutMs)
{
    Argv argv(program, arguments);
    Run run;
    int errorPipe[2] = {-1, -1};
    if (::pipe2(errorPipe, O_CLOEXEC) != 0)
        return {Run::Outcome::NoPipe, errno, 0};
    const int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    const pid_t pid = ::fork();
    if (pid == 0)
        execChild(argv.data(), devNull, keepFd, errorPipe[1]);
    const int forkError = errno;
    ::close(errorPipe[1]);
    if (devNull >= 0)
        ::close(devNull);
    if (pid < 0) {
        ::close(errorPipe[0]);
        return {Run::Outcome::NoProcess, forkError, 0};
    }
    const int notRun = execError(errorPipe[0]);
    ::close(errorPipe[0]);

    // The deadline starts once the program runs: a pppd that never gives up (persist with
    // maxfail 0) would hold the dial, and the whole program with it, for ever.
    int lost = 0;
    if (!waitUntil(pid, QDeadlineTimer(timeoutMs), &run.status, &lost)) {
        endChild(pid);
        return {Run::Outcome::TimedOut, 0, 0};
    }
    if (notRun != 0)
        return {Run::Outcome::NotStarted, notRun, run.status};
    if (lost != 0)
        return {Run::Outcome::Lost, lost, 0};
    run.outcome = Run::Outcome::Exited;
    return run;
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
