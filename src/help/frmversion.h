// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

class QPushButton;

// The version dialog: a fixed picture with two buttons over it, both of which close the window.
class frmVersion : public QWidget {
    Q_OBJECT
public:
    explicit frmVersion(QWidget *parent = nullptr);

private:
    void Command1_Click();
    void Command2_Click();

    QPushButton *m_Command1 = nullptr;
    QPushButton *m_Command2 = nullptr;
};
