// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/qt/qtprompter.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>

namespace {

// Room the box takes beside its informative text: its margins, and the icon column.
constexpr int kBoxFrame = 80;

// The informative text is plain text (an address may hold "<" or "&"), and its lines (an
// address, a folder) each stand on one line: the label is as wide as its longest line, up to
// the widest box QMessageBox makes on this screen (wider still, it wraps anywhere).
void fitInformativeText(QMessageBox &box, const QString &informative)
{
    auto *label = box.findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel"));
    if (!label)
        return;
    label->setTextFormat(Qt::PlainText);
    int widest = 0;
    for (const QString &line : informative.split(QLatin1Char('\n')))
        widest = qMax(widest, label->fontMetrics().horizontalAdvance(line));
    const QScreen *screen = box.screen();
    const int screenWidth = screen ? screen->availableGeometry().width() : 1024;
    // QMessageBox's own limit to its width.
    const int boxLimit = screenWidth <= 1024 ? screenWidth : qMin(screenWidth - 480, 1000);
    label->setMinimumWidth(qMin(widest + 1, boxLimit - kBoxFrame));
}

} // namespace

Prompter::Answer QtPrompter::MsgBox(const QString &text, Buttons buttons, Icon icon,
                                    const QString &title, const QString &informative,
                                    const QString &detailed)
{
    // A box without a parent of its own is centred over the program's active window, not in
    // the middle of the screen. It lives on the heap: should that window be destroyed while the
    // box waits, the box goes with it and is not deleted a second time here.
    QPointer<QMessageBox> box = new QMessageBox(m_parent ? m_parent : QApplication::activeWindow());
    box->setWindowTitle(title);
    box->setText(text);
    box->setInformativeText(informative);
    if (!informative.isEmpty())
        fitInformativeText(*box, informative);
    box->setDetailedText(detailed);
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
