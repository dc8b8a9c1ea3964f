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
    const char16_t *fetched;
    const char16_t *file;
};

TEST(Address, JoinsTypedAddressesAndReferences)
{
    const AddressCase cases[] = {
        // How addresses and references combine on a page.
        {u"http://host/dir/page.html", u"http://host/dir/", u"img/a.jpg",
         u"http://host/dir/img/a.jpg", u"a.jpg"},
        {u"http://host/dir/page.html", u"http://host/dir/", u"images/b.JPG",
         u"http://host/dir/images/b.JPG", u"b.JPG"},
        {u"http://host/dir/", u"http://host/dir/", u"c.jpg", u"http://host/dir/c.jpg", u"c.jpg"},
        {u"http://host/dir", u"http://host/", u"c.jpg", u"http://host/c.jpg", u"c.jpg"},
        {u"http://host", u"http://host/", u"http://other/x/d.jpg", u"http://other/x/d.jpg",
         u"d.jpg"},
        // Short addresses and addresses without a scheme are split from the 8th character.
        {u"http://a", u"http://a/", u"e.jpg", u"http://a/e.jpg", u"e.jpg"},
        {u"a.b/c/d.htm", u"a.b/c/d.htm/", u"f.jpg", u"a.b/c/d.htm/f.jpg", u"f.jpg"},
        {u"", u"/", u"g.jpg", u"/g.jpg", u"g.jpg"},
        // A "/" in the query counts like any other.
        {u"http://host/cgi?u=/x", u"http://host/cgi?u=/", u"h.jpg", u"http://host/cgi?u=/h.jpg",
         u"h.jpg"},
        // Upper-case schemes in references are relative.
        {u"http://host/p.html", u"http://host/", u"HTTP://other/i.jpg",
         u"http://host/HTTP://other/i.jpg", u"i.jpg"},
        {u"http://host/p.html", u"http://host/", u"Http://other/i.jpg",
         u"http://host/Http://other/i.jpg", u"i.jpg"},
        // Nothing is trimmed from the typed address and its letter case stays.
        {u" HTTP://Host/Dir/x", u" HTTP://Host/Dir/", u"j.jpg", u" HTTP://Host/Dir/j.jpg",
         u"j.jpg"},
        // https: references in lower case are absolute, and the typed address is split after
        // its own two slashes.
        {u"https://host", u"https://host/", u"k.jpg", u"https://host/k.jpg", u"k.jpg"},
        {u"https://h", u"https://h/", u"k.jpg", u"https://h/k.jpg", u"k.jpg"},
        {u"https://host/dir/p.html", u"https://host/dir/", u"https://cdn/x/l.jpg",
         u"https://cdn/x/l.jpg", u"l.jpg"},
        {u"HTTPS://host", u"HTTPS://host/", u"m.jpg", u"HTTPS://host/m.jpg", u"m.jpg"},
        {u"http://host/", u"http://host/", u"HTTPS://cdn/n.jpg", u"http://host/HTTPS://cdn/n.jpg",
         u"n.jpg"},
        // File names: after the last slash, or the whole reference.
        {u"http://host/", u"http://host/", u"a/b/c/deep.jpg", u"http://host/a/b/c/deep.jpg",
         u"deep.jpg"},
        {u"http://host/", u"http://host/", u"x.jpg?y/z.jpg", u"http://host/x.jpg?y/z.jpg",
         u"z.jpg"},
        {u"http://host/", u"http://host/", u"../up.jpg", u"http://host/../up.jpg", u"up.jpg"},
    };
    for (const auto &c : cases) {
        const QString typed = QString::fromUtf16(c.typed);
        const QString ref = QString::fromUtf16(c.ref);
        SCOPED_TRACE(typed.toStdString() + " + " + ref.toStdString());
        const QString base = splitBaseAddress(typed);
        EXPECT_EQ(base, QString::fromUtf16(c.base));
        EXPECT_EQ(imageAddress(base, ref), QString::fromUtf16(c.fetched));
        EXPECT_EQ(imageFileName(ref), QString::fromUtf16(c.file));
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
