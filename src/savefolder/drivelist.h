// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QComboBox>

// The drive list: the mounted file systems, shown by their root paths.
class DriveList : public QComboBox {
    Q_OBJECT
public:
    explicit DriveList(QWidget *parent = nullptr);

    // Root path of the selected file system.
    QString drive() const;
    // Selects the file system that holds path (the deepest mount point containing it).
    void setDriveFor(const QString &path);
    // Goes back to a drive without raising driveChanged (used when a drive is refused).
    void restoreDrive(const QString &root);

signals:
    void driveChanged(const QString &root);

private:
    bool m_quiet = false;
};
