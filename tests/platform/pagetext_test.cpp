// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/pagetext.h"

#include "platform/codepage.h"

#include <QStringEncoder>

#include <gtest/gtest.h>

namespace {

const QString kJapanese = QStringLiteral("画像を取り込み\\~ <a href=\"x.jpg\">");

QByteArray utf16le(const QString &s, bool bom)
{
    QByteArray out = bom ? QByteArray("\xFF\xFE", 2) : QByteArray();
    for (QChar c : s) {
        out.append(char(c.unicode() & 0xFF));
        out.append(char(c.unicode() >> 8));
    }
    return out;
}

QByteArray utf16be(const QString &s)
{
    QByteArray out("\xFE\xFF", 2);
    for (QChar c : s) {
        out.append(char(c.unicode() >> 8));
        out.append(char(c.unicode() & 0xFF));
    }
    return out;
}

QByteArray eucJp(const QString &s)
{
    QStringEncoder encoder("EUC-JP");
    return encoder.encode(s);
}

QByteArray iso2022Jp(const QString &s)
{
    QStringEncoder encoder("ISO-2022-JP");
    return encoder.encode(s);
}

QByteArray padding(qsizetype n)
{
    return QByteArray(n, ' ');
}

struct Case {
    const char *name;
    QByteArray contentType;
    QByteArray body;
    QString expected;
};

void PrintTo(const Case &c, std::ostream *os)
{
    *os << c.name;
}

class DecodeTest : public ::testing::TestWithParam<Case> {};

TEST_P(DecodeTest, PicksTheCharset)
{
    const Case &c = GetParam();
    EXPECT_EQ(pagetext::decode(c.body, c.contentType), c.expected);
}

const QByteArray kSjis = codepage::toCp932(kJapanese);
const QByteArray kUtf8 = kJapanese.toUtf8();
const QByteArray kMetaSjis = "<meta charset=\"Shift_JIS\">";
const QString kMetaSjisText = QStringLiteral("<meta charset=\"Shift_JIS\">");

// A page with a few sentences of Japanese: enough text for a charset detector to go by.
const QString kPage = QStringLiteral("<html><head><title>写真集</title></head><body>"
                                     "<p>今日は晴れです。庭の花を撮りました。</p>"
                                     "<img src=\"写真/花.jpg\"></body></html>");
const qsizetype kStrayAt = kPage.indexOf(u"<p>");
const QByteArray kUtf8Stray =
    kPage.left(kStrayAt).toUtf8() + QByteArray("\xA0") + kPage.mid(kStrayAt).toUtf8();
const QString kUtf8StrayText =
    kPage.left(kStrayAt) + QChar::ReplacementCharacter + kPage.mid(kStrayAt);

const QString kShortPage = QStringLiteral("<p>トップページへ戻る</p>\n");

// A long page of Japanese text in UTF-8 with one stray byte at a place.
const QString kLongPage =
    QStringLiteral("<p>") +
    QStringLiteral("今日は良い天気ですね。私は東京に住んでいます。写真を撮るのが好きです。")
        .repeated(20) +
    QStringLiteral("</p><img src=\"写真.jpg\">");
Case strayByteAt(const char *name, qsizetype at)
{
    return Case{name, "text/html",
                kLongPage.left(at).toUtf8() + QByteArray("\xFF") + kLongPage.mid(at).toUtf8(),
                kLongPage.left(at) + QChar::ReplacementCharacter + kLongPage.mid(at)};
}

INSTANTIATE_TEST_SUITE_P(
    Charsets, DecodeTest,
    ::testing::Values(
        Case{"HeaderShiftJis", "text/html; charset=Shift_JIS", kSjis, kJapanese},
        Case{"HeaderQuotedUpperCase", "text/html; CHARSET=\"shift_jis\"", kSjis, kJapanese},
        Case{"HeaderEucJp", "text/html;charset=EUC-JP", eucJp(kJapanese), kJapanese},
        Case{"HeaderBeatsMeta", "text/html; charset=utf-8", kMetaSjis + kUtf8,
             kMetaSjisText + kJapanese},
        Case{"HeaderUtf16", "text/plain; charset=utf-16le", utf16le(kJapanese, false), kJapanese},
        Case{"UnknownHeaderFallsToUtf8", "text/html; charset=x-nonsense", kUtf8, kJapanese},
        Case{"UnknownHeaderFallsToCp932", "text/html; charset=x-nonsense", kSjis, kJapanese},
        Case{"NotAsciiCompatibleHeaderIgnored", "text/html; charset=IBM037", kUtf8, kJapanese},
        Case{"BomUtf8", "text/html", QByteArray("\xEF\xBB\xBF") + kUtf8, kJapanese},
        Case{"BomUtf16Le", "", utf16le(kJapanese, true), kJapanese},
        Case{"BomUtf16Be", "", utf16be(kJapanese), kJapanese},
        Case{"BomBeatsMeta", "", QByteArray("\xEF\xBB\xBF") + kMetaSjis + kUtf8,
             kMetaSjisText + kJapanese},
        Case{"MetaCharset", "text/html", kMetaSjis + kSjis, kMetaSjisText + kJapanese},
        Case{"MetaHttpEquiv", "",
             "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=x-sjis\">" + kSjis,
             QStringLiteral("<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; "
                            "charset=x-sjis\">") +
                 kJapanese},
        Case{"MetaNearTheEndOfTheWindow", "", padding(4096 - 30) + kMetaSjis + kSjis,
             QString(4096 - 30, QLatin1Char(' ')) + kMetaSjisText + kJapanese},
        Case{"MetaBeyondTheWindowIgnored", "", padding(4096) + kMetaSjis + kUtf8,
             QString(4096, QLatin1Char(' ')) + kMetaSjisText + kJapanese},
        Case{"MetaUtf16MeansUtf8", "", "<meta charset=utf-16>" + kUtf8,
             QStringLiteral("<meta charset=utf-16>") + kJapanese},
        Case{"NotAMetaTag", "", "<metadata charset=\"Shift_JIS\">" + kUtf8,
             QStringLiteral("<metadata charset=\"Shift_JIS\">") + kJapanese},
        Case{"ValidUtf8", "text/html", kUtf8, kJapanese},
        Case{"InvalidUtf8IsCp932", "text/html", kSjis, kJapanese},
        Case{"Utf8WithAStrayByteIsUtf8", "text/html", kUtf8Stray, kUtf8StrayText},
        strayByteAt("StrayByteAtTheStart", 0), strayByteAt("StrayByteInTheText", 200),
        strayByteAt("StrayByteInATag", kLongPage.indexOf(u"src")),
        strayByteAt("StrayByteAtTheEnd", kLongPage.size()),
        Case{"UndeclaredEucJp", "text/html", eucJp(kPage), kPage},
        Case{"UndeclaredIso2022Jp", "", iso2022Jp(kPage), kPage},
        // A line too short for the detector, which CP932 reads as half-width katakana.
        Case{"ShortUndeclaredEucJp", "text/html", eucJp(kShortPage), kShortPage},
        // "<p>" then CP932 for a kanji whose first byte starts a UTF-8 sequence.
        Case{"Utf8CutOffAtTheEndIsCp932", "text/html", QByteArray("<p>\xE8\x89"),
             QStringLiteral("<p>濶")},
        Case{"HalfWidthKatakanaIsCp932", "", QByteArray("\xB6\xC0\xB6\xC5"),
             QStringLiteral("ｶﾀｶﾅ")},
        Case{"AsciiStandsAsSent", "", QByteArray("a\\b~c\x7F\t\r\n"),
             QStringLiteral("a\\b~c\x7F\t\r\n")},
        Case{"Empty", "text/html; charset=Shift_JIS", QByteArray(), QString()}),
    [](const ::testing::TestParamInfo<Case> &info) { return std::string(info.param.name); });

TEST(ContentTypeCharset, ReadsTheParameter)
{
    const std::pair<const char *, const char *> cases[] = {
        {"text/html; charset=Shift_JIS", "Shift_JIS"},
        {"text/html;charset=\"EUC-JP\" ; q=1", "EUC-JP"},
        {"text/html; format=flowed; Charset = utf-8 ", "utf-8"},
        {"text/html", ""},
        {"text/html; charsetx=utf-8", ""},
        {"", ""},
    };
    for (const auto &[header, charset] : cases)
        EXPECT_EQ(pagetext::charsetFromContentType(header), QByteArray(charset)) << header;
}

TEST(MetaCharset, FindsBothFormsInTheFirst4KiB)
{
    const std::pair<QByteArray, const char *> cases[] = {
        {"<head><meta charset=euc-jp></head>", "euc-jp"},
        {"<meta\tcharset = 'Shift_JIS' />", "shift_jis"},
        {"<meta name=x><meta http-equiv=content-type content='text/html;charset=sjis'>", "sjis"},
        {"<meta name=\"charset\">", ""},
        {"<p>charset=utf-8</p>", ""},
        {padding(4100) + "<meta charset=euc-jp>", ""},
    };
    for (const auto &[html, charset] : cases)
        EXPECT_EQ(pagetext::charsetFromMeta(html), QByteArray(charset)) << html.left(80).data();
}

} // namespace
