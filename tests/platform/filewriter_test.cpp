// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/filewriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "testfiles.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                  QDir::NoDotAndDotDot);
}

TEST(WriteFileAtomically, WritesExactlyTheBytesAndReplacesAnOldFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("画像.jpg"));
    QByteArray bytes;
    for (int i = 0; i < 70000; ++i)
        bytes.append(char(i * 31));
    writeFileAtomically(path, bytes);
    EXPECT_EQ(readFile(path), bytes);

    writeFileAtomically(path, QByteArray("\0short", 6));
    EXPECT_EQ(readFile(path), QByteArray("\0short", 6));
    writeFileAtomically(path, QByteArray());
    EXPECT_EQ(readFile(path), QByteArray());
    EXPECT_EQ(entries(dir.path()), QStringList{QStringLiteral("画像.jpg")});
}

TEST(WriteFileAtomically, ReplacesASymbolicLinkInsteadOfFollowingIt)
{
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("elsewhere.txt"));
    writeFileAtomically(target, "precious");
    const QString link = dir.filePath(QStringLiteral("a.jpg"));
    ASSERT_TRUE(QFile::link(target, link));

    writeFileAtomically(link, "image");
    EXPECT_FALSE(QFileInfo(link).isSymLink());
    EXPECT_EQ(readFile(link), QByteArray("image"));
    EXPECT_EQ(readFile(target), QByteArray("precious"));
}

TEST(WriteFileAtomically, SetsThePermissions)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Pswd.dat"));
    writeFileAtomically(path, "x", QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    EXPECT_EQ(QFileInfo(path).permissions() &
                  (QFileDevice::ReadGroup | QFileDevice::ReadOther | QFileDevice::WriteOther),
              QFileDevice::Permissions());
    EXPECT_TRUE(QFileInfo(path).permissions() & QFileDevice::ReadOwner);
}

TEST(WriteFileAtomically, FollowsTheUsersCreationMask)
{
    QTemporaryDir dir;
    const mode_t old = ::umask(077);
    const QString path = dir.filePath(QStringLiteral("a.jpg"));
    writeFileAtomically(path, "x"); // images ask for rw-r--r--
    ::umask(old);
    EXPECT_EQ(QFileInfo(path).permissions() &
                  (QFileDevice::ReadGroup | QFileDevice::ReadOther | QFileDevice::WriteOther),
              QFileDevice::Permissions());
    EXPECT_TRUE(QFileInfo(path).permissions() & QFileDevice::WriteOwner);
}

TEST(WriteFileAtomically, FailureThrowsAndLeavesNothingBehind)
{
    QTemporaryDir dir;
    // A missing folder.
    EXPECT_THROW(writeFileAtomically(dir.filePath(QStringLiteral("no/such/a.jpg")), "x"),
                 FileWriteError);
    // A name the folder cannot take: a folder already stands there.
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("taken")));
    EXPECT_THROW(writeFileAtomically(dir.filePath(QStringLiteral("taken")), "x"), FileWriteError);
    // An empty file name.
    EXPECT_THROW(writeFileAtomically(dir.path() + QStringLiteral("/"), "x"), FileWriteError);
    EXPECT_EQ(entries(dir.path()), QStringList{QStringLiteral("taken")});
    EXPECT_TRUE(entries(dir.filePath(QStringLiteral("taken"))).isEmpty());
}

} // namespace
