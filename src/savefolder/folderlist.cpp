// SPDX-License-Identifier: GPL-3.0-or-later
#include "savefolder/folderlist.h"

#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>

namespace {
constexpr int PathRole = Qt::UserRole;
}

FolderList::FolderList(QWidget *parent) : QListWidget(parent)
{
    connect(this, &QListWidget::itemActivated, this, &FolderList::openItem);
}

bool FolderList::setPath(const QString &folder)
{
    const QFileInfo info(folder);
    if (!info.isDir() || !info.isReadable() || !info.isExecutable())
        return false;
    QDir dir(info.absoluteFilePath());
    const QStringList subfolders = dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);

    const QString opened = dir.absolutePath();

    // Ancestors from the root down to the open folder.
    QStringList chain;
    for (QDir up(opened);;) {
        chain.prepend(up.absolutePath());
        if (up.isRoot() || !up.cdUp())
            break;
    }

    clear();
    int depth = 0;
    for (const QString &p : chain) {
        const QString name = depth == 0 ? p : QFileInfo(p).fileName();
        auto *item = new QListWidgetItem(QString(depth * 2, QLatin1Char(' ')) + name, this);
        item->setData(PathRole, p);
        ++depth;
    }
    // The open folder (the one "指定" takes) is set in bold, so it stays visible while the user
    // highlights another entry.
    QListWidgetItem *openEntry = item(int(chain.size()) - 1);
    QFont bold = openEntry->font();
    bold.setBold(true);
    openEntry->setFont(bold);
    for (const QString &name : subfolders) {
        auto *item = new QListWidgetItem(QString(depth * 2, QLatin1Char(' ')) + name, this);
        item->setData(PathRole, dir.filePath(name));
    }
    setCurrentRow(int(chain.size()) - 1);

    const bool changed = opened != m_path;
    m_path = opened;
    if (changed)
        emit pathChanged(m_path);
    return true;
}

void FolderList::openItem(QListWidgetItem *item)
{
    if (item)
        setPath(item->data(PathRole).toString());
}
