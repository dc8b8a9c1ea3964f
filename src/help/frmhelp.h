// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/programfolder.h"

#include <QMainWindow>

class Prompter;
class QPlainTextEdit;

// The help viewer: shows Help.txt from the program folder in one scrollable text box.
class frmHelp : public QMainWindow {
    Q_OBJECT
public:
    // programFolder ends with "/"; the manual is read from programFolder + "Help.txt".
    explicit frmHelp(Prompter &prompter, QWidget *parent = nullptr,
                     const QString &programFolder = MyPath());

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Form_Load();
    void Form_Resize();
    void mnuModoru_Click();

    Prompter &m_prompter;
    QString m_programFolder;
    QWidget *m_client = nullptr;
    QPlainTextEdit *m_Text1 = nullptr;
};
