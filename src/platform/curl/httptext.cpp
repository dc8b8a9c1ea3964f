// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/curl/httptext.h"

#include <QStringDecoder>

#include <optional>

namespace httptext {

namespace {

constexpr qsizetype kMetaWindow = 4096;

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

QByteArrayView trimmed(QByteArrayView v)
{
    while (!v.isEmpty() && isSpace(v.front()))
        v = v.sliced(1);
    while (!v.isEmpty() && isSpace(v.back()))
        v.chop(1);
    return v;
}

bool isCharsetNameChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.' || c == ':' || c == '+';
}

bool isWideUnicode(const char *name)
{
    const QByteArrayView n(name);
    return n.startsWith("UTF-16") || n.startsWith("UTF-32");
}

// A decoder for a declared charset, or nothing when the name is unknown or the charset would
// change ASCII bytes (which the page's markup and addresses are written in). UTF-16 and UTF-32
// are taken only when the server itself declares them: a <meta> that could be read as ASCII
// cannot be right about them, and the page is then read as UTF-8 as browsers do.
std::optional<QStringDecoder> declaredDecoder(const QByteArray &name, bool fromHeader)
{
    QStringDecoder probe(name.constData());
    if (!probe.isValid())
        return std::nullopt;
    if (isWideUnicode(probe.name())) {
        if (fromHeader)
            return QStringDecoder(name.constData());
        return QStringDecoder(QStringConverter::Utf8);
    }
    QByteArray ascii;
    ascii.reserve(0x7F - 0x20 + 3);
    ascii.append("\t\n\r");
    for (char c = 0x20; c < 0x7F; ++c)
        ascii.append(c);
    if (QString(probe.decode(ascii)) != QLatin1StringView(ascii))
        return std::nullopt;
    return QStringDecoder(name.constData());
}

} // namespace

QByteArray charsetFromContentType(QByteArrayView contentType)
{
    qsizetype start = contentType.indexOf(';');
    while (start >= 0) {
        qsizetype end = contentType.indexOf(';', start + 1);
        const QByteArrayView param = trimmed(
            contentType.sliced(start + 1, (end < 0 ? contentType.size() : end) - start - 1));
        const qsizetype eq = param.indexOf('=');
        if (eq > 0 && trimmed(param.first(eq)).compare("charset", Qt::CaseInsensitive) == 0) {
            QByteArrayView value = trimmed(param.sliced(eq + 1));
            if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                value.back() == value.front())
                value = value.sliced(1, value.size() - 2);
            return trimmed(value).toByteArray();
        }
        start = end;
    }
    return {};
}

QByteArray charsetFromMeta(QByteArrayView html)
{
    const QByteArray lower = html.first(qMin(html.size(), kMetaWindow)).toByteArray().toLower();
    qsizetype pos = 0;
    while ((pos = lower.indexOf("<meta", pos)) >= 0) {
        pos += 5;
        if (pos < lower.size() && !isSpace(lower.at(pos)) && lower.at(pos) != '/')
            continue; // "<metadata" and the like
        qsizetype tagEnd = lower.indexOf('>', pos);
        if (tagEnd < 0)
            tagEnd = lower.size();
        qsizetype at = pos;
        while ((at = lower.indexOf("charset", at)) >= 0 && at < tagEnd) {
            at += 7;
            qsizetype i = at;
            while (i < tagEnd && isSpace(lower.at(i)))
                ++i;
            if (i >= tagEnd || lower.at(i) != '=')
                continue;
            ++i;
            while (i < tagEnd &&
                   (isSpace(lower.at(i)) || lower.at(i) == '"' || lower.at(i) == '\''))
                ++i;
            qsizetype nameEnd = i;
            while (nameEnd < tagEnd && isCharsetNameChar(lower.at(nameEnd)))
                ++nameEnd;
            if (nameEnd > i)
                return lower.sliced(i, nameEnd - i);
        }
        pos = tagEnd;
    }
    return {};
}

QString decode(const QByteArray &body, QByteArrayView contentType)
{
    if (const QByteArray name = charsetFromContentType(contentType); !name.isEmpty()) {
        if (auto decoder = declaredDecoder(name, true))
            return decoder->decode(body);
    }
    if (const auto bom = QStringConverter::encodingForData(body)) {
        QStringDecoder decoder(*bom);
        return decoder.decode(body);
    }
    if (const QByteArray name = charsetFromMeta(body); !name.isEmpty()) {
        if (auto decoder = declaredDecoder(name, false))
            return decoder->decode(body);
    }
    // Stateless: a sequence cut off at the end of the body counts as an error too, so a CP932
    // page ending in a kanji is not taken for UTF-8.
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = utf8.decode(body);
    if (!utf8.hasError())
        return text;
    QStringDecoder cp932("windows-31j");
    return cp932.decode(body);
}

} // namespace httptext
