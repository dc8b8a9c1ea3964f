// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/statusline.h"

#include <QPainter>
#include <QStyle>

StatusLine::StatusLine(QWidget *parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    // The line fills its own background, so a new text repaints this line alone, not the status
    // bar and the window beneath it.
    setAutoFillBackground(true);
}

void StatusLine::setText(const QString &text)
{
    if (text == m_text)
        return;
    m_text = text;
    update();
}

void StatusLine::setAlignment(Qt::Alignment alignment)
{
    m_alignment = alignment;
    update();
}

QSize StatusLine::sizeHint() const
{
    return QSize(0, fontMetrics().height());
}

QSize StatusLine::minimumSizeHint() const
{
    return sizeHint();
}

void StatusLine::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    // A text wider than the line is cut at its right end, as a label cuts it.
    style()->drawItemText(&painter, rect(), m_alignment | Qt::AlignVCenter | Qt::TextSingleLine,
                          palette(), isEnabled(), m_text, QPalette::WindowText);
}
