// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QListWidget>

// The folder list: the open folder's ancestors, the open folder itself and its subfolders,
// indented like a tree. Opening an entry (double-click or Enter) changes Path; highlighting
// one does not.
class FolderList : public QListWidget {
    Q_OBJECT
public:
    explicit FolderList(QWidget *parent = nullptr);

    QString path() const { return m_path; }
    // Opens folder; a folder that does not exist or cannot be read is refused (returns false)
    // and the list stays where it was.
    bool setPath(const QString &folder);

signals:
    void pathChanged(const QString &path);

private:
    void openItem(QListWidgetItem *item);

    QString m_path;
};
