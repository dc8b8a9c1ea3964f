// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/qt/qtprompter.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>

Prompter::Answer QtPrompter::MsgBox(const QString &text, Buttons buttons, Icon icon,
                                    const QString &title, const QString &informative)
{
    // A box without a parent of its own is centred over the program's active window, not in
    // the middle of the screen. It lives on the heap: should that window be destroyed while the
    // box waits, the box goes with it and is not deleted a second time here.
    QPointer<QMessageBox> box = new QMessageBox(m_parent ? m_parent : QApplication::activeWindow());
    box->setWindowTitle(title);
    box->setText(text);
    box->setInformativeText(informative);
    switch (icon) {
    case Icon::None:
        box->setIcon(QMessageBox::NoIcon);
        break;
    case Icon::Critical:
        box->setIcon(QMessageBox::Critical);
        break;
    case Icon::Question:
        box->setIcon(QMessageBox::Question);
        break;
    }
    switch (buttons) {
    case Buttons::Ok:
        box->setStandardButtons(QMessageBox::Ok);
        break;
    case Buttons::RetryCancel:
        box->setStandardButtons(QMessageBox::Retry | QMessageBox::Cancel);
        break;
    case Buttons::YesNo:
        box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    }
    const int clicked = box->exec();
    delete box;
    switch (clicked) {
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
    // Escape and the close box answer with the box's escape button (No, Cancel or OK), so only a
    // box destroyed with its window ends here: it counts as the cancelling answer.
    if (buttons == Buttons::YesNo)
        return Answer::No;
    return buttons == Buttons::RetryCancel ? Answer::Cancel : Answer::Ok;
}
