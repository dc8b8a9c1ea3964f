// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/imagelist.h"

#include "app/listscrollbar.h"

#include <QScrollBar>

ImageList::ImageList(QWidget *parent) : QListWidget(parent)
{
    // Every entry is one line of text: the view need not measure each entry.
    setUniformItemSizes(true);
    m_scrollBar = new ListScrollBar(this);
    setVerticalScrollBar(m_scrollBar);
    // The scroll area moves its own connections to the new bar, the item view does not.
    connect(m_scrollBar, &QScrollBar::valueChanged, this,
            &ImageList::verticalScrollbarValueChanged);
    connect(m_scrollBar, &QScrollBar::actionTriggered, this, &ImageList::verticalScrollbarAction);
}

void ImageList::verticalScrollbarValueChanged(int value)
{
    // The view asks the window system where the pointer is at each scroll, to mark the entry
    // under it: a round trip to the X server at every frame the list follows its newest entry
    // during a harvest. Only a pointer over the entries can be over one of them.
    if (viewport()->underMouse())
        QListWidget::verticalScrollbarValueChanged(value);
}

void ImageList::append(const QStringList &names)
{
    if (names.isEmpty())
        return;
    // A layout something else asked for is done first, with the repaint it asks for.
    executeDelayedItemsLayout();
    // The list follows its newest entry, unless the user has scrolled up from the end.
    const bool following = m_scrollBar->value() == m_scrollBar->maximum();
    const int last = count() - 1;
    const bool belowView =
        last >= 0 && visualRect(model()->index(last, 0)).bottom() >= viewport()->height() - 1;
    // The scroll bar's range grows and then its value follows: it is repainted once at the end, if
    // it looks different then.
    m_scrollBar->holdChanges();
    addItems(names);
    if (belowView && !following) {
        // Laying out the list repaints every entry shown, and none of them has changed. (Not
        // setUpdatesEnabled(), which repaints the whole viewport when updates are enabled again.)
        viewport()->setAttribute(Qt::WA_UpdatesDisabled);
        executeDelayedItemsLayout();
        viewport()->setAttribute(Qt::WA_UpdatesDisabled, false);
    } else {
        executeDelayedItemsLayout();
    }
    if (following)
        scrollToBottom();
    m_scrollBar->releaseChanges();
}
