// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/urltransfer.h"

QCoro::Task<TransferReply> UrlTransfer::transfer(QString url, qint32 dataType, QString referer,
                                                 Lane lane)
{
    const int ticket = startTransfer(url, dataType, referer, lane);
    co_return co_await finishTransfer(ticket);
}
