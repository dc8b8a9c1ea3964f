// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/imagelist.h"

#include <QEvent>

#include <utility>

namespace {
// Entries in sight are shown by the next frame. Entries added below the shown ones change
// only the scroll bar, and laying out the list costs time in proportion to all its entries:
// those are laid out a few times a second.
constexpr int frameMilliseconds = 16;
constexpr int outOfSightMilliseconds = 100;
} // namespace

ImageList::ImageList(QWidget *parent) : QListWidget(parent)
{
    // Every entry is one line of text: the view need not measure each entry.
    setUniformItemSizes(true);
    m_frame.setSingleShot(true);
    connect(&m_frame, &QTimer::timeout, this, &ImageList::layOutAdded);
}

void ImageList::layOutAdded()
{
    if (m_first < 0)
        return;
    m_frame.stop();
    // A layout something else asked for is done first, with the repaint it asks for.
    executeDelayedItemsLayout();
    const int first = std::exchange(m_first, -1);
    const bool belowView = reachesBottom(first - 1);
    QListWidget::rowsInserted(QModelIndex(), first, m_last);
    if (belowView) {
        // Entries added out of sight change nothing the viewport shows, only the scroll bars:
        // the layout's repaint of every shown entry is left out. (Not setUpdatesEnabled(),
        // which repaints the whole viewport when updates are enabled again.)
        viewport()->setAttribute(Qt::WA_UpdatesDisabled);
        executeDelayedItemsLayout();
        viewport()->setAttribute(Qt::WA_UpdatesDisabled, false);
    } else {
        executeDelayedItemsLayout();
    }
}

bool ImageList::reachesBottom(int row) const
{
    return row >= 0 &&
           QListWidget::visualRect(model()->index(row, 0)).bottom() >= viewport()->height() - 1;
}

QRect ImageList::visualRect(const QModelIndex &index) const
{
    const_cast<ImageList *>(this)->layOutAdded();
    return QListWidget::visualRect(index);
}

QModelIndex ImageList::indexAt(const QPoint &point) const
{
    const_cast<ImageList *>(this)->layOutAdded();
    return QListWidget::indexAt(point);
}

void ImageList::scrollTo(const QModelIndex &index, ScrollHint hint)
{
    layOutAdded();
    QListWidget::scrollTo(index, hint);
}

void ImageList::rowsInserted(const QModelIndex &parent, int start, int end)
{
    // Entries are only ever appended to this flat list; anything else is passed on at once.
    if (parent.isValid() || (m_first >= 0 && start != m_last + 1)) {
        layOutAdded();
        QListWidget::rowsInserted(parent, start, end);
        return;
    }
    if (m_first < 0)
        m_first = start;
    m_last = end;
    if (!m_frame.isActive())
        m_frame.start(reachesBottom(start - 1) ? outOfSightMilliseconds : frameMilliseconds);
}

void ImageList::rowsAboutToBeRemoved(const QModelIndex &parent, int start, int end)
{
    layOutAdded();
    QListWidget::rowsAboutToBeRemoved(parent, start, end);
}

void ImageList::reset()
{
    // The view starts again from the model: nothing is pending any more.
    m_first = -1;
    m_frame.stop();
    QListWidget::reset();
}

bool ImageList::event(QEvent *event)
{
    // The list's own paint event draws only its frame, under the scroll bar whenever the scroll
    // bar is repainted; laying out there would move the scroll bar and repaint it again, every
    // frame.
    if (event->type() != QEvent::Paint)
        layOutAdded();
    return QListWidget::event(event);
}

bool ImageList::viewportEvent(QEvent *event)
{
    layOutAdded();
    return QListWidget::viewportEvent(event);
}
