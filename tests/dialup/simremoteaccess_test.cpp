// SPDX-License-Identifier: GPL-3.0-or-later
#include "simremoteaccess.h"

#include <QCoro/QCoroTask>

#include <gtest/gtest.h>

namespace {

unsigned char *bytes(QByteArray &b)
{
    return reinterpret_cast<unsigned char *>(b.data());
}

QByteArray record(int size, quint32 sizeField)
{
    QByteArray r(size, '\0');
    raslayout::writeU32(bytes(r), sizeField);
    return r;
}

// The service answers a caller's mistakes with the codes of the real one.
TEST(SimRemoteAccess, WrongSizeFieldGives632InItsOwnFamily)
{
    struct Case {
        quint32 family;
        quint32 entrySize, dialSize, connSize;
    } cases[] = {{2, 264, 1052, 412}, {1, 28, 736, 32}};
    for (const auto &c : cases) {
        SimRemoteAccess sim(c.family);
        sim.setEntries({QStringLiteral("a")});
        QByteArray entries = record(300 * 256, c.entrySize);
        quint32 size = quint32(entries.size()), count = 0;
        EXPECT_EQ(sim.RasEnumEntriesA(nullptr, nullptr, bytes(entries), &size, &count), 632u);

        QByteArray dial = record(1052, c.dialSize);
        RemoteAccess::Handle handle = 0;
        EXPECT_EQ(QCoro::waitFor(sim.RasDialA(nullptr, nullptr, bytes(dial), 0, nullptr, &handle)),
                  632u);
        EXPECT_EQ(handle, 0u);

        QByteArray conns = record(824, c.connSize);
        size = quint32(conns.size());
        EXPECT_EQ(sim.RasEnumConnectionsA(bytes(conns), &size, &count), 632u);
    }
}

TEST(SimRemoteAccess, TooSmallBufferGives603AndTheNeededSize)
{
    SimRemoteAccess sim(2);
    sim.setEntries({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
    QByteArray entries = record(28 * 2, 28);
    quint32 size = 28 * 2, count = 0;
    EXPECT_EQ(sim.RasEnumEntriesA(nullptr, nullptr, bytes(entries), &size, &count), 603u);
    EXPECT_EQ(size, 28u * 3);
    EXPECT_EQ(count, 3u);

    sim.connections = {{1, "a"}, {2, "b"}, {3, "c"}};
    QByteArray conns = record(64, 32);
    size = 64;
    EXPECT_EQ(sim.RasEnumConnectionsA(bytes(conns), &size, &count), 603u);
    EXPECT_EQ(size, 96u);
}

TEST(SimRemoteAccess, DialChecksEntryCredentialsAndFieldEnds)
{
    SimRemoteAccess sim(2);
    sim.setEntries({QStringLiteral("isp")});
    sim.accounts.insert("isp", {"me", "pw"});
    auto dial = [&](const QByteArray &entry, const QByteArray &user, const QByteArray &password,
                    RemoteAccess::Handle *handle) {
        QByteArray r = record(736, 736);
        r.replace(4, entry.size(), entry);
        r.replace(203, user.size(), user);
        r.replace(460, password.size(), password);
        *handle = 0;
        return QCoro::waitFor(sim.RasDialA(nullptr, nullptr, bytes(r), 0, nullptr, handle));
    };
    RemoteAccess::Handle handle = 0;
    EXPECT_EQ(dial("nothere", "me", "pw", &handle), 623u);
    EXPECT_EQ(handle, 0u);
    EXPECT_EQ(dial("isp", "me", "bad", &handle), 691u);
    EXPECT_NE(handle, 0u); // the half-open line still has to be hung up
    EXPECT_EQ(sim.RasHangUpA(handle), 0u);
    EXPECT_EQ(dial(QByteArray(21, 'x'), "me", "pw", &handle), 87u); // no NUL inside the field
    EXPECT_EQ(dial("isp", "me", "pw", &handle), 0u);
    EXPECT_EQ(sim.connections.size(), 1);
    EXPECT_EQ(sim.RasHangUpA(handle), 0u);
    EXPECT_EQ(sim.RasHangUpA(handle), 6u);
}

TEST(SimRemoteAccess, VersionRecordNeedsItsSizeField)
{
    SimRemoteAccess sim(1);
    QByteArray version = record(148, 100);
    EXPECT_EQ(sim.GetVersionExA(bytes(version)), 0);
    version = record(148, 148);
    EXPECT_NE(sim.GetVersionExA(bytes(version)), 0);
    EXPECT_EQ(raslayout::readU32(bytes(version) + 16), 1u);
}

} // namespace
