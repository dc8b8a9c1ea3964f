// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoro/QCoroTask>
#include <QString>
#include <QStringList>

// Starts programs without keeping any link to them.
class ProgramLauncher {
public:
    virtual ~ProgramLauncher() = default;
    // Starts a program without waiting for it. Returns the process id, or 0 when the program
    // could not be started.
    virtual qint64 startDetached(const QString &program, const QStringList &arguments) = 0;
    // Starts a program that is meant to keep running, such as a web browser, and watches it for
    // a moment: the process id, or 0 when it could not be started or ended with a failure status
    // within that moment. The event loop runs meanwhile. A launcher that cannot watch the
    // programs it starts takes every start for a success.
    virtual QCoro::Task<qint64> startWatched(QString program, QStringList arguments)
    {
        co_return startDetached(program, arguments);
    }
};
