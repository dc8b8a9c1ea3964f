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

struct AddressCase {
    const char16_t *typed;
    const char16_t *base;
    const char16_t *ref;
    const char16_t *file;
};

TEST(Address, SplitsTypedAddressesAndNamesFiles)
{
    const AddressCase cases[] = {
        {u"http://host/dir/page.html", u"http://host/dir/", u"img/a.jpg", u"a.jpg"},
        {u"http://host/dir/", u"http://host/dir/", u"c.jpg", u"c.jpg"},
        {u"http://host/dir", u"http://host/", u"c.jpg", u"c.jpg"},
        {u"http://host", u"http://host/", u"http://other/x/d.jpg", u"d.jpg"},
        // Short addresses and addresses without a scheme are split from the 8th character.
        {u"http://a", u"http://a/", u"e.jpg", u"e.jpg"},
        {u"a.b/c/d.htm", u"a.b/c/d.htm/", u"f.jpg", u"f.jpg"},
        {u"", u"/", u"g.jpg", u"g.jpg"},
        // A "/" in the query counts like any other.
        {u"http://host/cgi?u=/x", u"http://host/cgi?u=/", u"h.jpg", u"h.jpg"},
        // Nothing is trimmed from the typed address and its letter case stays.
        {u" HTTP://Host/Dir/x", u" HTTP://Host/Dir/", u"j.jpg", u"j.jpg"},
        // https: the typed address is split after its own two slashes.
        {u"https://host", u"https://host/", u"k.jpg", u"k.jpg"},
        {u"https://h", u"https://h/", u"k.jpg", u"k.jpg"},
        {u"HTTPS://host", u"HTTPS://host/", u"m.jpg", u"m.jpg"},
        // File names: after the last slash, or the whole reference.
        {u"http://host/", u"http://host/", u"a/b/c/deep.jpg", u"deep.jpg"},
        {u"http://host/", u"http://host/", u"x.jpg?y/z.jpg", u"z.jpg"},
        {u"http://host/", u"http://host/", u"'https://cdn/q.jpg", u"q.jpg"},
        // Percent-decoded when that gives a valid UTF-8 name a file can carry (the harvest test
        // shows a Japanese name decoded and one holding "%2F" kept).
        {u"http://host/", u"http://host/", u"p/a%20b.jpg", u"a b.jpg"},
        {u"http://host/", u"http://host/", u"p/a%5Cb.jpg", u"a%5Cb.jpg"},
        {u"http://host/", u"http://host/", u"p/a%00b.jpg", u"a%00b.jpg"},
        {u"http://host/", u"http://host/", u"p/a%C2%9Bb.jpg", u"a%C2%9Bb.jpg"},
        {u"http://host/", u"http://host/", u"p/%82%A0.jpg", u"%82%A0.jpg"},
        {u"http://host/", u"http://host/", u"p/100%.jpg", u"100%.jpg"},
    };
    for (const auto &c : cases) {
        const QString typed = QString::fromUtf16(c.typed);
        const QString ref = QString::fromUtf16(c.ref);
        SCOPED_TRACE(typed.toStdString() + " + " + ref.toStdString());
        EXPECT_EQ(splitBaseAddress(typed), QString::fromUtf16(c.base));
        EXPECT_EQ(imageFileName(ref), QString::fromUtf16(c.file));
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
