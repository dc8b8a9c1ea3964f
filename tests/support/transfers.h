// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/urltransfer.h"

#include <QVariant>

// A test's own wait for transfers: the service's coroutines run to their end with the event
// loop running (QCoro::waitFor), as the program's harvest awaits them.

// One OneAtATime transfer from start to end: the body as a QString (icString) or a QByteArray
// (icByteArray). Throws TransferError on any failure.
QVariant OpenURL(UrlTransfer &service, const QString &url, qint32 dataType = UrlTransfer::icString);
QString openText(UrlTransfer &service, const QString &url);
QByteArray openBytes(UrlTransfer &service, const QString &url);
// Stops the transfer that OpenURL waits for on service; OpenURL then fails. Nothing when idle.
void cancelOpen(UrlTransfer &service);
// Awaits the end of one transfer already started.
TransferReply finish(UrlTransfer &service, int ticket);
