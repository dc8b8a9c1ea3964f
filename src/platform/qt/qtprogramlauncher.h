// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/programlauncher.h"

#include <chrono>

// Starts programs with QProcess::startDetached; a watched program is our own child, in a
// session of its own, held by a pidfd until it ends.
class QtProgramLauncher : public ProgramLauncher {
public:
    // How long a watched program may take to fail at once (a browser command that cannot open a
    // window ends within a moment, a wrapper script that finds no browser within a second or
    // two; one that hands its window to a running browser ends well).
    static constexpr std::chrono::milliseconds failureWindow{2000};

    qint64 startDetached(const QString &program, const QStringList &arguments) override;
    QCoro::Task<ProgramStart> startWatched(QString program, QStringList arguments) override;
};
