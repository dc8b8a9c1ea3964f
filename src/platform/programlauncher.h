// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoro/QCoroTask>
#include <QString>
#include <QStringList>

#include <utility>

// What came of starting a program: its process id, or 0 and the reason, a sentence that names
// the program (such as "/bin/false が終了コード 1 で終わりました。").
struct ProgramStart {
    qint64 pid = 0;
    QString failure;

    static ProgramStart failed(QString reason) { return {0, std::move(reason)}; }
};

// Starts programs without keeping any link to them.
class ProgramLauncher {
public:
    virtual ~ProgramLauncher() = default;
    // Starts a program without waiting for it. Returns the process id, or 0 when the program
    // could not be started.
    virtual qint64 startDetached(const QString &program, const QStringList &arguments) = 0;
    // Starts a program that is meant to keep running, such as a web browser, and watches it for
    // a moment: the process id, or 0 with the reason when it could not be started or ended with
    // a failure status within that moment. The event loop runs meanwhile. A launcher that cannot
    // watch the programs it starts takes every start for a success.
    virtual QCoro::Task<ProgramStart> startWatched(QString program, QStringList arguments)
    {
        if (const qint64 pid = startDetached(program, arguments))
            co_return ProgramStart{pid, {}};
        co_return ProgramStart::failed(program + QStringLiteral(" を起動できません。"));
    }
};
