// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ppp/procscan.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <csignal>
#include <ctime>
#include <sys/syscall.h>
#include <unistd.h>
#include <utility>

namespace procscan {

namespace {

QByteArray readProcFile(qint64 pid, const char *name)
{
    QFile file(QStringLiteral("/proc/%1/").arg(pid) + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(64 * 1024);
}

bool isSame(const Process &process)
{
    return isPppd(process.pid) && startTime(process.pid) == process.started;
}

} // namespace

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

quint64 startTime(qint64 pid)
{
    const QByteArray stat = readProcFile(pid, "stat");
    const auto close = stat.lastIndexOf(')');
    if (close < 0)
        return 0;
    // The fields after the command name start with field 3 (state); the start time is field 22.
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    return fields.size() > 19 ? fields[19].toULongLong() : 0;
}

quint64 ticksNow()
{
    // Start times count clock ticks of the boot-time clock.
    timespec now{};
    ::clock_gettime(CLOCK_BOOTTIME, &now);
    const long hz = ::sysconf(_SC_CLK_TCK);
    return quint64(now.tv_sec) * quint64(hz) + quint64(now.tv_nsec) / (1000000000ULL / quint64(hz));
}

qint64 pidFromFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    return file.readLine(64).trimmed().toLongLong();
}

HeldPppd::HeldPppd(const Process &process) : m_process(process)
{
    m_pidfd = int(::syscall(SYS_pidfd_open, pid_t(process.pid), 0));
    if (m_pidfd < 0 && errno == ESRCH)
        return; // it has ended
    // Without a pidfd (an older kernel, a sandbox that refuses the call, no descriptor left)
    // the process is told apart by its start time.
    // Checked once the pidfd is open, so that it refers to the process that was looked at.
    m_held = isSame(process);
    if (!m_held && m_pidfd >= 0) {
        ::close(m_pidfd);
        m_pidfd = -1;
    }
}

HeldPppd::~HeldPppd()
{
    if (m_pidfd >= 0)
        ::close(m_pidfd);
}

HeldPppd::HeldPppd(HeldPppd &&other) noexcept
    : m_process(other.m_process), m_pidfd(std::exchange(other.m_pidfd, -1)),
      m_held(std::exchange(other.m_held, false))
{
}

HeldPppd &HeldPppd::operator=(HeldPppd &&other) noexcept
{
    if (this != &other) {
        if (m_pidfd >= 0)
            ::close(m_pidfd);
        m_process = other.m_process;
        m_pidfd = std::exchange(other.m_pidfd, -1);
        m_held = std::exchange(other.m_held, false);
    }
    return *this;
}

int HeldPppd::signal(int sig) const
{
    if (!m_held)
        return ESRCH;
    if (m_pidfd >= 0)
        return ::syscall(SYS_pidfd_send_signal, m_pidfd, sig, nullptr, 0) == 0 ? 0 : errno;
    if (!isSame(m_process))
        return ESRCH;
    return ::kill(pid_t(m_process.pid), sig) == 0 ? 0 : errno;
}

} // namespace procscan
