// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/listscrollbar.h"

#include <QStyle>
#include <QStyleOptionSlider>

#include <utility>

ListScrollBar::ListScrollBar(QWidget *parent) : QScrollBar(Qt::Vertical, parent) {}

void ListScrollBar::holdChanges()
{
    m_held = true;
}

void ListScrollBar::releaseChanges()
{
    m_held = false;
    if (std::exchange(m_changedWhileHeld, false) && look() != m_painted)
        update();
}

ListScrollBar::Look ListScrollBar::look() const
{
    QStyleOptionSlider option;
    initStyleOption(&option);
    return Look{
        style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this),
        option.sliderPosition <= option.minimum, option.sliderPosition >= option.maximum};
}

bool ListScrollBar::transient() const
{
    return style()->styleHint(QStyle::SH_ScrollBar_Transient, nullptr, this);
}

void ListScrollBar::sliderChange(SliderChange change)
{
    if (change == SliderOrientationChange || transient()) {
        QScrollBar::sliderChange(change);
    } else if (m_held) {
        m_changedWhileHeld = true;
    } else if (look() != m_painted) {
        QScrollBar::sliderChange(change);
    }
}

void ListScrollBar::paintEvent(QPaintEvent *event)
{
    m_painted = look();
    QScrollBar::paintEvent(event);
}
