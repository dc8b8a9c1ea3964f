// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/pagetext.h"

#include <QStringDecoder>

#include <unicode/ucnv.h>
#include <unicode/ucsdet.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <utility>

namespace pagetext {

namespace {

constexpr qsizetype kMetaWindow = 4096;

// How much of an undeclared page the charset detector reads, from its first byte that is not
// plain ASCII. A run of Japanese text this long decides the charset; reading a whole 64 MiB page
// would take seconds.
constexpr qsizetype kDetectWindow = 256 * 1024;

// ICU's confidence (0-100) from which a detected charset is believed. ICU gives 10 to every
// charset that can merely hold the bytes; UTF-8 with a few stray bytes gets exactly 25; a run of
// Shift_JIS, EUC-JP or ISO-2022-JP text with the common characters of the language 70-100. Below
// this line the page is most likely Japanese text too short to tell, which the CP932 fallback
// reads best.
constexpr int32_t kMinConfidence = 25;

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

// The charsets the detector finds by their byte structure and character frequencies. ICU's
// other recognisers (ISO-8859-*, windows-125*, KOI8-R...) guess from letter n-grams and rate a
// few bytes of Japanese text as high as 60 ("\xB6\xC0\xB6\xC5", half-width katakana in CP932,
// comes out as ISO-8859-1), so their answers are not taken.
bool isStructuralCharset(QByteArrayView name)
{
    static constexpr const char *kNames[] = {
        "UTF-8", "Shift_JIS", "EUC-JP",      "ISO-2022-JP", "GB18030",
        "Big5",  "EUC-KR",    "ISO-2022-KR", "ISO-2022-CN",
    };
    return std::any_of(std::begin(kNames), std::end(kNames),
                       [name](const char *known) { return name == known; });
}

// Whether an undeclared page that is not valid UTF-8 is UTF-8 all the same, with a few stray
// bytes (a byte cut off a copied text, a Latin-1 sign pasted in): over the detector's window its
// multi-byte sequences are valid UTF-8 at least this many times for every byte that is not.
// ICU's Shift_JIS recogniser rates such a page above its UTF-8 one, and reading it as CP932
// mangles every character; Japanese text in CP932 or EUC-JP is far from valid UTF-8.
constexpr qsizetype kValidPerInvalid = 8;

bool isMostlyUtf8(const QByteArray &body)
{
    const QByteArrayView window = QByteArrayView(body).first(qMin(body.size(), kDetectWindow));
    const auto continuation = [&](qsizetype i, uchar low = 0x80, uchar high = 0xBF) {
        return i < window.size() && uchar(window.at(i)) >= low && uchar(window.at(i)) <= high;
    };
    qsizetype valid = 0;
    qsizetype invalid = 0;
    for (qsizetype i = 0; i < window.size();) {
        const uchar lead = uchar(window.at(i));
        qsizetype length = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        }
        if (lead >= 0xC2 && lead <= 0xDF)
            length = continuation(i + 1) ? 2 : 0;
        else if (lead >= 0xE0 && lead <= 0xEF)
            length = continuation(i + 1, lead == 0xE0 ? 0xA0 : 0x80, lead == 0xED ? 0x9F : 0xBF) &&
                             continuation(i + 2)
                         ? 3
                         : 0;
        else if (lead >= 0xF0 && lead <= 0xF4)
            length = continuation(i + 1, lead == 0xF0 ? 0x90 : 0x80, lead == 0xF4 ? 0x8F : 0xBF) &&
                             continuation(i + 2) && continuation(i + 3)
                         ? 4
                         : 0;
        if (length > 0) {
            ++valid;
            i += length;
        } else {
            ++invalid;
            ++i;
        }
    }
    return valid > 0 && valid >= kValidPerInvalid * invalid;
}

struct DetectorClose {
    void operator()(UCharsetDetector *detector) const { ucsdet_close(detector); }
};

// The charset ICU's detector finds for an undeclared page, when it is sure enough of it.
std::optional<QStringDecoder> detectedDecoder(const QByteArray &body)
{
    // Leading markup and scripts in ASCII say nothing about the charset.
    qsizetype start = 0;
    while (start < body.size() && uchar(body.at(start)) < 0x80 && body.at(start) != '\x1B')
        ++start;
    const QByteArrayView sample =
        QByteArrayView(body).sliced(start).first(qMin(body.size() - start, kDetectWindow));

    UErrorCode status = U_ZERO_ERROR;
    const std::unique_ptr<UCharsetDetector, DetectorClose> detector(ucsdet_open(&status));
    if (U_FAILURE(status))
        return std::nullopt;
    // Looks at the text between the tags of an HTML page, not at the markup.
    ucsdet_enableInputFilter(detector.get(), true);
    ucsdet_setText(detector.get(), sample.constData(), static_cast<int32_t>(sample.size()),
                   &status);
    int32_t count = 0;
    const UCharsetMatch **matches = ucsdet_detectAll(detector.get(), &count, &status);
    if (U_FAILURE(status))
        return std::nullopt;
    // Best match first.
    for (int32_t i = 0; i < count; ++i) {
        if (ucsdet_getConfidence(matches[i], &status) < kMinConfidence || U_FAILURE(status))
            break;
        QByteArray name = ucsdet_getName(matches[i], &status);
        if (U_FAILURE(status))
            return std::nullopt;
        if (!isStructuralCharset(name))
            continue;
        // Pages detected as Shift_JIS are written in Windows' superset of it.
        if (name == "Shift_JIS")
            name = "windows-31j";
        if (auto decoder = declaredDecoder(name, false))
            return decoder;
    }
    return std::nullopt;
}

struct ConverterClose {
    void operator()(UConverter *converter) const { ucnv_close(converter); }
};

// The body read in a charset, or nothing when a byte sequence in it is not valid there or has
// no character.
std::optional<QString> strictDecode(const QByteArray &body, const char *charset)
{
    UErrorCode status = U_ZERO_ERROR;
    const std::unique_ptr<UConverter, ConverterClose> converter(ucnv_open(charset, &status));
    if (U_FAILURE(status))
        return std::nullopt;
    ucnv_setToUCallBack(converter.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr,
                        &status);
    // None of these charsets takes fewer bytes than UTF-16 units for a character.
    QString text(body.size() + 1, Qt::Uninitialized);
    const int32_t length = ucnv_toUChars(converter.get(), reinterpret_cast<UChar *>(text.data()),
                                         static_cast<int32_t>(text.size()), body.constData(),
                                         static_cast<int32_t>(body.size()), &status);
    if (U_FAILURE(status))
        return std::nullopt;
    text.truncate(length);
    return text;
}

// How Japanese a text reads: first its kana, which nearly every Japanese sentence has, then all
// its Japanese characters (kana, kanji, punctuation, half-width katakana). Japanese text in
// EUC-JP read as CP932 comes out as half-width katakana and odd kanji, without kana.
std::pair<qsizetype, qsizetype> japaneseScore(const QString &text)
{
    qsizetype kana = 0;
    qsizetype japanese = 0;
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u >= 0x3041 && u <= 0x30FF)
            ++kana;
        if ((u >= 0x3000 && u <= 0x30FF) || (u >= 0x3400 && u <= 0x9FFF) ||
            (u >= 0xFF61 && u <= 0xFF9F))
            ++japanese;
    }
    return {kana, japanese};
}

// For an undeclared page the detector is not sure of, most often a few lines of Japanese text:
// the Japanese charset in which the whole body is valid and that reads most like Japanese. On a
// tie the earlier charset of the list is kept.
std::optional<QString> likeliestJapanese(const QByteArray &body)
{
    static constexpr const char *kCharsets[] = {"UTF-8", "windows-31j", "EUC-JP", "ISO-2022-JP"};
    std::optional<QString> best;
    std::pair<qsizetype, qsizetype> bestScore{-1, -1};
    for (const char *charset : kCharsets) {
        std::optional<QString> text = strictDecode(body, charset);
        if (!text)
            continue;
        const auto score = japaneseScore(*text);
        if (score > bestScore) {
            bestScore = score;
            best = std::move(text);
        }
    }
    return best;
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
    const bool validUtf8 = !utf8.hasError();
    // Seven-bit bytes are valid UTF-8, but with escape sequences they may be ISO-2022-JP.
    const bool maybeIso2022 =
        body.contains('\x1B') &&
        std::all_of(body.begin(), body.end(), [](char c) { return uchar(c) < 0x80; });
    if (validUtf8 && !maybeIso2022)
        return text;
    // The stray bytes become U+FFFD.
    if (!validUtf8 && isMostlyUtf8(body))
        return QStringDecoder(QStringConverter::Utf8).decode(body);
    if (auto decoder = detectedDecoder(body))
        return decoder->decode(body);
    if (auto text = likeliestJapanese(body))
        return *std::move(text);
    if (validUtf8)
        return text;
    QStringDecoder cp932("windows-31j");
    return cp932.decode(body);
}

} // namespace pagetext
