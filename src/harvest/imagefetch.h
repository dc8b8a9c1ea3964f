// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <QCoro/QCoroTask>

#include <functional>

// One image to fetch: its address and the Referer it is asked for with (empty for none).
// wanted is false for an image the harvest expects not to fetch (its file is kept): a fetch
// does not start it ahead, and starts it only if it is taken all the same.
struct ImageRequest {
    QString url;
    QString referer;
    bool wanted = true;
};

// Where the page harvest gets its images from when it does not fetch them one by one itself.
// The harvest still saves and lists them, in reference order, by its own rules.
class ImageFetch {
public:
    virtual ~ImageFetch() = default;

    // The harvest is going to ask for count images, in order; request(i) makes the address and
    // Referer of image i (a page may hold millions of references: each is made only when its
    // transfer is about to start). request stays valid until end().
    virtual void begin(qsizetype count, std::function<ImageRequest(qsizetype)> request) = 0;
    // The bytes of images[index], once they are here. Asked for at most once per index, in
    // order, after begin (an image the harvest has already, at an address it fetched before or
    // in a file it keeps, is not asked for); fails with TransferError when that image cannot be
    // downloaded (the harvest may go on with the next index).
    virtual QCoro::Task<QByteArray> take(qsizetype index) = 0;
    // Stops the transfer that take() waits for: that take() fails.
    virtual void cancel() = 0;
    // The harvest has ended, done or failed: nothing more is taken.
    virtual void end() = 0;
};
