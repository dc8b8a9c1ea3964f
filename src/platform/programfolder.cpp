// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/programfolder.h"

#include <QCoreApplication>
#include <QStandardPaths>

namespace {
QString withSlash(QString folder)
{
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder;
}
} // namespace

QString MyPath()
{
    return withSlash(QCoreApplication::applicationDirPath());
}

QString defaultSaveFolder()
{
    return withSlash(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
}
