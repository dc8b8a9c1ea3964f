// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/programlauncher.h"

// Starts programs with QProcess::startDetached.
class QtProgramLauncher : public ProgramLauncher {
public:
    qint64 startDetached(const QString &program, const QStringList &arguments) override;
};
