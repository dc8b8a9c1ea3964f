// SPDX-License-Identifier: GPL-3.0-or-later
#include "harvest/parallelfetch.h"

#include "platform/urltransfer.h"

#include <QScopeGuard>

ParallelFetch::ParallelFetch(UrlTransfer &transfers, int count)
    : m_transfers(transfers), m_count(qMax(1, count))
{
}

ParallelFetch::~ParallelFetch()
{
    end();
}

void ParallelFetch::setStateHandler(std::function<void(qsizetype index, qint16 state)> handler)
{
    m_onState = std::move(handler);
}

void ParallelFetch::begin(qsizetype count, std::function<ImageRequest(qsizetype)> request)
{
    end();
    m_begun = true;
    m_images = count;
    m_request = std::move(request);
    m_next = 0;
    m_turn = 0;
    m_states = QObject::connect(
        &m_transfers, &UrlTransfer::StateChanged, &m_transfers, [this](int ticket, qint16 state) {
            const auto found = m_indexOf.find(ticket);
            if (found == m_indexOf.end())
                return;
            if (m_onState)
                m_onState(found->second, state);
            if (state == UrlTransfer::icResponseCompleted || state == UrlTransfer::icError)
                ended(ticket);
        });
    m_retryWaits = QObject::connect(&m_transfers, &UrlTransfer::RetryWaiting, &m_transfers,
                                    [this](int ticket, bool waiting) {
                                        if (!m_indexOf.count(ticket))
                                            return;
                                        if (!waiting) {
                                            m_running.insert(ticket);
                                            return;
                                        }
                                        ended(ticket);
                                    });
}

void ParallelFetch::ended(int ticket)
{
    if (m_running.remove(ticket))
        startMore();
}

int ParallelFetch::start(qsizetype index, const ImageRequest &image)
{
    const int ticket = m_transfers.startTransfer(image.url, UrlTransfer::icByteArray, image.referer,
                                                 UrlTransfer::Lane::SideBySide);
    m_started.insert(image.url);
    m_tickets[index] = ticket;
    m_indexOf[ticket] = index;
    m_running.insert(ticket);
    return ticket;
}

void ParallelFetch::startMore()
{
    const qsizetype end = qMin(m_images, m_turn + qsizetype(m_count) * kAheadPerSlot);
    while (m_next < end && m_running.size() < m_count) {
        const ImageRequest image = m_request(m_next);
        if (image.wanted && !m_started.contains(image.url))
            start(m_next, image);
        ++m_next;
    }
}

QCoro::Task<QByteArray> ParallelFetch::take(qsizetype index)
{
    // The images before index have been taken: their places go to the next ones.
    m_turn = index;
    startMore();
    if (index >= m_next)
        throw TransferError(QStringLiteral("image %1 was not asked for in turn").arg(index + 1));
    // Not started ahead (its address was, or the harvest did not want it): it is wanted now.
    if (!m_tickets.count(index))
        start(index, m_request(index));
    const auto found = m_tickets.find(index);
    const int ticket = found->second;
    m_tickets.erase(found);
    m_awaited = ticket;
    const auto forget = qScopeGuard([this, ticket] {
        m_awaited = 0;
        m_indexOf.erase(ticket);
        m_running.remove(ticket);
    });
    co_return (co_await m_transfers.finishTransfer(ticket)).bytes;
}

void ParallelFetch::cancel()
{
    // Nothing more starts once the harvest is stopped.
    m_images = qMin(m_images, m_next);
    if (m_awaited != 0)
        m_transfers.cancelTransfer(m_awaited);
}

void ParallelFetch::end()
{
    if (!std::exchange(m_begun, false))
        return;
    // The ends of the transfers cancelled here start no others.
    m_images = 0;
    while (!m_tickets.empty()) {
        const int ticket = m_tickets.begin()->second;
        m_tickets.erase(m_tickets.begin());
        m_transfers.cancelTransfer(ticket);
        m_indexOf.erase(ticket);
    }
    m_running.clear();
    QObject::disconnect(m_states);
    QObject::disconnect(m_retryWaits);
    m_started.clear();
    m_request = nullptr;
}
