// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/programfolder.h"

#include "platform/filewriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
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

void prepareSaveFolder(const QString &saveFolder)
{
    // The usual case first: the folder is there (asking for the documents folder reads
    // xdg-user-dirs' file).
    if (QFileInfo::exists(saveFolder) ||
        QDir::cleanPath(saveFolder) != QDir::cleanPath(defaultSaveFolder()))
        return;
    createFolders(saveFolder,
                  QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                      QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup |
                      QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther);
}
