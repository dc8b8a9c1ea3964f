// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/statusline.h"

#include <QPainter>
#include <QStyle>

namespace {
// A harvest changes the text a dozen times per image, far faster than anyone reads: the line
// shows the newest text at most this often, and the last one always.
constexpr int repaintMilliseconds = 50;
} // namespace

StatusLine::StatusLine(QWidget *parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    // The line fills its own background, so a new text repaints this line alone, not the status
    // bar and the window beneath it.
    setAutoFillBackground(true);
    m_repaint.setSingleShot(true);
    connect(&m_repaint, &QTimer::timeout, this, qOverload<>(&QWidget::update));
}

void StatusLine::setText(const QString &text)
{
    if (text == m_text)
        return;
    m_text = text;
    // One request for a repaint is enough until it has been answered.
    if (m_repaintPending || !isVisible())
        return;
    m_repaintPending = true;
    const qint64 since = m_lastPaint.isValid() ? m_lastPaint.elapsed() : repaintMilliseconds;
    if (since >= repaintMilliseconds)
        update();
    else
        m_repaint.start(int(repaintMilliseconds - since));
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
    m_repaintPending = false;
    m_repaint.stop();
    m_lastPaint.start();
    QPainter painter(this);
    // A text wider than the line is cut at its right end, as a label cuts it.
    style()->drawItemText(&painter, rect(), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                          palette(), isEnabled(), m_text, QPalette::WindowText);
}
