// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/wake.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <QCoro/QCoroTask>

#include <coroutine>
#include <functional>

// Starting pppd for a dial and waiting for it, without holding the event loop.
namespace pppprocess {

struct Run {
    enum class Outcome {
        Exited,     // status holds its wait status
        NotStarted, // the program could not be run (error: errno of exec)
        NoPipe,     // the pipe that reports a failed start could not be made (error: errno)
        NoProcess,  // fork failed (error: errno)
        TimedOut,   // it did not end in time and was ended
        Stopped,    // it was ended on request before its time (status holds its wait status)
        Lost,       // it ended, but its wait status could not be collected (error: errno)
    };
    Outcome outcome = Outcome::NotStarted;
    int error = 0;
    int status = 0;
    // The last line the program wrote to its standard output or error before it ended (pppd's
    // own account of the end, such as an option it did not take); empty when it wrote none.
    QString lastMessage = {};
};

// A request to end a run before its time. Whoever waits on behalf of the run watches it with
// its own Wake.
class Stop {
public:
    void request();
    bool requested() const { return m_requested; }
    // The Wake to fire on a request; null: none.
    void watch(Wake *wake) { m_wake = wake; }

private:
    bool m_requested = false;
    Wake *m_wake = nullptr;
};

// Runs program with arguments until it ends, at most timeoutMs: then it gets SIGTERM (and
// SIGKILL if it is still there a few seconds later) and the run has timed out. A request on
// stop (may be null) ends it the same way at once. started is called with the process id as
// soon as it runs, before the coroutine first suspends. keepFd stays open in the program; its
// standard input reads from /dev/null, its standard output and error write into one pipe that
// is read as it fills (the last few KiB kept, for Run::lastMessage), and every other
// descriptor is closed. The coroutine suspends on the process's pidfd and a timer, so the
// program goes on meanwhile: the caller keeps what could start a second run disabled.
QCoro::Task<Run> runAndWait(QString program, QStringList arguments, int keepFd, int timeoutMs,
                            Stop *stop = nullptr, std::function<void(qint64)> started = {});

// The program found on PATH, then in moreFolders. Sets *denied when one exists that this user
// may not run.
QString findProgram(const QString &name, const QStringList &moreFolders, bool *denied);

} // namespace pppprocess
