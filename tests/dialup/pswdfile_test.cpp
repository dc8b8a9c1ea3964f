// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialup/pswdfile.h"
#include "platform/filewriter.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <vector>

namespace {

void writeRaw(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

QByteArray readRaw(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST(PswdFile, EncodesCp932LinesEndingInCrLf)
{
    EXPECT_EQ(pswdfile::encode({QStringLiteral("会社"), QStringLiteral("user"),
                                QStringLiteral("p w"), QStringLiteral("ON")}),
              QByteArray("\x89\xef\x8e\xd0\r\nuser\r\np w\r\nON\r\n"));
    EXPECT_EQ(pswdfile::encode({QString(), QString()}), QByteArray("\r\n\r\n"));
}

TEST(PswdFile, WriteReplacesFileReadableByOwnerOnly)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Pswd.dat"));
    const QString elsewhere = dir.filePath(QStringLiteral("target"));
    writeRaw(elsewhere, "keep");
    ASSERT_TRUE(QFile::link(elsewhere, path));

    pswdfile::write(path, {QStringLiteral("OFF"), QStringLiteral("OFF"), QStringLiteral("OFF"),
                           QStringLiteral("OFF")});
    EXPECT_EQ(readRaw(path), QByteArray("OFF\r\nOFF\r\nOFF\r\nOFF\r\n"));
    EXPECT_FALSE(QFileInfo(path).isSymLink());
    EXPECT_EQ(readRaw(elsewhere), QByteArray("keep")); // the link was replaced, not followed
    EXPECT_EQ(QFile::permissions(path), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                            QFileDevice::ReadUser | QFileDevice::WriteUser);

    // A file where a folder of the path should be.
    EXPECT_THROW(pswdfile::write(dir.filePath(QStringLiteral("target/harvix/Pswd.dat")), {}),
                 FileWriteError);
}

TEST(PswdReader, ReadsLinesWithAnyLineEnd)
{
    struct Case {
        const char *name;
        QByteArray content;
        std::vector<const char *> lines; // what the reads give (UTF-8); fewer than four means
                                         // that the next read fails
    } cases[] = {
        {"CR LF", "a\r\nb\r\nc\r\nON\r\n", {"a", "b", "c", "ON"}},
        {"LF only, last line unterminated", "a\nb\n\nON", {"a", "b", "", "ON"}},
        {"CR only", "a\rb\rc\rd\r", {"a", "b", "c", "d"}},
        {"more than four lines", "1\r\n2\r\n3\r\n4\r\n5\r\n", {"1", "2", "3", "4"}},
        {"trailing blank kept", "x\r\ny\r\nz\r\nON \r\n", {"x", "y", "z", "ON "}},
        {"CP932", "\x89\xef\x8e\xd0\r\n", {"会社"}},
        {"two lines", "a\r\nb\r\n", {"a", "b"}},
        {"empty file", "", {}},
    };
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Pswd.dat"));
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        writeRaw(path, c.content);
        PswdReader reader(path);
        ASSERT_TRUE(reader.open());
        QString line;
        for (const auto &expected : c.lines) {
            ASSERT_TRUE(reader.readLine(&line));
            EXPECT_EQ(line, QString::fromUtf8(expected));
        }
        if (c.lines.size() < 4) {
            EXPECT_FALSE(reader.readLine(&line));
            EXPECT_EQ(reader.error(),
                      QStringLiteral("ファイルの終わりを超えて読み込もうとしました。"));
        }
        reader.close();
    }
}

TEST(PswdReader, MissingFileFailsToOpenAndEveryReadFails)
{
    QTemporaryDir dir;
    PswdReader reader(dir.filePath(QStringLiteral("Pswd.dat")));
    EXPECT_FALSE(reader.open());
    EXPECT_EQ(reader.error(), QStringLiteral("ファイルが見つかりません。"));
    QString line = QStringLiteral("untouched");
    EXPECT_FALSE(reader.readLine(&line));
    EXPECT_EQ(reader.error(), QStringLiteral("ファイルが開かれていません。"));
    EXPECT_EQ(line, QStringLiteral("untouched"));
    reader.close(); // closing the unopened file is harmless
}

} // namespace
