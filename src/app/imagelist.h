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
class ImageList : public QListWidget {
    Q_OBJECT
public:
    explicit ImageList(QWidget *parent = nullptr);

    // Appends the entries, lays the list out again and follows the newest one.
    void append(const QStringList &names);

protected:
    void verticalScrollbarValueChanged(int value) override;

private:
    ListScrollBar *m_scrollBar = nullptr;
};
