// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/codepage.h"

#include <gtest/gtest.h>

namespace {

TEST(Codepage, RoundTripsJapaneseAndKeepsAscii)
{
    const QString texts[] = {
        QStringLiteral("接続が完了しました。"),
        QStringLiteral("ｶﾀｶﾅ and ASCII \\ ~ !"),
        QStringLiteral("①Ⅰ～－"), // characters only the Windows code page has
        QString(),
    };
    for (const QString &text : texts) {
        const QByteArray bytes = codepage::toCp932(text);
        EXPECT_EQ(codepage::fromCp932(bytes), text) << text.toStdString();
    }
    EXPECT_EQ(codepage::toCp932(QStringLiteral("\\~")), QByteArray("\\~"));
    EXPECT_EQ(codepage::toCp932(QStringLiteral("接")), QByteArray("\x90\xDA"));
    EXPECT_EQ(codepage::fromCp932(QByteArray("\x82\xA0\xB1")), QStringLiteral("あｱ"));
}

TEST(Codepage, SurvivesOnlyWhatComesBackUnchanged)
{
    const std::pair<QString, bool> cases[] = {
        {QStringLiteral("会社 pass ｶﾅ①～"), true}, {QStringLiteral("pa😀ss"), false},
        {QStringLiteral("café"), false},           {QStringLiteral("𠮷野家"), false},
        {QStringLiteral("a\u301Cb"), false}, // the wave dash input methods type; CP932 reads U+FF5E
        {QStringLiteral("a\u200Bb"), false},       {QStringLiteral("\uFEFFab"), false},
    };
    for (const auto &[text, survives] : cases)
        EXPECT_EQ(codepage::survivesCp932(text), survives) << text.toStdString();
}

TEST(Codepage, CharLengthFollowsTheLeadByte)
{
    const std::pair<unsigned char, int> cases[] = {
        {0x00, 1}, {0x41, 1}, {0x7F, 1}, {0x80, 1}, {0x81, 2}, {0x9F, 2}, {0xA0, 1},
        {0xA1, 1}, {0xDF, 1}, {0xE0, 2}, {0xFC, 2}, {0xFD, 1}, {0xFF, 1},
    };
    for (const auto &[lead, length] : cases)
        EXPECT_EQ(codepage::cp932CharLength(lead), length) << int(lead);
}

} // namespace
