// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/prompter.h"

class QWidget;

// Message boxes shown with QMessageBox, modal to the given parent window, or without one to
// the program's window that is active when the box opens.
class QtPrompter : public Prompter {
public:
    explicit QtPrompter(QWidget *parent = nullptr) : m_parent(parent) {}
    Answer MsgBox(const QString &text, Buttons buttons, Icon icon, const QString &title,
                  const QString &informative, const QString &detailed) override;

private:
    QWidget *m_parent;
};
