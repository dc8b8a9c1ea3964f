// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// One image to fetch: its address and the Referer it is asked for with (empty for none).
struct ImageRequest {
    QString url;
    QString referer;
};

// Where the page harvest gets its images from when it does not fetch them one by one itself.
// The harvest still saves and lists them, in reference order, by its own rules.
class ImageFetch {
public:
    virtual ~ImageFetch() = default;

    // The harvest is going to ask for these images, in this order.
    virtual void begin(const QList<ImageRequest> &images) = 0;
    // The bytes of images[index]. Asked for once per index, in order, after begin; throws
    // TransferError when that image cannot be downloaded (the harvest may go on with the next
    // index).
    virtual QByteArray take(qsizetype index) = 0;
    // The harvest has ended, done or failed: nothing more is taken.
    virtual void end() = 0;
};
