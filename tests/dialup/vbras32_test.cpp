// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialup/vbras32.h"
#include "platform/codepage.h"
#include "simremoteaccess.h"

#include <QCoro/QCoroTask>

#include <gtest/gtest.h>

namespace {

// The dial to its end.
qint32 dialup(VBRas32 &ras)
{
    return QCoro::waitFor(ras.Dialup());
}

// The record layouts written out independently of the program's own tables.
struct Layout {
    quint32 family;
    int entryRecord;
    int entryName;   // size of the name field, at offset 4
    int entryBuffer; // 256 records
    int dialRecord;
    // offset, size of: entry name, phone number, callback, user, password, domain
    int fields[6][2];
    int connRecord;
    int connName;   // size of the name field, at offset 8 after the handle at offset 4
    int connBuffer; // 2 records
};

constexpr int entryNameAt = 4;
constexpr int connHandleAt = 4;
constexpr int connNameAt = 8;

const Layout nt{2,    28,  21,
                7168, 736, {{4, 21}, {25, 129}, {154, 49}, {203, 257}, {460, 257}, {717, 16}},
                32,   21,  64};
const Layout w9x{
    1,     264,  257,
    67584, 1052, {{4, 257}, {261, 129}, {390, 129}, {519, 257}, {776, 257}, {1033, 16}},
    412,   257,  824};

void PrintTo(const Layout &l, std::ostream *os)
{
    *os << (l.family == 1 ? "9x layout" : "NT layout");
}

QByteArray sj(const QString &s)
{
    return codepage::toCp932(s);
}

// Records the object's events.
struct Events {
    QList<qint32> errors;
    int completes = 0;
    void watch(VBRas32 &ras, qint32 changeTo = 0)
    {
        QObject::connect(&ras, &VBRas32::ConnectError, &ras, [this, changeTo](qint32 &code) {
            errors.append(code);
            if (changeTo)
                code = changeTo;
        });
        QObject::connect(&ras, &VBRas32::ConnectComplete, &ras, [this] { ++completes; });
    }
};

class VBRas32Family : public ::testing::TestWithParam<Layout> {
protected:
    void SetUp() override
    {
        sim.family = GetParam().family;
        sim.setEntries({QStringLiteral("会社"), QStringLiteral("home"), QStringLiteral("ISP-A")});
    }
    SimRemoteAccess sim;
};

INSTANTIATE_TEST_SUITE_P(Families, VBRas32Family, ::testing::Values(nt, w9x), [](const auto &info) {
    return std::string(info.param.family == 1 ? "Win9x" : "NT");
});

TEST_P(VBRas32Family, CreationListsDefaultPhoneBookInOrder)
{
    VBRas32 ras(sim);
    EXPECT_EQ(ras.platformFamily(), GetParam().family);
    ASSERT_EQ(sim.enumeratedPhoneBooks.size(), 1);
    EXPECT_FALSE(sim.enumeratedPhoneBooks[0].has_value());
    ASSERT_EQ(ras.EntryCount(), 3);
    EXPECT_EQ(ras.EnumEntries(0), QStringLiteral("会社"));
    EXPECT_EQ(ras.EnumEntries(1), QStringLiteral("home"));
    EXPECT_EQ(ras.EnumEntries(2), QStringLiteral("ISP-A"));
    EXPECT_EQ(ras.EnumEntries(3), QString());
    EXPECT_THROW(ras.EnumEntries(4), std::out_of_range);
    EXPECT_THROW(ras.EnumEntries(-1), std::out_of_range);
    EXPECT_EQ(ras.Connection(), 0u);
    EXPECT_TRUE(ras.ShowMoniter());
}

void putU32(QByteArray &buffer, int at, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        buffer[at + i] = char(value >> (8 * i));
}

// A zero-filled array whose first record carries its size.
QByteArray emptyArray(int bufferSize, int recordSize)
{
    QByteArray buffer(bufferSize, '\0');
    putU32(buffer, 0, quint32(recordSize));
    return buffer;
}

TEST_P(VBRas32Family, EntryArrayHasTheFamilySizesAndOffsets)
{
    const Layout &l = GetParam();
    VBRas32 ras(sim);
    ASSERT_EQ(sim.entryCalls.size(), 1);
    const auto &call = sim.entryCalls[0];
    EXPECT_EQ(call.size, quint32(l.entryBuffer));
    EXPECT_EQ(call.given.toHex(), emptyArray(l.entryBuffer, l.entryRecord).toHex());

    // The service's records, read back by the object at the same offsets.
    QByteArray expected = emptyArray(l.entryBuffer, l.entryRecord);
    const QByteArray names[] = {sj(QStringLiteral("会社")), "home", "ISP-A"};
    for (int i = 0; i < 3; ++i) {
        putU32(expected, i * l.entryRecord, quint32(l.entryRecord));
        expected.replace(i * l.entryRecord + entryNameAt, names[i].size(), names[i]);
    }
    EXPECT_EQ(call.returned.toHex(), expected.toHex());
    ASSERT_EQ(ras.EntryCount(), 3);
    EXPECT_EQ(ras.EnumEntries(2), QStringLiteral("ISP-A"));
}

TEST_P(VBRas32Family, ConnectionArrayHasTheFamilySizesAndOffsets)
{
    const Layout &l = GetParam();
    sim.connections = {{0x01020304, "home"}, {0x0A0B0C0D, sj(QStringLiteral("会社"))}};
    VBRas32 ras(sim);
    EXPECT_TRUE(ras.SeekEnumConns(QStringLiteral("会社"), true));
    EXPECT_EQ(ras.Connection(), 0x0A0B0C0Du);
    ASSERT_EQ(sim.connectionCalls.size(), 1);
    const auto &call = sim.connectionCalls[0];
    EXPECT_EQ(call.size, quint32(l.connBuffer));
    EXPECT_EQ(call.given.toHex(), emptyArray(l.connBuffer, l.connRecord).toHex());

    QByteArray expected = emptyArray(l.connBuffer, l.connRecord);
    putU32(expected, connHandleAt, 0x01020304);
    expected.replace(connNameAt, 4, "home");
    putU32(expected, l.connRecord, quint32(l.connRecord));
    putU32(expected, l.connRecord + connHandleAt, 0x0A0B0C0D);
    expected.replace(l.connRecord + connNameAt, 4, sj(QStringLiteral("会社")));
    EXPECT_EQ(call.returned.toHex(), expected.toHex());
}

TEST_P(VBRas32Family, EmptyPhoneBookHasOneEmptySlot)
{
    sim.setEntries({});
    VBRas32 ras(sim);
    EXPECT_EQ(ras.RefreshEntries(), 0);
    EXPECT_EQ(ras.EntryCount(), 0);
    EXPECT_EQ(ras.EnumEntries(0), QString());
    EXPECT_THROW(ras.EnumEntries(1), std::out_of_range);
}

TEST_P(VBRas32Family, RefreshUsesSetPhoneBookAndReportsServiceCode)
{
    sim.setEntries({QStringLiteral("other")}, QStringLiteral("/books/alt.pbk"));
    VBRas32 ras(sim);
    ras.setPhoneBook(QStringLiteral("/books/alt.pbk"));
    EXPECT_EQ(ras.RefreshEntries(), 0);
    EXPECT_EQ(sim.enumeratedPhoneBooks.last(), QByteArray("/books/alt.pbk"));
    EXPECT_EQ(ras.EntryCount(), 1);
    EXPECT_EQ(ras.EnumEntries(0), QStringLiteral("other"));

    ras.setPhoneBook(QStringLiteral("/books/missing.pbk"));
    EXPECT_EQ(ras.RefreshEntries(), 621);
    EXPECT_EQ(ras.EntryCount(), 0);
    EXPECT_EQ(ras.EnumEntries(0), QString());
}

TEST_P(VBRas32Family, MoreThan256EntriesListsTheFirst256)
{
    QStringList names;
    for (int i = 0; i < 300; ++i)
        names.append(QStringLiteral("e%1").arg(i, 3, 10, QLatin1Char('0')));
    sim.setEntries(names);
    VBRas32 ras(sim);
    EXPECT_EQ(ras.RefreshEntries(), 0);
    ASSERT_EQ(ras.EntryCount(), 256);
    EXPECT_EQ(ras.EnumEntries(0), QStringLiteral("e000"));
    EXPECT_EQ(ras.EnumEntries(255), QStringLiteral("e255"));
    EXPECT_EQ(ras.EnumEntries(256), QString());
}

TEST_P(VBRas32Family, LongNamesFromTheServiceAreCutOnACharacterBoundary)
{
    const Layout &l = GetParam();
    // One byte of ASCII, then double-byte characters past the end of the name field.
    const QString longName = QStringLiteral("a") + QString(300, QChar(0x4F1A)); // 会
    sim.setEntries({longName});
    sim.connections = {{7, sj(longName)}};
    VBRas32 ras(sim);
    ASSERT_EQ(ras.EntryCount(), 1);
    const QString cut = longName.left(1 + (l.entryName - 2) / 2);
    EXPECT_EQ(ras.EnumEntries(0), cut);
    EXPECT_TRUE(ras.SeekEnumConns(cut, true));
    EXPECT_EQ(ras.Connection(), 7u);
}

TEST(RasLayout, WriteFieldKeepsWholeCharactersAndItsNul)
{
    struct Case {
        const char *name;
        QByteArray text;
        QByteArray expected; // the 5-byte field
    } cases[] = {
        {"double-byte would cross the NUL", QByteArray("abc\x89\xef"), QByteArray("abc\0\0", 5)},
        {"double-byte ends just before the NUL", QByteArray("ab\x89\xefz"),
         QByteArray("ab\x89\xef\0", 5)},
        {"lone lead byte at the end", QByteArray("ab\x89"), QByteArray("ab\0\0\0", 5)},
        {"half-width kana is one byte", QByteArray("\xb1\xb2\xb3\xb4\xb5"),
         QByteArray("\xb1\xb2\xb3\xb4\0", 5)},
        {"NUL ends the text", QByteArray("a\0bc", 4), QByteArray("a\0\0\0\0", 5)},
    };
    for (const auto &c : cases) {
        QByteArray record(7, '\0');
        record.front() = record.back() = '\x55';
        raslayout::writeField(reinterpret_cast<unsigned char *>(record.data()), 1, 5, c.text);
        EXPECT_EQ(record.mid(1, 5).toHex(' '), c.expected.toHex(' ')) << c.name;
        EXPECT_EQ(record.front(), '\x55') << c.name;
        EXPECT_EQ(record.back(), '\x55') << c.name;
    }
}

TEST_P(VBRas32Family, DialRecordHasEveryFieldAtItsOffset)
{
    const Layout &l = GetParam();
    VBRas32 ras(sim);
    ras.setEntry(QStringLiteral("会社"));
    ras.setUserID(QStringLiteral("山田"));
    ras.setPassword(QStringLiteral("pa ss"));
    ras.setDomain(QStringLiteral("dom"));
    ASSERT_EQ(dialup(ras), 0);
    ASSERT_EQ(sim.dials.size(), 1);

    QByteArray expected(l.dialRecord, '\0');
    expected[0] = char(l.dialRecord & 0xFF);
    expected[1] = char(l.dialRecord >> 8);
    const QByteArray values[6] = {sj(QStringLiteral("会社")), {},      {},
                                  sj(QStringLiteral("山田")), "pa ss", "dom"};
    for (int f = 0; f < 6; ++f)
        expected.replace(l.fields[f][0], values[f].size(), values[f]);
    EXPECT_EQ(sim.dials[0].record.toHex(' '), expected.toHex(' '));
}

TEST_P(VBRas32Family, LongValuesAreCutInsideTheirFieldWithoutSplittingACharacter)
{
    const Layout &l = GetParam();
    VBRas32 ras(sim);
    // One byte of ASCII and then double-byte characters past every field's end.
    const QString longText = QStringLiteral("a") + QString(300, QChar(0x3042)); // あ
    ras.setEntry(longText);
    ras.setUserID(longText);
    ras.setPassword(longText);
    ras.setDomain(longText);
    dialup(ras);
    ASSERT_EQ(sim.dials.size(), 1);
    const auto &call = sim.dials[0];
    const QByteArray got[] = {call.entry, call.user, call.password, call.domain};
    const int fieldIndex[] = {0, 3, 4, 5};
    for (int i = 0; i < 4; ++i) {
        const int size = l.fields[fieldIndex[i]][1];
        // 1 + 2k bytes is the longest prefix that leaves room for the NUL.
        const int expectedBytes = 1 + ((size - 2) / 2) * 2;
        EXPECT_EQ(got[i].size(), expectedBytes) << "field " << fieldIndex[i];
        EXPECT_EQ(codepage::fromCp932(got[i]), longText.left(1 + (size - 2) / 2));
        EXPECT_EQ(call.record.at(l.fields[fieldIndex[i]][0] + expectedBytes), '\0');
    }
    // Each record field still ends with its own NUL, so nothing spilled into the next one.
    EXPECT_EQ(call.record.size(), l.dialRecord);
}

TEST_P(VBRas32Family, UnsetValuesLeaveFieldsEmpty)
{
    VBRas32 ras(sim);
    ras.setEntry(QStringLiteral("x"));
    ras.setEntry(QString());
    EXPECT_EQ(ras.Entry(), QString());
    dialup(ras);
    ASSERT_EQ(sim.dials.size(), 1);
    const QByteArray &record = sim.dials[0].record;
    EXPECT_EQ(record.mid(4).count('\0'), record.size() - 4);
}

TEST_P(VBRas32Family, SuccessfulDialRaisesOneCompleteAndKeepsHandle)
{
    VBRas32 ras(sim);
    Events events;
    events.watch(ras);
    ras.setEntry(QStringLiteral("home"));
    const RemoteAccess::Handle handle = sim.nextHandle;
    EXPECT_EQ(dialup(ras), 0);
    EXPECT_EQ(events.completes, 1);
    EXPECT_TRUE(events.errors.isEmpty());
    EXPECT_EQ(ras.Connection(), handle);
    EXPECT_TRUE(sim.hangUps.isEmpty());

    EXPECT_EQ(ras.HangUp(), 0);
    EXPECT_EQ(ras.Connection(), 0u);
    EXPECT_EQ(sim.hangUps, QList<RemoteAccess::Handle>{handle});
    EXPECT_TRUE(sim.connections.isEmpty());
}

struct FailCase {
    const char *name;
    quint32 code;
    bool serviceHandsOutHandle;
};

TEST_P(VBRas32Family, FailedDialRaisesOneErrorAndHangsUpTheReturnedHandle)
{
    const FailCase cases[] = {
        {"refused credentials", 691, true},
        {"busy line", 676, true},
        {"no handle given", 678, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        SimRemoteAccess service(GetParam().family);
        service.setEntries({QStringLiteral("home")});
        service.failedDialSetsHandle = c.serviceHandsOutHandle;
        if (c.code == 691)
            service.accounts.insert("home", {"user", "secret"});
        else
            service.dialFailures.insert("home", c.code);
        VBRas32 ras(service);
        Events events;
        events.watch(ras, 1234); // a handler that changes the code changes nothing
        ras.setEntry(QStringLiteral("home"));
        ras.setUserID(QStringLiteral("user"));
        ras.setPassword(QStringLiteral("wrong"));
        const RemoteAccess::Handle handle = service.nextHandle;
        EXPECT_EQ(dialup(ras), qint32(c.code));
        EXPECT_EQ(events.errors, QList<qint32>{qint32(c.code)});
        EXPECT_EQ(events.completes, 0);
        EXPECT_EQ(ras.Connection(), 0u);
        ASSERT_EQ(service.hangUps.size(), 1);
        EXPECT_EQ(service.hangUps[0], c.serviceHandsOutHandle ? handle : 0u);
        EXPECT_TRUE(service.halfOpen.isEmpty());
    }
}

TEST_P(VBRas32Family, DialInProgressEndsWhenTheServiceDoesOrWhenHungUp)
{
    struct Case {
        const char *name;
        bool hangUp;
        qint32 code;
    } cases[] = {{"completed", false, 0}, {"hung up", true, 631}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        SimRemoteAccess service(GetParam().family);
        service.setEntries({QStringLiteral("home")});
        service.holdDials = true;
        VBRas32 ras(service);
        Events events;
        events.watch(ras);
        ras.setEntry(QStringLiteral("home"));
        const RemoteAccess::Handle handle = service.nextHandle;
        QCoro::Task<qint32> dial = ras.Dialup();
        ASSERT_FALSE(dial.isReady());
        ASSERT_EQ(service.pendingDials(), QList<RemoteAccess::Handle>{handle});
        EXPECT_TRUE(ras.isDialing());
        EXPECT_EQ(ras.Connection(), 0u);
        if (c.hangUp)
            EXPECT_EQ(ras.HangUp(), 0);
        else
            service.completeDial(handle);
        EXPECT_TRUE(events.errors.isEmpty() && events.completes == 0); // not inside the call
        EXPECT_EQ(QCoro::waitFor(dial), c.code);
        EXPECT_FALSE(ras.isDialing());
        EXPECT_EQ(ras.Connection(), c.hangUp ? 0u : handle);
        EXPECT_EQ(events.completes, c.hangUp ? 0 : 1);
        EXPECT_EQ(events.errors, c.hangUp ? QList<qint32>{631} : QList<qint32>{});
        EXPECT_EQ(service.connections.size(), c.hangUp ? 0 : 1);
        EXPECT_TRUE(service.halfOpen.isEmpty());
    }
}

TEST_P(VBRas32Family, DialOfUnknownEntryFailsWith623)
{
    VBRas32 ras(sim);
    Events events;
    events.watch(ras);
    ras.setEntry(QStringLiteral("nowhere"));
    EXPECT_EQ(dialup(ras), 623);
    EXPECT_EQ(events.errors, QList<qint32>{623});
}

TEST_P(VBRas32Family, HangUpWithoutConnectionAsksServiceWithHandleZero)
{
    VBRas32 ras(sim);
    EXPECT_EQ(ras.HangUp(), 6);
    EXPECT_EQ(sim.hangUps, QList<RemoteAccess::Handle>{0});
    EXPECT_EQ(ras.Connection(), 0u);
}

TEST_P(VBRas32Family, SeekEnumConnsFindsEntryByExactName)
{
    sim.connections = {{0x11, sj(QStringLiteral("home"))}, {0x22, sj(QStringLiteral("会社"))}};
    VBRas32 ras(sim);
    ras.setEntry(QStringLiteral("before"));

    EXPECT_FALSE(ras.SeekEnumConns(QStringLiteral("HOME"), true)); // letter case counts
    EXPECT_FALSE(ras.SeekEnumConns(QStringLiteral("none"), true));
    EXPECT_TRUE(ras.SeekEnumConns(QStringLiteral("会社"), false));
    EXPECT_EQ(ras.Entry(), QStringLiteral("before"));
    EXPECT_EQ(ras.Connection(), 0u);

    EXPECT_TRUE(ras.SeekEnumConns(QStringLiteral("会社"), true));
    EXPECT_EQ(ras.Entry(), QStringLiteral("会社"));
    EXPECT_EQ(ras.Connection(), 0x22u);
    EXPECT_EQ(ras.HangUp(), 0);
    EXPECT_EQ(sim.connections.size(), 1);
}

TEST_P(VBRas32Family, SeekEnumConnsWithMoreThanTwoConnectionsFindsNothing)
{
    sim.connections = {{1, "a"}, {2, "b"}, {3, "c"}};
    VBRas32 ras(sim);
    EXPECT_FALSE(ras.SeekEnumConns(QStringLiteral("a"), true));
    EXPECT_EQ(ras.Connection(), 0u);
}

TEST_P(VBRas32Family, ErrMsgReturnsServiceTextOrNothing)
{
    sim.errorTexts.insert(691, sj(QStringLiteral("認証に失敗しました。")));
    VBRas32 ras(sim);
    EXPECT_EQ(ras.ErrMsg(691), QStringLiteral("認証に失敗しました。"));
    EXPECT_EQ(ras.ErrMsg(9999), QString());
}

TEST(VBRas32, PhoneBookIsUsedForTheNTDialOnly)
{
    for (const quint32 family : {1u, 2u}) {
        SimRemoteAccess sim(family);
        sim.setEntries({QStringLiteral("x")}, QStringLiteral("/alt.pbk"));
        sim.setEntries({QStringLiteral("x")});
        VBRas32 ras(sim);
        ras.setPhoneBook(QStringLiteral("/alt.pbk"));
        ras.setEntry(QStringLiteral("x"));
        dialup(ras);
        ASSERT_EQ(sim.dials.size(), 1);
        if (family == 2)
            EXPECT_EQ(sim.dials[0].phoneBook, QByteArray("/alt.pbk"));
        else
            EXPECT_FALSE(sim.dials[0].phoneBook.has_value());
    }
}

TEST(VBRas32, MonitorStartsOnlyForNTDialWhenShown)
{
    struct Case {
        quint32 family;
        bool show;
        bool available;
        int starts;
    } cases[] = {{2, true, true, 1}, {2, false, true, 0}, {1, true, true, 0}, {2, true, false, 1}};
    for (const auto &c : cases) {
        SimRemoteAccess sim(c.family);
        sim.setEntries({QStringLiteral("x")});
        sim.monitorAvailable = c.available;
        VBRas32 ras(sim);
        ras.setShowMoniter(c.show);
        ras.setEntry(QStringLiteral("x"));
        EXPECT_EQ(dialup(ras), 0); // a monitor that cannot start does not stop the dial
        EXPECT_EQ(sim.monitorStarts, c.starts);
    }
}

TEST(VBRas32, UnknownPlatformFamilyNeverReportsSuccess)
{
    SimRemoteAccess sim(3);
    sim.setEntries({QStringLiteral("x")});
    VBRas32 ras(sim);
    Events events;
    events.watch(ras);
    EXPECT_TRUE(sim.enumeratedPhoneBooks.isEmpty());
    EXPECT_EQ(ras.EntryCount(), 0);
    EXPECT_THROW(ras.EnumEntries(0), std::out_of_range);
    ras.setEntry(QStringLiteral("x"));
    EXPECT_NE(dialup(ras), 0);
    EXPECT_EQ(events.errors.size(), 1);
    EXPECT_EQ(events.completes, 0);
    EXPECT_TRUE(sim.dials.isEmpty());
    EXPECT_FALSE(ras.SeekEnumConns(QStringLiteral("x"), true));
}

TEST(VBRas32, CopyFieldTable)
{
    struct Case {
        const char *name;
        QString text;
        int size;
        QByteArray expected;
    } cases[] = {
        {"fits", QStringLiteral("abc"), 5, QByteArray("abc\0\0", 5)},
        {"exactly fills", QStringLiteral("abcd"), 5, QByteArray("abcd\0", 5)},
        {"cut ascii", QStringLiteral("abcdef"), 5, QByteArray("abcd\0", 5)},
        {"double-byte kept whole", QStringLiteral("aあい"), 5, QByteArray("a\x82\xa0\0\0", 5)},
        {"half-width kana is one byte", QStringLiteral("ｱｲｳｴｵ"), 5,
         QByteArray("\xb1\xb2\xb3\xb4\0", 5)},
        {"embedded NUL ends the text", QStringLiteral("ab") + QChar(0) + QStringLiteral("cd"), 5,
         QByteArray("ab\0\0\0", 5)},
        {"empty", QString(), 3, QByteArray(3, '\0')},
    };
    for (const auto &c : cases) {
        QByteArray record(c.size + 2, '\x55');
        std::fill(record.begin() + 1, record.end() - 1, '\0');
        VBRas32::copyField(reinterpret_cast<unsigned char *>(record.data()), 1, c.size, c.text);
        EXPECT_EQ(record.mid(1, c.size).toHex(' '), c.expected.toHex(' ')) << c.name;
        EXPECT_EQ(record.front(), '\x55') << c.name;
        EXPECT_EQ(record.back(), '\x55') << c.name;
    }
}

} // namespace
