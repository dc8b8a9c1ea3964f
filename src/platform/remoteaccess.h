// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/codepage.h"

#include <QByteArray>
#include <QList>
#include <QtGlobal>

#include <cstring>

// The remote access (dial-up) service, as the Windows remote access API presents it: the same
// functions, arguments and result codes, working on caller-built byte records. Strings inside the
// records and string arguments are NUL-terminated CP932 text; a null pointer means "no text".
//
// Two record families exist. The caller asks GetVersionExA for the platform family (1: the 95/98
// layout with 256-byte entry names, 2: the NT layout with 20-byte entry names) and then builds
// every record in that family's layout; a service reads records strictly by its own family.
class RemoteAccess {
public:
    using Handle = quint32; // a connection handle, 0 = no connection

    // Result codes shared by the implementations (0 = success).
    enum Code : quint32 {
        Success = 0,
        ErrorAccessDenied = 5,
        ErrorInvalidHandle = 6,
        ErrorInvalidParameter = 87,
        ErrorCallNotImplemented = 120,
        ErrorBufferTooSmall = 603,
        ErrorDeviceDoesNotExist = 608,
        ErrorCannotOpenPhonebook = 621,
        ErrorCannotFindPhonebookEntry = 623,
        ErrorCorruptPhonebook = 625,
        ErrorPortDisconnected = 630,
        ErrorUserDisconnection = 631,
        ErrorInvalidSize = 632,
        ErrorPortNotAvailable = 633,
        ErrorUnknown = 635,
        ErrorAuthInternal = 645,
        ErrorNoConnection = 668,
        ErrorNoAnswer = 678,
        ErrorAuthenticationFailure = 691,
        ErrorRasmanCannotInitialize = 711,
        ErrorPppTimeout = 718,
        ErrorPppNoProtocolsConfigured = 734,
    };

    // Version record (OSVERSIONINFO): size field 148, platform identifier at offset 16.
    static constexpr int VersionRecordSize = 148;
    static constexpr int VersionPlatformIdOffset = 16;

    virtual ~RemoteAccess() = default;

    // Fills the 148-byte version record whose size field the caller set to 148. Returns non-zero
    // on success, 0 when the size field is wrong.
    virtual int GetVersionExA(unsigned char *versionInfo) = 0;

    // Lists the entries of a phone book (null: the default one) into an array of entry-name
    // records whose first size field the caller set. size is the buffer size in bytes; when it is
    // too small the needed size is written back and ErrorBufferTooSmall returned.
    virtual quint32 RasEnumEntriesA(const char *reserved, const char *phoneBook,
                                    unsigned char *entries, quint32 *size, quint32 *count) = 0;

    // Dials synchronously (notifierType 0, no notifier): returns when the link is up (0, handle
    // set) or the dial failed (non-zero; the handle may have been set and must be hung up).
    virtual quint32 RasDialA(const void *extensions, const char *phoneBook,
                             const unsigned char *dialParams, quint32 notifierType,
                             const void *notifier, Handle *connection) = 0;

    // Ends a connection without waiting for the line to drop.
    virtual quint32 RasHangUpA(Handle connection) = 0;

    // Writes the message text of a result code, NUL-terminated, into buffer.
    virtual quint32 RasGetErrorStringA(quint32 code, char *buffer, quint32 bufferSize) = 0;

    // Lists the active connections into an array of connection records whose first size field
    // the caller set; the needed size is written back with ErrorBufferTooSmall.
    virtual quint32 RasEnumConnectionsA(unsigned char *connections, quint32 *size,
                                        quint32 *count) = 0;

    // Starts the service's own link monitor program, if it has one, without waiting for it.
    // Returns false when there is none or it could not be started; dialling goes on regardless.
    virtual bool startMonitor() { return false; }

    // Little-endian 32-bit fields of the records.
    static quint32 readU32(const unsigned char *p)
    {
        return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
    }
    static void writeU32(unsigned char *p, quint32 v)
    {
        p[0] = static_cast<unsigned char>(v);
        p[1] = static_cast<unsigned char>(v >> 8);
        p[2] = static_cast<unsigned char>(v >> 16);
        p[3] = static_cast<unsigned char>(v >> 24);
    }
};

// Record layouts of the two families: offsets and sizes in bytes.
namespace raslayout {

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

// Reads a NUL-terminated text that must end inside its field; false when it does not.
inline bool readField(const unsigned char *record, int offset, int size, QByteArray *out)
{
    const auto *begin = reinterpret_cast<const char *>(record + offset);
    const auto *nul = static_cast<const char *>(std::memchr(begin, 0, static_cast<size_t>(size)));
    if (!nul)
        return false;
    *out = QByteArray(begin, nul - begin);
    return true;
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
    if (*size < quint32(recordSize) || RemoteAccess::readU32(records) != quint32(recordSize))
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
        RemoteAccess::writeU32(record, quint32(recordSize));
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
                           RemoteAccess::writeU32(record + layout.handleOffset, connection.handle);
                           writeField(record, layout.nameOffset, layout.nameSize, connection.entry);
                       });
}

} // namespace raslayout
