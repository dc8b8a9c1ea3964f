// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

#include <QCoro/QCoroTask>

// The remote access (dial-up) service, as the Windows remote access API presents it: the same
// functions, arguments and result codes, working on caller-built byte records. Strings inside the
// records and string arguments are NUL-terminated CP932 text; a null pointer means "no text".
//
// Two record families exist. The caller asks GetVersionExA for the platform family (1: the 95/98
// layout with 256-byte entry names, 2: the NT layout with 20-byte entry names) and then builds
// every record in that family's layout; a service reads records strictly by its own family.
// The layouts are in platform/raslayout.h.
class RemoteAccess {
public:
    using Handle = quint32; // a connection handle, 0 = no connection

    // Result codes shared by the implementations (0 = success).
    enum Code : quint32 {
        Success = 0,
        ErrorTooManyOpenFiles = 4,
        ErrorAccessDenied = 5,
        ErrorInvalidHandle = 6,
        ErrorNotEnoughMemory = 8,
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
        ErrorRequestTimeout = 638,
        ErrorAuthInternal = 645,
        ErrorNoConnection = 668,
        ErrorNoAnswer = 678,
        ErrorAuthenticationFailure = 691,
        ErrorRasmanCannotInitialize = 711,
        ErrorPppTimeout = 718,
        ErrorPppNoProtocolsConfigured = 734,
    };

    virtual ~RemoteAccess() = default;

    // Fills the 148-byte version record (OSVERSIONINFO) whose size field the caller set to 148;
    // the platform identifier at offset 16 is the record family. Returns non-zero
    // on success, 0 when the size field is wrong.
    virtual int GetVersionExA(unsigned char *versionInfo) = 0;

    // Lists the entries of a phone book (null: the default one) into an array of entry-name
    // records whose first size field the caller set. size is the buffer size in bytes; when it is
    // too small the needed size is written back and ErrorBufferTooSmall returned.
    virtual quint32 RasEnumEntriesA(const char *reserved, const char *phoneBook,
                                    unsigned char *entries, quint32 *size, quint32 *count) = 0;

    // Dials without holding the event loop (notifierType 0, no notifier): the task ends when the
    // link is up (0, handle set) or the dial failed (non-zero; the handle may have been set and
    // must be hung up). The dial in progress has its handle as soon as it has started, before
    // the task first suspends: RasHangUpA on it ends the dial, which then fails with
    // ErrorUserDisconnection. A service may replace the handle with the link's own once the
    // link is up. The caller keeps the strings, the record and *connection alive until the task
    // has ended.
    virtual QCoro::Task<quint32> RasDialA(const void *extensions, const char *phoneBook,
                                          const unsigned char *dialParams, quint32 notifierType,
                                          const void *notifier, Handle *connection) = 0;

    // Ends a connection, or the dial in progress of that handle, without waiting for the line
    // to drop.
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
};
