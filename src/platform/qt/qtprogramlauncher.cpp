// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/qt/qtprogramlauncher.h"

#include <QProcess>

qint64 QtProgramLauncher::startDetached(const QString &program, const QStringList &arguments)
{
    qint64 pid = 0;
    if (!QProcess::startDetached(program, arguments, QString(), &pid))
        return 0;
    return pid;
}
