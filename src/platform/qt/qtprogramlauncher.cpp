// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/qt/qtprogramlauncher.h"

#include <QFile>
#include <QProcess>
#include <QSocketNotifier>
#include <QTimer>

#include <coroutine>
#include <memory>
#include <vector>

#include <cerrno>
#include <csignal>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

int pidfdOpen(pid_t pid)
{
    return int(::syscall(SYS_pidfd_open, pid, 0));
}

// Whether this kernel (or sandbox) hands out pidfds; without them a started program could not be
// reaped without waiting for it.
bool havePidfds()
{
    static const bool have = [] {
        const int fd = pidfdOpen(::getpid());
        if (fd < 0)
            return false;
        ::close(fd);
        return true;
    }();
    return have;
}

// Starts program (looked up on the PATH) as a child in a session of its own, with every signal
// at its default and none blocked, as a program started from the desktop would be. Returns its
// process id, or 0 with the error in *error.
pid_t spawn(const QString &program, const QStringList &arguments, int *error)
{
    std::vector<QByteArray> words{QFile::encodeName(program)};
    for (const QString &argument : arguments)
        words.push_back(QFile::encodeName(argument));
    std::vector<char *> argv;
    for (QByteArray &word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    posix_spawnattr_t attributes;
    if ((*error = ::posix_spawnattr_init(&attributes)) != 0)
        return 0;
    sigset_t none;
    sigset_t all;
    ::sigemptyset(&none);
    ::sigfillset(&all);
    ::posix_spawnattr_setsigmask(&attributes, &none);
    ::posix_spawnattr_setsigdefault(&attributes, &all);
    ::posix_spawnattr_setflags(&attributes,
                               POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = 0;
    const int failed =
        ::posix_spawnp(&pid, argv.front(), nullptr, &attributes, argv.data(), environ);
    ::posix_spawnattr_destroy(&attributes);
    *error = failed;
    return failed ? 0 : pid;
}

// Resumes the awaiting coroutine, from the event loop, once the process behind pidfd has ended
// (true) or once timeout has passed (false). Copies share one watch (the compiler may copy an
// awaiter).
class ProcessEnd {
public:
    ProcessEnd(int pidfd, std::chrono::milliseconds timeout)
        : m_watch(std::make_shared<Watch>(pidfd))
    {
        m_watch->timer.setSingleShot(true);
        m_watch->timer.setInterval(timeout);
    }
    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> waiting)
    {
        Watch *watch = m_watch.get();
        const auto resume = [watch, waiting](bool ended) {
            watch->notifier.setEnabled(false);
            watch->timer.stop();
            watch->ended = ended;
            // Not from inside the notifier or the timer: they go with the awaiter.
            QTimer::singleShot(0, &watch->notifier, [waiting] { waiting.resume(); });
        };
        QObject::connect(&watch->notifier, &QSocketNotifier::activated, &watch->notifier,
                         [resume] { resume(true); });
        QObject::connect(&watch->timer, &QTimer::timeout, &watch->notifier,
                         [resume] { resume(false); });
        watch->notifier.setEnabled(true);
        watch->timer.start();
    }
    bool await_resume() const noexcept { return m_watch->ended; }

private:
    struct Watch {
        explicit Watch(int pidfd) : notifier(pidfd, QSocketNotifier::Read)
        {
            notifier.setEnabled(false);
        }
        QSocketNotifier notifier;
        QTimer timer;
        bool ended = false;
    };
    std::shared_ptr<Watch> m_watch;
};

// Reaps the child pid whenever it ends, however long it runs, so that it never stays a zombie;
// then closes pidfd.
void reapWhenEnded(pid_t pid, int pidfd)
{
    auto *notifier = new QSocketNotifier(pidfd, QSocketNotifier::Read);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [notifier, pid, pidfd] {
        notifier->setEnabled(false);
        ::waitpid(pid, nullptr, WNOHANG);
        ::close(pidfd);
        notifier->deleteLater();
    });
}

// Why program could not be started, from posix_spawnp's error.
QString notStarted(const QString &program, int error)
{
    if (error == ENOENT)
        return program + QStringLiteral(" が見つかりません。");
    if (error == EACCES || error == ENOEXEC)
        return program + QStringLiteral(" を実行できません。");
    return program + QStringLiteral(" を起動できません。");
}

// Why program, ended with the wait status status, counts as not started.
QString endedBadly(const QString &program, int status)
{
    if (WIFSIGNALED(status))
        return program + QStringLiteral(" がシグナル %1 で終わりました。").arg(WTERMSIG(status));
    return program + QStringLiteral(" が終了コード %1 で終わりました。").arg(WEXITSTATUS(status));
}

} // namespace

qint64 QtProgramLauncher::startDetached(const QString &program, const QStringList &arguments)
{
    qint64 pid = 0;
    if (!QProcess::startDetached(program, arguments, QString(), &pid))
        return 0;
    return pid;
}

QCoro::Task<ProgramStart> QtProgramLauncher::startWatched(QString program, QStringList arguments)
{
    if (!havePidfds()) {
        if (const qint64 pid = startDetached(program, arguments))
            co_return ProgramStart{pid, {}};
        co_return ProgramStart::failed(notStarted(program, 0));
    }
    int error = 0;
    const pid_t pid = spawn(program, arguments, &error);
    if (pid <= 0)
        co_return ProgramStart::failed(notStarted(program, error));
    const int pidfd = pidfdOpen(pid);
    if (pidfd < 0) {
        // No descriptor left to watch it with: it runs unwatched, and stays a zombie once it
        // ends until the program ends.
        co_return ProgramStart{pid, {}};
    }
    ProcessEnd end(pidfd, failureWindow);
    if (!co_await end) {
        // Still running: started.
        reapWhenEnded(pid, pidfd);
        co_return ProgramStart{pid, {}};
    }
    int status = 0;
    const pid_t reaped = ::waitpid(pid, &status, WNOHANG);
    ::close(pidfd);
    // Ended at once: well when it handed its work to a browser already running, else failed.
    if (reaped != pid)
        co_return ProgramStart::failed(notStarted(program, 0));
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        co_return ProgramStart{pid, {}};
    co_return ProgramStart::failed(endedBadly(program, status));
}
