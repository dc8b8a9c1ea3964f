// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/curl/requestaddress.h"

#include <QUrl>

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
    const QString request = QString::fromUtf8(address.request);
    const QUrl parsed(request.contains(u"://") ? request : QStringLiteral("http://") + request);
    address.host = parsed.host().toLower();
    return address;
}
