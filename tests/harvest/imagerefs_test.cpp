// SPDX-License-Identifier: GPL-3.0-or-later
#include "harvest/imagerefs.h"

#include <QChar>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

struct ScanCase {
    const char *name;
    const char16_t *page;
    QStringList expected;
};

void expectScan(const ScanCase &c)
{
    SCOPED_TRACE(c.name);
    QStringList refs;
    const qint32 count = ScanImageRefs(QString::fromUtf16(c.page), refs);
    EXPECT_EQ(count, c.expected.size());
    EXPECT_EQ(refs, c.expected);
}

TEST(ScanImageRefs, TakesTheValueAfterSrcAndKeepsJpegs)
{
    const ScanCase cases[] = {
        {"quoted", u"<IMG SRC=\"photo.jpg\">", {u"photo.jpg"_s}},
        {"unquoted ends at >", u"<img src=photo.JPG>", {u"photo.JPG"_s}},
        {"blanks around = and leading slash",
         u"<img src = \"/pics/b.jpg\" alt=\"x\">",
         {u"pics/b.jpg"_s}},
        {"all leading slashes", u"<img src=\"//host/a.jpg\">", {u"host/a.jpg"_s}},
        {"filler of tabs, newlines and quotes", u"src=\t\r\n\"\"/ \"x.jpg\"", {u"x.jpg"_s}},
        {"any letter case of .jpg",
         u"src=a.jpg src=b.Jpg src=c.JPG src=d.jPg",
         {u"a.jpg"_s, u"b.Jpg"_s, u"c.JPG"_s, u"d.jPg"_s}},
        {"own letter case kept", u"<img SrC=\"Images/A.JPG\">", {u"Images/A.JPG"_s}},
        {"absolute reference", u"<img src=\"http://other/x/d.jpg\">", {u"http://other/x/d.jpg"_s}},
        {"inside longer words",
         u"datasrc=a.jpg srcset=b.jpg nosrc=c.jpg",
         {u"a.jpg"_s, u"b.jpg"_s, u"c.jpg"_s}},
        {"anything between src and =",
         u"<img src\n class><p>text</p><a href=\"e.jpg\">",
         {u"e.jpg"_s}},
        {"script value examined and refused",
         u"<script src=\"x.js\"></script><img src=\"d.jpg\">",
         {u"d.jpg"_s}},
        {"running text takes the next value",
         u"the src attribute: <a href=\"f.jpg\">",
         {u"f.jpg"_s}},
        {"duplicates kept in page order",
         u"src=a.jpg src=b.jpg src=a.jpg src=a.jpg",
         {u"a.jpg"_s, u"b.jpg"_s, u"a.jpg"_s, u"a.jpg"_s}},
        {"empty value, scan resumes at >", u"<img src=><img src=g.jpg>", {u"g.jpg"_s}},
        {"run ends at the end of the text", u"src=h.jpg", {u"h.jpg"_s}},
        {"?, #, <, ' and / do not end a run", u"src=a?b#c<d'e/f.jpg", {u"a?b#c<d'e/f.jpg"_s}},
        {"ideographic space trimmed", u"src=\u3000i.jpg\u3000>", {u"i.jpg"_s}},
        {"non-ASCII references", u"<img src=\"写真/ねこ.JPG\">", {u"写真/ねこ.JPG"_s}},
    };
    for (const auto &c : cases)
        expectScan(c);
}

TEST(ScanImageRefs, RefusesValuesThatAreNoPlainJpeg)
{
    const ScanCase cases[] = {
        {"single quotes stay in the value", u"<img src='c.jpg'>", {}},
        {"cut at a space", u"<img src=\"my photo.jpg\">", {}},
        {"cgi in a folder", u"<img src=\"/cgi-bin/counter.jpg\">", {}},
        {"cgi in any case", u"src=photo.CGI.jpg src=x/Cgi/y.jpg src=zcGiz.jpg", {}},
        {"jpeg", u"<img src=\"a.jpeg\">", {}},
        {"query after .jpg", u"<img src=\"a.jpg?v=2\">", {}},
        {"slash after .jpg", u"src=a.jpg/", {}},
        {"other formats", u"src=a.png src=b.gif src=c.jpgx", {}},
        {"too short", u"src=jpg src=.jp", {}},
        {"no src", u"<html><body><p>a.jpg</p></body></html>", {}},
    };
    for (const auto &c : cases)
        expectScan(c);
}

TEST(ScanImageRefs, EndsAtTheEndOfTheText)
{
    const ScanCase cases[] = {
        {"empty", u"", {}},
        {"one character", u"s", {}},
        {"src at the very end", u"abc src", {}},
        {"no = after src", u"src=a.jpg <img src\"b.jpg\">", {u"a.jpg"_s}},
        {"= is the last character", u"src=a.jpg src=", {u"a.jpg"_s}},
        {"only filler after =", u"src=a.jpg src= \"//\t", {u"a.jpg"_s}},
        {"value ends the text after one accepted",
         u"src=a.jpg src=b.jpg",
         {u"a.jpg"_s, u"b.jpg"_s}},
        {"src in the value's terminator region", u"src=\"a.jpg\"src", {u"a.jpg"_s}},
    };
    for (const auto &c : cases)
        expectScan(c);
}

TEST(ScanImageRefs, UpperCaseTwinKeepsEveryPosition)
{
    // Full upper-casing turns "ß" into "SS" and "ﬁ" into "FI"; positions after them would then
    // point elsewhere in the page than in its twin.
    const ScanCase cases[] = {
        {"sharp s before", u"ßßßßsrc=a.jpg", {u"a.jpg"_s}},
        {"ligature before", u"ﬁﬁﬁﬁﬁﬁ<img src=\"b.jpg\">", {u"b.jpg"_s}},
        {"inside the value", u"src=ßﬁß.jpg src=ﬁ.JPG", {u"ßﬁß.jpg"_s, u"ﬁ.JPG"_s}},
        {"many before a second value",
         u"src=a.jpg ßßßßßßßßßßßß src=c.jpg",
         {u"a.jpg"_s, u"c.jpg"_s}},
        {"surrogate pairs", u"😀src=😀.jpg", {u"😀.jpg"_s}},
        {"non-ASCII letters with one-unit capitals", u"ÄÖÜsrc=äöü.jpg", {u"äöü.jpg"_s}},
        {"long s has the twin S", u"ſrc=a.jpg ſRC=b.jpg", {u"a.jpg"_s, u"b.jpg"_s}},
        {"dotless i has the twin I", u"src=cgı/a.jpg src=b.jpg", {u"b.jpg"_s}},
    };
    for (const auto &c : cases)
        expectScan(c);

    struct UpperCase {
        char16_t in;
        char16_t out;
    };
    const UpperCase units[] = {
        {u'a', u'A'}, {u'z', u'Z'}, {u'A', u'A'},   {u'=', u'='},     {u'ä', u'Ä'},
        {u'ß', u'ß'}, {u'ﬁ', u'ﬁ'}, {u'ｓ', u'Ｓ'}, {0xD83D, 0xD83D}, {u'あ', u'あ'},
    };
    for (const auto &u : units)
        EXPECT_EQ(scannerUpper(u.in), u.out) << int(u.in);
}

TEST(ScanImageRefs, OnlyLongSAndDotlessIHaveAsciiTwins)
{
    // The scanner's fast searches rely on this: no other unit outside ASCII has an ASCII twin.
    for (char32_t unit = 0x80; unit <= 0xFFFF; ++unit) {
        const char16_t twin = scannerUpper(char16_t(unit));
        if (twin < 0x80) {
            EXPECT_TRUE(unit == 0x0131 || unit == 0x017F) << std::hex << unsigned(unit);
        }
    }
}

TEST(ScanImageRefs, EveryKernelFindsValuesAtEveryAlignment)
{
    // Reference and padding lengths cross the widths that the searches work in.
    for (const ScanKernel kernel : {ScanKernel::Scalar, ScanKernel::Sse2, ScanKernel::Avx2}) {
        QStringList probe;
        if (!ScanImageRefsWith(kernel, u"", probe))
            continue; // not on this processor
        for (int before = 0; before < 40; ++before) {
            for (int nameLength = 1; nameLength < 40; nameLength += 3) {
                const QString name = QString(nameLength, u'ſ') + u".jpg"_s;
                for (const QString &after :
                     {QString(), u">"_s, u"\"src=x.png "_s + QString(before, u'x')}) {
                    const QString page = QString(before, u'p') + u"ſrC=\""_s + name + after;
                    QStringList refs;
                    ASSERT_EQ(ScanImageRefsWith(kernel, page, refs), 1)
                        << int(kernel) << " " << page.toStdString();
                    ASSERT_EQ(refs, QStringList({name}))
                        << int(kernel) << " " << page.toStdString();
                }
            }
        }
    }
}

struct ListCase {
    const char *name;
    QStringList before;
    const char16_t *page;
    QStringList after;
};

TEST(ScanImageRefs, ReplacesTheListOnlyWhenItAcceptsAny)
{
    const ListCase cases[] = {
        {"nothing accepted leaves an empty list", {}, u"no images", {}},
        {"nothing accepted leaves the previous harvest",
         {u"old1.jpg"_s, u"old2.jpg"_s},
         u"<img src=x.png>",
         {u"old1.jpg"_s, u"old2.jpg"_s}},
        {"a longer list is cut down",
         {u"o1.jpg"_s, u"o2.jpg"_s, u"o3.jpg"_s},
         u"src=n.jpg",
         {u"n.jpg"_s}},
        {"a shorter list grows",
         {u"o1.jpg"_s},
         u"src=n1.jpg src=n2.jpg",
         {u"n1.jpg"_s, u"n2.jpg"_s}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QStringList refs = c.before;
        const qint32 count = ScanImageRefs(QString::fromUtf16(c.page), refs);
        EXPECT_EQ(refs, c.after);
        EXPECT_EQ(count, c.after == c.before ? 0 : c.after.size());
    }
}

TEST(ScanImageRefs, HasNoSixteenBitLimits)
{
    // More references than a 16-bit count holds.
    const int many = 40000;
    QString page;
    for (int i = 0; i < many; ++i)
        page += QStringLiteral("<img src=%1.jpg>").arg(i);
    QStringList refs;
    EXPECT_EQ(ScanImageRefs(page, refs), many);
    ASSERT_EQ(refs.size(), many);
    EXPECT_EQ(refs.first(), u"0.jpg"_s);
    EXPECT_EQ(refs.last(), QStringLiteral("%1.jpg").arg(many - 1));

    // A run longer than 32767 characters, accepted or not, followed by more references.
    const QString longName = QString(70000, u'n') + u".jpg"_s;
    const QString longOther = QString(40000, u'x');
    refs.clear();
    EXPECT_EQ(ScanImageRefs(u"src="_s + longName + u" src="_s + longOther + u" src=z.jpg"_s, refs),
              2);
    ASSERT_EQ(refs.size(), 2);
    EXPECT_EQ(refs[0], longName);
    EXPECT_EQ(refs[1], u"z.jpg"_s);
}

} // namespace
