// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "harvest/imagefetch.h"

#include <QList>
#include <QMetaObject>
#include <QSet>
#include <QString>

#include <functional>
#include <map>

class UrlTransfer;

// Fetches a harvest's images with up to `count` transfers running, ahead of the image the
// harvest is saving. Transfers start in reference order, and a finished body waits for its turn.
// A transfer that waits to be tried again does not count as running, so one image's retry wait
// does not hold the others up; the images started and not yet taken are never more than
// kAheadPerSlot times `count` (the transfer service bounds the bodies they hold). An address
// already started in this harvest is not started again ahead: by its turn the first transfer of
// that address has ended, and the harvest has its image (if the harvest asks for it all the
// same, it is fetched then). Nor is an image the harvest does not want. When the harvest ends
// (also at a failed image) the transfers still under way are cancelled, so nothing after a
// failed reference is saved. The transfers run side by side with the service's one-at-a-time
// transfers.
class ParallelFetch : public ImageFetch {
public:
    static constexpr int kAheadPerSlot = 8;

    ParallelFetch(UrlTransfer &transfers, int count);
    ~ParallelFetch() override;
    ParallelFetch(const ParallelFetch &) = delete;
    ParallelFetch &operator=(const ParallelFetch &) = delete;

    void begin(qsizetype count, std::function<ImageRequest(qsizetype)> request) override;
    QCoro::Task<QByteArray> take(qsizetype index) override;
    void cancel() override;
    void end() override;

    // Receives the transfer states of each image, with the image's 0-based index.
    void setStateHandler(std::function<void(qsizetype index, qint16 state)> handler);

private:
    // Starts the next images while fewer than count run and the room ahead allows.
    void startMore();
    int start(qsizetype index, const ImageRequest &image);
    void ended(int ticket);

    UrlTransfer &m_transfers;
    int m_count;
    bool m_begun = false;
    qsizetype m_images = 0; // how many the harvest asks for
    std::function<ImageRequest(qsizetype)> m_request;
    qsizetype m_next = 0;               // the next index to start
    qsizetype m_turn = 0;               // the index the harvest takes next
    QSet<int> m_running;                // started, not ended, not waiting to be tried again
    std::map<qsizetype, int> m_tickets; // started and not yet taken: index -> ticket
    std::map<int, qsizetype> m_indexOf; // ticket -> index, for the states
    QSet<QString> m_started;            // addresses started in this harvest
    int m_awaited = 0;                  // the ticket take() waits for, 0 when none
    std::function<void(qsizetype, qint16)> m_onState;
    QMetaObject::Connection m_states;
    QMetaObject::Connection m_retryWaits;
};
