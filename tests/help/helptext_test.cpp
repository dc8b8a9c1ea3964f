// SPDX-License-Identifier: GPL-3.0-or-later
#include "help/helptext.h"

#include "platform/codepage.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

TEST(HelpText, LinesEndAtCrLfOrALoneCrAndEachIsShownWithCrLf)
{
    struct Case {
        const char *name;
        QByteArray file;
        QString shown;
    };
    const Case cases[] = {
        {"empty file", "", u""_s},
        {"three CR LF lines", "a\r\nb\r\nc\r\n", u"a\r\nb\r\nc\r\n"_s},
        {"last line without line end", "a\r\nb\r\nc", u"a\r\nb\r\nc\r\n"_s},
        {"one line, no line end", "abc", u"abc\r\n"_s},
        {"lone CR ends a line", "a\rb\rc", u"a\r\nb\r\nc\r\n"_s},
        {"LF only: one line", "a\nb\nc\n", u"a\nb\nc\n\r\n"_s},
        {"LF at the start stays", "\nx", u"\nx\r\n"_s},
        {"LF after a CR LF starts the next line", "a\r\n\nb\r\n", u"a\r\n\nb\r\n"_s},
        {"CR CR LF: an empty line between", "a\r\r\nb", u"a\r\n\r\nb\r\n"_s},
        {"LF CR: the LF stays in the first line", "a\n\rb", u"a\n\r\nb\r\n"_s},
        {"only a line end", "\r\n", u"\r\n"_s},
        {"only a CR", "\r", u"\r\n"_s},
        {"blank lines kept", "\r\n\r\n", u"\r\n\r\n"_s},
        {"spaces and tabs kept", "  a\t \r\n", u"  a\t \r\n"_s},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(helpTextFromCp932(c.file), c.shown);
    }
}

TEST(HelpText, DecodesCp932)
{
    // "ヘルプ" and a half-width katakana line, with a lead byte whose trail byte is 0x5C ("\").
    const QString text = u"ヘルプ表示\r\nｶﾀｶﾅ\r\n"_s;
    const QByteArray bytes = codepage::toCp932(text);
    ASSERT_NE(bytes.indexOf('\\'), -1); // "表" is 0x95 0x5C
    EXPECT_EQ(helpTextFromCp932(bytes), text);
    EXPECT_EQ(helpTextFromCp932(codepage::toCp932(u"末尾なし"_s)), u"末尾なし\r\n"_s);
}

} // namespace
