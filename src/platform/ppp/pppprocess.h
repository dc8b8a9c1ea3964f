// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

// Starting pppd for a dial and waiting for it.
namespace pppprocess {

struct Run {
    enum class Outcome {
        Exited,     // status holds its wait status
        NotStarted, // the program could not be run (error: errno of exec)
        NoPipe,     // the pipe that reports a failed start could not be made (error: errno)
        NoProcess,  // fork failed (error: errno)
        TimedOut,   // it did not end in time and was ended
        Lost,       // it ended, but its wait status could not be collected (error: errno)
    };
    Outcome outcome = Outcome::NotStarted;
    int error = 0;
    int status = 0;
};

// Lets about ms milliseconds pass while the thread's event loop runs (in a nested loop, as the
// transfer service waits), so that the program stays responsive while a dial waits: windows
// repaint, a harvest goes on. When the application is quitting, it simply sleeps.
void waitWithEvents(int ms);

// Runs program with arguments and waits until it ends, at most timeoutMs: then it gets SIGTERM
// (and SIGKILL if it is still there a few seconds later) and the run has timed out. keepFd stays
// open in the program; the standard descriptors read from and write to /dev/null, and every
// other descriptor is closed. The event loop runs while it waits (waitWithEvents): the caller
// keeps what could start a second dial disabled meanwhile.
Run runAndWait(const QString &program, const QStringList &arguments, int keepFd, int timeoutMs);

// The program found on PATH, then in moreFolders. Sets *denied when one exists that this user
// may not run.
QString findProgram(const QString &name, const QStringList &moreFolders, bool *denied);

} // namespace pppprocess
