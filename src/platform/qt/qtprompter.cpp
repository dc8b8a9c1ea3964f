// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/qt/qtprompter.h"

#include <QMessageBox>

Prompter::Answer QtPrompter::MsgBox(const QString &text, Buttons buttons, Icon icon,
                                    const QString &title)
{
    QMessageBox box(m_parent);
    box.setWindowTitle(title);
    box.setText(text);
    switch (icon) {
    case Icon::None:
        box.setIcon(QMessageBox::NoIcon);
        break;
    case Icon::Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    case Icon::Question:
        box.setIcon(QMessageBox::Question);
        break;
    }
    switch (buttons) {
    case Buttons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case Buttons::RetryCancel:
        box.setStandardButtons(QMessageBox::Retry | QMessageBox::Cancel);
        break;
    case Buttons::YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    }
    switch (box.exec()) {
    case QMessageBox::Retry:
        return Answer::Retry;
    case QMessageBox::Cancel:
        return Answer::Cancel;
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    default:
        break;
    }
    // Closing the box with Escape or its close box counts as its cancelling answer.
    if (buttons == Buttons::YesNo)
        return box.clickedButton() ? Answer::Yes : Answer::No;
    return buttons == Buttons::RetryCancel ? Answer::Cancel : Answer::Ok;
}
