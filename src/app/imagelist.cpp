// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/imagelist.h"

#include <QScrollBar>

ImageList::ImageList(QWidget *parent) : QListWidget(parent)
{
    // Every entry is one line of text: the view need not measure each entry.
    setUniformItemSizes(true);
}

void ImageList::append(const QStringList &names)
{
    if (names.isEmpty())
        return;
    // A layout something else asked for is done first, with the repaint it asks for.
    executeDelayedItemsLayout();
    // The list follows its newest entry, unless the user has scrolled up from the end.
    const QScrollBar *bar = verticalScrollBar();
    const bool following = bar->value() == bar->maximum();
    const int last = count() - 1;
    const bool belowView =
        last >= 0 && visualRect(model()->index(last, 0)).bottom() >= viewport()->height() - 1;
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
}
