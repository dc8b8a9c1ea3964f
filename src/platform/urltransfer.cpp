// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/urltransfer.h"

#include <QPointer>
#include <QScopeGuard>

QVariant UrlTransfer::OpenURL(const QString &url, qint32 dataType)
{
    const int ticket = startTransfer(url, dataType);
    const int outer = std::exchange(m_openTicket, ticket);
    // A receiver of the states may destroy the service while it waits.
    const QPointer<UrlTransfer> alive(this);
    const auto restore = qScopeGuard([this, alive, outer] {
        if (alive)
            m_openTicket = outer;
    });
    TransferReply reply = finishTransfer(ticket);
    if (dataType == icByteArray)
        return QVariant(std::move(reply.bytes));
    return QVariant(std::move(reply.text));
}

void UrlTransfer::Cancel()
{
    if (m_openTicket != 0)
        cancelTransfer(m_openTicket);
}
