// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/imagelist.h"

#include <utility>

namespace {
constexpr int frameMilliseconds = 16;
}

ImageList::ImageList(QWidget *parent) : QListWidget(parent)
{
    // Every entry is one line of text: the view need not measure each entry.
    setUniformItemSizes(true);
    m_frame.setSingleShot(true);
    m_frame.setInterval(frameMilliseconds);
    connect(&m_frame, &QTimer::timeout, this, &ImageList::layOutAdded);
}

void ImageList::layOutAdded()
{
    if (m_first < 0)
        return;
    m_frame.stop();
    const int first = std::exchange(m_first, -1);
    QListWidget::rowsInserted(QModelIndex(), first, m_last);
    executeDelayedItemsLayout();
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
        m_frame.start();
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
    layOutAdded();
    return QListWidget::event(event);
}

bool ImageList::viewportEvent(QEvent *event)
{
    layOutAdded();
    return QListWidget::viewportEvent(event);
}
