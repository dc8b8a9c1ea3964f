// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QListWidget>
#include <QTimer>

// List1: the file names of the harvested images. A list view lays out all its entries again
// whenever one is added, and the harvest adds one per image, so that a long harvest would spend
// most of its time there. This list tells its view about added entries at most once per frame
// (a few times a second while they are added below the entries in sight, which they leave as
// they are), and at once whenever the view is asked about them (painting, input, positions of
// entries).
class ImageList : public QListWidget {
    Q_OBJECT
public:
    explicit ImageList(QWidget *parent = nullptr);

    // Brings the view up to date with the entries added since it last heard of them.
    void layOutAdded();

    QRect visualRect(const QModelIndex &index) const override;
    QModelIndex indexAt(const QPoint &point) const override;
    void scrollTo(const QModelIndex &index, ScrollHint hint = EnsureVisible) override;

protected:
    void rowsInserted(const QModelIndex &parent, int start, int end) override;
    void rowsAboutToBeRemoved(const QModelIndex &parent, int start, int end) override;
    void reset() override;
    bool event(QEvent *event) override;
    bool viewportEvent(QEvent *event) override;

private:
    // Whether the entry in this row, as the view last laid it out, reaches the bottom of the
    // viewport or beyond (false for a row before the first). Entries are one below the other,
    // so the entries after such a row are out of sight.
    bool reachesBottom(int row) const;

    QTimer m_frame;
    int m_first = -1; // first entry the view has not heard of yet, or -1
    int m_last = -1;
};
