// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QListWidget>

class ListScrollBar;

// List1: the file names of the harvested images, one line each. The window adds the entries of
// a harvest in batches, once per frame. The list scrolls along to show the newest entry, until
// the user scrolls up from the end (and again once the end is reached again); while it stays
// where the user left it, a batch that goes below the entries in sight changes only the scroll
// bar, so its layout leaves the viewport unpainted. The scroll bar itself is repainted only when
// its handle moves (ListScrollBar).
//
// Every entry is a line of the same height, so the list's geometry is computed from the row
// number, not laid out: the list view lays out and maps every entry from the first at each batch,
// which made a frame of a long harvest cost more the longer the list grew. The list scrolls by
// whole entries as a list view does, and looks and behaves as one (the same entry rectangles,
// scroll ranges, keys, clicks and drag selection), for its one column, top to bottom, without
// spacing, grid or wrapping. The list view's own layout stays empty: QListWidget::scrollToItem(),
// which goes to it directly, is answered here instead, so call it on an ImageList.
class ImageList : public QListWidget {
    Q_OBJECT
public:
    explicit ImageList(QWidget *parent = nullptr);

    // Appends the entries, lays the list out again and follows the newest one.
    void append(const QStringList &names);

    void scrollToItem(const QListWidgetItem *item, ScrollHint hint = EnsureVisible);

    QRect visualRect(const QModelIndex &index) const override;
    QModelIndex indexAt(const QPoint &point) const override;
    void scrollTo(const QModelIndex &index, ScrollHint hint = EnsureVisible) override;
    void doItemsLayout() override;

protected:
    void verticalScrollbarValueChanged(int value) override;
    void updateGeometries() override;
    int horizontalOffset() const override;
    int verticalOffset() const override;
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    void setSelection(const QRect &rect, QItemSelectionModel::SelectionFlags command) override;
    QRegion visualRegionForSelection(const QItemSelection &selection) const override;
    void scrollContentsBy(int dx, int dy) override;
    void paintEvent(QPaintEvent *event) override;
    bool viewportEvent(QEvent *event) override;
    QSize viewportSizeHint() const override;

private:
    // The row under a point of the viewport, whatever its x, or -1.
    int rowAt(int y) const;
    int rowHeight() const { return qMax(1, m_itemSize.height()); }
    // Whole entries that fit the viewport, at least one.
    int rowsInView() const;

    ListScrollBar *m_scrollBar = nullptr;
    // Every entry's size: the delegate's size of the last entry, as a list view of uniform sizes
    // takes it, found at each layout.
    QSize m_itemSize;
    QPersistentModelIndex m_hover;
};
