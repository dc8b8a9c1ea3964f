// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/codepage.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace codepage {

QString fromCp932(const QByteArray &bytes)
{
    QStringDecoder decoder("windows-31j");
    return decoder.decode(bytes);
}

QByteArray toCp932(const QString &text)
{
    QStringEncoder encoder("windows-31j");
    return encoder.encode(text);
}

bool survivesCp932(const QString &text)
{
    return fromCp932(toCp932(text)) == text;
}

int cp932CharLength(unsigned char b)
{
    return ((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC)) ? 2 : 1;
}

} // namespace codepage
