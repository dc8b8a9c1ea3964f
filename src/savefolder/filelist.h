// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QListWidget>

// The file list: every file of one folder, for display only.
class FileList : public QListWidget {
    Q_OBJECT
public:
    explicit FileList(QWidget *parent = nullptr);
    QString path() const { return m_path; }
    void setPath(const QString &folder);

private:
    QString m_path;
};
