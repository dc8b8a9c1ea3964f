// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// What the dial-up backend learns about running processes from /proc.
namespace procscan {

// A process known by its number and its start time, so that a later process that reuses the
// number does not pass for it.
struct Process {
    qint64 pid = 0;
    quint64 started = 0; // clock ticks since boot
};

// The ids of all running processes.
QList<qint64> processIds();
// Whether pid is a running pppd, by its command name.
bool isPppd(qint64 pid);
// The arguments of pid's command line, the program first.
QStringList commandLine(qint64 pid);
// The start time of pid in clock ticks since boot; 0 when it does not run.
quint64 startTime(qint64 pid);
// The present moment in the clock ticks of startTime.
quint64 ticksNow();
// The process id on the first line of a pid file; 0 when there is none.
qint64 pidFromFile(const QString &path);

// A pppd held by a pidfd, so that a signal reaches that very process or none: never a later
// one that took its number. Where the kernel has no pidfds, the number and the start time are
// checked before each signal instead.
class HeldPppd {
public:
    HeldPppd() = default;
    // Holds process when it is still the pppd that started at process.started.
    explicit HeldPppd(const Process &process);
    ~HeldPppd();
    HeldPppd(HeldPppd &&other) noexcept;
    HeldPppd &operator=(HeldPppd &&other) noexcept;
    HeldPppd(const HeldPppd &) = delete;
    HeldPppd &operator=(const HeldPppd &) = delete;

    // 0 when sent, else an errno value (ESRCH: the process has ended, or was never held).
    int signal(int sig) const;

private:
    Process m_process;
    int m_pidfd = -1;
    bool m_held = false;
};

} // namespace procscan
