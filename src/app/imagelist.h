// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QListWidget>

// List1: the file names of the harvested images, one line each. The window adds the entries of
// a harvest in batches, once per frame; a batch that goes below the entries in sight changes
// only the scroll bar, so its layout leaves the viewport unpainted.
class ImageList : public QListWidget {
    Q_OBJECT
public:
    explicit ImageList(QWidget *parent = nullptr);

    // Appends the entries and lays the list out again.
    void append(const QStringList &names);
};
