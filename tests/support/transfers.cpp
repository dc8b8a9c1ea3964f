// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfers.h"

#include "awaittask.h"

#include <QCoro/QCoroTask>
#include <QScopeGuard>

#include <map>

namespace {

// The transfer each service's OpenURL waits for.
std::map<const UrlTransfer *, int> &openTickets()
{
    static std::map<const UrlTransfer *, int> tickets;
    return tickets;
}

} // namespace

QVariant OpenURL(UrlTransfer &service, const QString &url, qint32 dataType)
{
    const int ticket = service.startTransfer(url, dataType);
    auto &tickets = openTickets();
    const auto outer = tickets.find(&service);
    const int previous = outer == tickets.end() ? 0 : outer->second;
    tickets[&service] = ticket;
    const auto restore = qScopeGuard([&service, previous] {
        if (previous)
            openTickets()[&service] = previous;
        else
            openTickets().erase(&service);
    });
    TransferReply reply = finish(service, ticket);
    if (dataType == UrlTransfer::icByteArray)
        return QVariant(std::move(reply.bytes));
    return QVariant(std::move(reply.text));
}

QString openText(UrlTransfer &service, const QString &url)
{
    return OpenURL(service, url, UrlTransfer::icString).toString();
}

QByteArray openBytes(UrlTransfer &service, const QString &url)
{
    return OpenURL(service, url, UrlTransfer::icByteArray).toByteArray();
}

void cancelOpen(UrlTransfer &service)
{
    if (const auto found = openTickets().find(&service); found != openTickets().end())
        service.cancelTransfer(found->second);
}

TransferReply finish(UrlTransfer &service, int ticket)
{
    return awaitTask(service.finishTransfer(ticket));
}
