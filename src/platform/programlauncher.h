// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

// Starts programs without waiting for them and without keeping any link to them.
class ProgramLauncher {
public:
    virtual ~ProgramLauncher() = default;
    // Returns the process id, or 0 when the program could not be started.
    virtual qint64 startDetached(const QString &program, const QStringList &arguments) = 0;
};
