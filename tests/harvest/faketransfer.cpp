// SPDX-License-Identifier: GPL-3.0-or-later
#include "faketransfer.h"

int FakeTransfer::startTransfer(const QString &url, qint32 dataType, const QString &, Lane lane,
                                int)
{
    requested.append(url);
    if (m_busy && lane == Lane::OneAtATime)
        throw TransferError(QStringLiteral("a transfer is already under way"));
    m_busy = lane == Lane::OneAtATime;
    m_started.insert(++m_lastTicket, {url, dataType});
    return m_lastTicket;
}

QCoro::Task<TransferReply> FakeTransfer::finishTransfer(int ticket)
{
    const Started started = m_started.take(ticket);
    struct Idle {
        bool &busy;
        ~Idle() { busy = false; }
    } idle{m_busy};

    if (const auto hook = m_hooks.value(started.url))
        hook();
    if (m_cancelled.remove(ticket))
        throw TransferError(QStringLiteral("cancelled"));
    const auto it = m_bodies.constFind(started.url);
    if (it == m_bodies.constEnd())
        throw TransferError(QStringLiteral("404 Not Found: ") + started.url);
    TransferReply reply;
    reply.finalUrl = started.url;
    if (started.dataType == icByteArray)
        reply.bytes =
            it->typeId() == QMetaType::QByteArray ? it->toByteArray() : it->toString().toUtf8();
    else
        reply.text = it->typeId() == QMetaType::QString ? it->toString()
                                                        : QString::fromUtf8(it->toByteArray());
    co_return reply;
}
