// SPDX-License-Identifier: GPL-3.0-or-later
#include "savefolder/filelist.h"

#include <QDir>

FileList::FileList(QWidget *parent) : QListWidget(parent)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
}

void FileList::setPath(const QString &folder)
{
    m_path = folder;
    clear();
    addItems(QDir(folder).entryList(QDir::Files, QDir::Name));
}
