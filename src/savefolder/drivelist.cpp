// SPDX-License-Identifier: GPL-3.0-or-later
#include "savefolder/drivelist.h"

#include <QStorageInfo>

#include <algorithm>

DriveList::DriveList(QWidget *parent) : QComboBox(parent)
{
    QStringList roots;
    for (const QStorageInfo &volume : QStorageInfo::mountedVolumes()) {
        if (volume.isValid())
            roots.append(volume.rootPath());
    }
    roots.removeDuplicates();
    std::sort(roots.begin(), roots.end());
    addItems(roots);
    connect(this, &QComboBox::currentIndexChanged, this, [this](int) {
        if (!m_quiet)
            emit driveChanged(drive());
    });
}

QString DriveList::drive() const
{
    return currentText();
}

void DriveList::setDriveFor(const QString &path)
{
    const QString root = QStorageInfo(path).rootPath();
    int index = findText(root);
    if (index < 0) {
        addItem(root);
        index = count() - 1;
    }
    m_quiet = true;
    setCurrentIndex(index);
    m_quiet = false;
}

void DriveList::restoreDrive(const QString &root)
{
    m_quiet = true;
    setCurrentIndex(findText(root));
    m_quiet = false;
}
