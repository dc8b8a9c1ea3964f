// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/curl/requestaddress.h"

#include <QByteArrayView>

QByteArray requestAddress(const QString &url)
{
    const QByteArray address = url.trimmed().toUtf8();
    const qsizetype scheme = address.indexOf("://");
    qsizetype pathStart = scheme < 0 ? 0 : scheme + 3;
    while (pathStart < address.size() && address.at(pathStart) != '/' &&
           address.at(pathStart) != '?' && address.at(pathStart) != '#')
        ++pathStart;
    QByteArray repaired = address.first(pathStart);
    for (const char c : address.sliced(pathStart)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7f)
            repaired += '%' + QByteArray::number(byte, 16).rightJustified(2, '0').toUpper();
        else
            repaired += c;
    }
    return repaired;
}

TransferAddress transferAddress(const QString &url)
{
    TransferAddress address;
    address.request = requestAddress(url);
    // The host is what stands between the scheme (http when none is written) and the path, less
    // the user name and the port: read here by hand, as libcurl will read it, since a full URL
    // parse for every image would cost more than the rest of the request's set-up.
    const QByteArrayView request(address.request);
    const qsizetype scheme = request.indexOf("://");
    qsizetype start = scheme < 0 ? 0 : scheme + 3;
    qsizetype end = start;
    while (end < request.size() && request.at(end) != '/' && request.at(end) != '?' &&
           request.at(end) != '#')
        ++end;
    QByteArrayView authority = request.sliced(start, end - start);
    if (const qsizetype at = authority.lastIndexOf('@'); at >= 0)
        authority = authority.sliced(at + 1);
    if (authority.startsWith('[')) {
        const qsizetype close = authority.indexOf(']');
        authority = close < 0 ? authority.sliced(1) : authority.sliced(1, close - 1);
    } else if (const qsizetype colon = authority.indexOf(':'); colon >= 0) {
        authority = authority.first(colon);
    }
    address.host = QString::fromUtf8(authority).toLower();
    return address;
}
