// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

#include <functional>

class DriveList;
class FileList;
class FolderList;
class QLabel;
class QLineEdit;
class QPushButton;

// The save-location dialog: the user opens a folder in the folder list, takes it with "指定"
// and hands it to the main window with "OK" (or "デフォルト"). Shown modally; every opening
// starts from the default save folder and the process's current folder.
class frmPath : public QDialog {
    Q_OBJECT
public:
    // setSaveFolder writes the main window's save-folder box.
    explicit frmPath(std::function<void(const QString &)> setSaveFolder, QWidget *parent = nullptr,
                     const QString &defaultFolder = QString());

    DriveList *Drive1() const { return m_Drive1; }
    FolderList *Dir1() const { return m_Dir1; }
    FileList *File1() const { return m_File1; }
    QLineEdit *Text1() const { return m_Text1; }

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void Drive1_Change(const QString &root);
    void Dir1_Change(const QString &path);
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();

    std::function<void(const QString &)> m_setSaveFolder;
    DriveList *m_Drive1 = nullptr;
    FolderList *m_Dir1 = nullptr;
    FileList *m_File1 = nullptr;
    QLineEdit *m_Text1 = nullptr;
    QString m_lastDrive;
};
