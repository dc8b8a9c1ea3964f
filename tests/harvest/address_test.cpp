// SPDX-License-Identifier: GPL-3.0-or-later
#include "harvest/address.h"
#include "harvest/statetexts.h"

#include <gtest/gtest.h>

namespace {

struct SlashCase {
    const char16_t *text;
    qsizetype start;
    qsizetype expected;
};

TEST(LastSlashPosition, FindsTheLastSlashAtOrAfterStart)
{
    const SlashCase cases[] = {
        {u"a/b/c", 1, 4},
        {u"a/b/c", 4, 4},
        {u"a/b/c", 5, 0}, // not longer than the start position
        {u"abc/", 4, 0},  // a slash in the last position is missed from there...
        {u"abc/", 3, 4},  // ...but found by a search that starts before it
        {u"/", 1, 0},
        {u"", 1, 0},
        {u"http://host", 8, 0},
        {u"http://host/", 8, 12},
        {u"http://h/x/y.html", 8, 11},
        {u"no slash here", 1, 0},
    };
    for (const auto &c : cases) {
        const QString text = QString::fromUtf16(c.text);
        EXPECT_EQ(lastSlashPosition(text, c.start), c.expected)
            << text.toStdString() << " from " << c.start;
    }
}

TEST(Address, NamesFiles)
{
    const struct {
        const char16_t *ref;
        const char16_t *file;
    } cases[] = {
        {u"img/a.jpg", u"a.jpg"},
        {u"c.jpg", u"c.jpg"},
        {u"http://other/x/d.jpg", u"d.jpg"},
        // File names: after the last slash, or the whole reference.
        {u"a/b/c/deep.jpg", u"deep.jpg"},
        {u"x.jpg?y/z.jpg", u"z.jpg"},
        {u"'https://cdn/q.jpg", u"q.jpg"},
        // Percent-decoded when that gives a valid UTF-8 name a file can carry (the harvest test
        // shows a Japanese name decoded and one holding "%2F" kept).
        {u"p/a%20b.jpg", u"a b.jpg"},
        {u"p/a%5Cb.jpg", u"a%5Cb.jpg"},
        {u"p/a%00b.jpg", u"a%00b.jpg"},
        {u"p/a%C2%9Bb.jpg", u"a%C2%9Bb.jpg"},
        {u"p/%82%A0.jpg", u"%82%A0.jpg"},
        {u"p/100%.jpg", u"100%.jpg"},
        // Invisible format characters keep the name as written.
        {u"p/%EF%BB%BFa.jpg", u"%EF%BB%BFa.jpg"},
        {u"p/a%E2%80%8Bb.jpg", u"a%E2%80%8Bb.jpg"},
        // Character references are decoded first: "&#x2F;" is a slash, and a "%" written as
        // "&#37;" is percent-decoding's like any other.
        {u"&#x2F;&#x2F;static.example.de&#x2F;uploads&#x2F;a.jpg", u"a.jpg"},
        {u"p/caf&eacute;&#37;20x.jpg", u"café x.jpg"},
    };
    for (const auto &c : cases) {
        const QString ref = QString::fromUtf16(c.ref);
        EXPECT_EQ(imageFileName(ref), QString::fromUtf16(c.file)) << ref.toStdString();
    }
}

TEST(Address, DecodesCharacterReferencesAsInAnAttributeValue)
{
    const struct {
        const char16_t *value;
        const char16_t *decoded;
    } cases[] = {
        // Numeric, decimal and hexadecimal, with or without ";"; "&#" without a digit is text.
        {u"&#x2F;&#X2f&#47;&#47a&#;&#x;&#xg", u"////a&#;&#x;&#xg"},
        {u"&#x1F600;&#128512", u"\U0001F600\U0001F600"},
        // 0, surrogates and code points beyond U+10FFFF (also after overflowing digits) give
        // U+FFFD; 0x80-0x9F are the Windows-1252 characters, where that code page has one.
        {u"&#0;&#xD800;&#xDFFF;&#x110000;&#99999999999999999999;",
         u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
        {u"&#x80;&#150;&#x9F;&#x81;&#x9D;", u"\u20AC\u2013\u0178\u0081\u009D"},
        // Named references of the whole table, case-sensitive, one or two code points, also
        // beyond U+FFFF.
        {u"a.jpg?w=1&amp;h=2&AMP;&Amp;&colon;", u"a.jpg?w=1&h=2&&Amp;:"},
        {u"&NotEqualTilde;&Afr;&CounterClockwiseContourIntegral;", u"\u2242\u0338\U0001D504\u2233"},
        // Old names go without ";" unless "=", a letter or a digit follows; other names need it.
        {u"caf&eacute.jpg&copy", u"café.jpg©"},
        {u"?a=1&copy=2&copyx&not1&notin&notin;&hellip&hellip;",
         u"?a=1&copy=2&copyx&not1&notin\u2209&hellip\u2026"},
        {u"&&amp;&foo;& &#", u"&&&foo;& &#"},
    };
    for (const auto &c : cases) {
        const QString value = QString::fromUtf16(c.value);
        EXPECT_EQ(decodeCharacterReferences(value), QString::fromUtf16(c.decoded))
            << value.toStdString();
    }
}

TEST(Address, RefererFollowsStrictOriginWhenCrossOrigin)
{
    struct Case {
        const char *page;
        const char *image;
        const char *referer;
    };
    const Case cases[] = {
        {"http://u:pw@host/dir/p.html?q=1#top", "http://host:80/a.jpg",
         "http://host/dir/p.html?q=1"},
        {"https://host/p.html", "https://host:443/a.jpg", "https://host/p.html"},
        {"http://host/dir/p.html", "http://cdn.host/a.jpg", "http://host/"},
        {"http://host/p.html", "https://host/a.jpg", "http://host/"},
        {"https://host/p.html", "https://cdn/a.jpg", "https://host/"},
        {"file:///tmp/p.html", "http://host/a.jpg", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.page) + " -> " + c.image);
        EXPECT_EQ(refererFor(QUrl(QString::fromLatin1(c.page)), QUrl(QString::fromLatin1(c.image))),
                  QString::fromLatin1(c.referer));
    }
}

TEST(StateText, CoversExactlyTheStatesZeroToTwelve)
{
    ASSERT_TRUE(stateText(0).has_value());
    EXPECT_TRUE(stateText(0)->isEmpty());
    for (int state = 1; state <= 12; ++state) {
        ASSERT_TRUE(stateText(state).has_value()) << state;
        EXPECT_TRUE(stateText(state)->endsWith(u'．')) << state;
    }
    EXPECT_EQ(*stateText(12), QStringLiteral("要求処理が完了し，すべてのデータが受信されました．"));
    for (int state : {-1, 13, 255, 32767, -32768})
        EXPECT_FALSE(stateText(state).has_value()) << state;
}

} // namespace
