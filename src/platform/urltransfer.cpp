// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/urltransfer.h"

#include <QScopeGuard>

QVariant UrlTransfer::OpenURL(const QString &url, qint32 dataType)
{
    const int ticket = startTransfer(url, dataType);
    const int outer = std::exchange(m_openTicket, ticket);
    const auto restore = qScopeGuard([this, outer] { m_openTicket = outer; });
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
