// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/codepage.h"
#include "platform/remoteaccess.h"

#include <QByteArray>
#include <QList>

#include <cstring>

// The records that the remote access functions exchange, in the layouts of the two families:
// offsets and sizes in bytes. The caller builds them (VBRas32); the services read and fill them
// with the helpers at the end.
namespace raslayout {

// Little-endian 32-bit fields of the records.
inline quint32 readU32(const unsigned char *p)
{
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}
inline void writeU32(unsigned char *p, quint32 v)
{
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

// Version record (OSVERSIONINFO): size field 148, platform identifier at offset 16.
constexpr int versionRecordSize = 148;
constexpr int versionPlatformIdOffset = 16;

struct EntryName {
    int recordSize;
    int nameOffset;
    int nameSize;
};

struct DialParams {
    int recordSize;
    int entryName, entryNameSize;
    int phoneNumber, phoneNumberSize;
    int callbackNumber, callbackNumberSize;
    int userName, userNameSize;
    int password, passwordSize;
    int domain, domainSize;
};

struct Conn {
    int recordSize;
    int handleOffset;
    int nameOffset;
    int nameSize;
};

inline constexpr EntryName entryNameNT{28, 4, 21};
inline constexpr EntryName entryName9x{264, 4, 257};
inline constexpr DialParams dialParamsNT{736, 4, 21, 25, 129, 154, 49, 203, 257, 460, 257, 717, 16};
inline constexpr DialParams dialParams9x{1052, 4,   257, 261, 129,  390, 129,
                                         519,  257, 776, 257, 1033, 16};
inline constexpr Conn connNT{32, 4, 8, 21};
inline constexpr Conn conn9x{412, 4, 8, 257};

constexpr int maxEntries = 256;
constexpr int maxConnections = 2;

// The text of a field up to its first NUL, or the whole field when it holds none; *terminated
// tells which. Services refuse a field without its NUL, the caller reads names leniently.
inline QByteArray readField(const unsigned char *record, int offset, int size,
                            bool *terminated = nullptr)
{
    const auto *begin = reinterpret_cast<const char *>(record + offset);
    const auto *nul = static_cast<const char *>(std::memchr(begin, 0, static_cast<size_t>(size)));
    if (terminated)
        *terminated = nul != nullptr;
    return QByteArray(begin, nul ? nul - begin : size);
}

// Writes a CP932 text into a field with its NUL inside the field. A text that does not fit is
// cut before the first character that would not fit whole, so a double-byte character is never
// split; a NUL in the text ends it.
inline void writeField(unsigned char *record, int offset, int size, const QByteArray &text)
{
    qsizetype fits = 0;
    while (fits < text.size() && text[fits] != '\0') {
        const int length = codepage::cp932CharLength(static_cast<unsigned char>(text[fits]));
        if (fits + length > size - 1 || fits + length > text.size())
            break;
        fits += length;
    }
    std::memcpy(record + offset, text.constData(), static_cast<size_t>(fits));
    record[offset + fits] = 0;
}

// Fills a version record whose size field the caller set: the version numbers of the last
// Windows of the family, and its platform identifier. Returns 0 for a wrong size field.
inline int fillVersionRecord(unsigned char *info, quint32 family)
{
    if (readU32(info) != versionRecordSize)
        return 0;
    const bool is9x = family == 1;
    writeU32(info + 4, is9x ? 4 : 5);        // major version
    writeU32(info + 8, is9x ? 10 : 0);       // minor version
    writeU32(info + 12, is9x ? 2222 : 2195); // build
    writeU32(info + versionPlatformIdOffset, family);
    info[20] = 0; // no service pack text
    return 1;
}

// Copies a message text with its NUL into a caller's buffer of size bytes; ErrorBufferTooSmall
// when it does not fit.
inline quint32 copyText(char *buffer, quint32 size, const QByteArray &text)
{
    if (quint32(text.size()) + 1 > size)
        return RemoteAccess::ErrorBufferTooSmall;
    std::memcpy(buffer, text.constData(), static_cast<size_t>(text.size()));
    buffer[text.size()] = 0;
    return RemoteAccess::Success;
}

// An active connection as a connection record holds it.
struct ActiveConnection {
    RemoteAccess::Handle handle;
    QByteArray entry; // CP932
};

// Checks a caller's array of records: pointers given, room for one record, and the record size
// in the first size field.
inline quint32 checkRecords(const unsigned char *records, const quint32 *size, const quint32 *count,
                            int recordSize)
{
    if (!records || !size || !count)
        return RemoteAccess::ErrorInvalidParameter;
    if (*size < quint32(recordSize) || readU32(records) != quint32(recordSize))
        return RemoteAccess::ErrorInvalidSize;
    return RemoteAccess::Success;
}

// Fills a checked array with one record per item (fill writes the fields after the size
// field). Sets the count; when the array is too small, writes the needed size back instead and
// returns ErrorBufferTooSmall.
template <typename Item, typename Fill>
quint32 fillRecords(unsigned char *records, quint32 *size, quint32 *count, int recordSize,
                    const QList<Item> &items, Fill fill)
{
    const quint32 needed = quint32(items.size()) * quint32(recordSize);
    *count = quint32(items.size());
    if (*size < needed) {
        *size = needed;
        return RemoteAccess::ErrorBufferTooSmall;
    }
    for (qsizetype i = 0; i < items.size(); ++i) {
        unsigned char *record = records + i * recordSize;
        writeU32(record, quint32(recordSize));
        fill(record, items[i]);
    }
    *size = needed;
    return RemoteAccess::Success;
}

inline quint32 fillEntryNames(unsigned char *records, quint32 *size, quint32 *count,
                              const EntryName &layout, const QList<QByteArray> &names)
{
    return fillRecords(records, size, count, layout.recordSize, names,
                       [&layout](unsigned char *record, const QByteArray &name) {
                           writeField(record, layout.nameOffset, layout.nameSize, name);
                       });
}

inline quint32 fillConnections(unsigned char *records, quint32 *size, quint32 *count,
                               const Conn &layout, const QList<ActiveConnection> &connections)
{
    return fillRecords(records, size, count, layout.recordSize, connections,
                       [&layout](unsigned char *record, const ActiveConnection &connection) {
                           writeU32(record + layout.handleOffset, connection.handle);
                           writeField(record, layout.nameOffset, layout.nameSize, connection.entry);
                       });
}

} // namespace raslayout
