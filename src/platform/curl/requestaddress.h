// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

// The address as libcurl takes it: without surrounding white space, in UTF-8, and with spaces
// and control characters after the host percent-encoded, as browsers send them (an image named
// "my photo.jpg" is found, and so is one whose reference holds a DEL; a space in the host still
// makes the address bad). libcurl's own URL parser refuses control characters even when asked
// to encode, and writes a space in the query as "+", so this stays our own.
QByteArray requestAddress(const QString &url);

// A transfer's address, read once when the transfer starts and carried with it: what libcurl
// is asked for, and the host it goes to (lower case; empty when there is none). An address
// without a scheme is http, as libcurl reads it.
struct TransferAddress {
    QByteArray request;
    QString host;
};
TransferAddress transferAddress(const QString &url);
