// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/output.h"

#include <QByteArray>

using namespace Qt::StringLiterals;

namespace {

bool needsEscape(char32_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029 || c == 0x061C ||
           c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069);
}

} // namespace

QString terminalSafe(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (!needsEscape(u))
            out += c;
        else if (u <= 0xFF)
            out += u"\\x"_s + QString::number(u, 16).toUpper().rightJustified(2, u'0');
        else
            out += u"\\u"_s + QString::number(u, 16).toUpper().rightJustified(4, u'0');
    }
    return out;
}

void writeText(std::FILE *file, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), file);
}

void writeLine(std::FILE *file, const QString &text)
{
    writeText(file, terminalSafe(text) + u'\n');
}
