// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/curl/cookiefile.h"

#include <algorithm>

namespace {

bool isFlag(const QByteArray &field)
{
    return field == "TRUE" || field == "FALSE";
}

bool isNumber(const QByteArray &field)
{
    if (field.isEmpty())
        return false;
    for (const char c : field) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

// Whether a field holds a byte that would end or bend the header it goes into: NUL, CR, LF
// and the other control characters.
bool holdsControl(const QByteArray &field)
{
    return std::any_of(field.cbegin(), field.cend(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    });
}

} // namespace

std::optional<QList<QByteArray>> readNetscapeCookies(const QByteArray &content, QString &error)
{
    if (content.size() > kMaxCookieFileSize) {
        error = QStringLiteral("larger than %1 bytes").arg(QString::number(kMaxCookieFileSize));
        return std::nullopt;
    }
    QList<QByteArray> cookies;
    const QList<QByteArray> lines = content.split('\n');
    for (qsizetype number = 0; number < lines.size(); ++number) {
        QByteArray line = lines.at(number);
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.trimmed().isEmpty() || (line.startsWith('#') && !line.startsWith("#HttpOnly_")))
            continue;
        const QList<QByteArray> fields = line.split('\t');
        const auto bad = [&](const char *why) {
            error = QStringLiteral("line %1: %2")
                        .arg(QString::number(number + 1), QString::fromUtf8(why));
            return std::nullopt;
        };
        // A cookie without a value may lack the last field.
        if (fields.size() != 7 && fields.size() != 6)
            return bad("not seven fields separated by tabs");
        if (fields.at(0).isEmpty() || fields.at(0) == "#HttpOnly_")
            return bad("no domain");
        if (!isFlag(fields.at(1)) || !isFlag(fields.at(3)))
            return bad("the second and fourth fields must be TRUE or FALSE");
        if (!isNumber(fields.at(4)))
            return bad("the expiry is not a number");
        if (fields.at(5).isEmpty())
            return bad("no cookie name");
        if (std::any_of(fields.cbegin(), fields.cend(), holdsControl))
            return bad("a control character (NUL, CR, LF...) in a field");
        if (fields.at(5).size() > kMaxCookieFieldSize ||
            (fields.size() == 7 && fields.at(6).size() > kMaxCookieFieldSize))
            return bad("a name or value longer than 4096 bytes");
        if (cookies.size() == kMaxCookies)
            return bad("more than 10000 cookies");
        cookies.append(line);
    }
    return cookies;
}
