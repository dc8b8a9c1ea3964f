// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/raslayout.h"
#include "platform/remoteaccess.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QStringList>

#include <coroutine>
#include <optional>

// A remote access service held in memory. Tests set up its platform family, phone books, the
// outcome of dials and the active connections, and read back every record it was given. It reads
// records strictly by the layout of its family and answers caller mistakes with the codes the
// real service uses: ErrorInvalidSize for a wrong size field, ErrorBufferTooSmall (with the
// needed size written back) for a short buffer, ErrorInvalidParameter for a text field without
// its NUL inside the field.
//
// A dial ends at once, unless holdDials is set: then a dial that gets as far as a line stays in
// progress, with its handle given out, until the test completes it (completeDial) or it is hung
// up (RasHangUpA on its handle: the dial fails with 631). Either way the dial's task ends from
// the event loop, never inside the call that ended it.
class SimRemoteAccess : public RemoteAccess {
public:
    struct Account {
        QByteArray user;
        QByteArray password;
    };
    using ActiveConnection = raslayout::ActiveConnection;
    // One RasDialA call as the service read it.
    struct DialCall {
        QByteArray record; // the whole record, as many bytes as its size field says
        std::optional<QByteArray> phoneBook;
        QByteArray entry, phoneNumber, callbackNumber, user, password, domain;
    };

    explicit SimRemoteAccess(quint32 platformFamily = 2);

    // Replaces the entries of a phone book (empty name: the default phone book).
    void setEntries(const QStringList &names, const QString &phoneBook = {});

    // --- configuration ---
    quint32 family;
    QMap<QString, QList<QByteArray>> phoneBooks; // phone book path ("" = default) -> entries
    QMap<QByteArray, Account> accounts;          // entries that check user name and password
    QMap<QByteArray, quint32> dialFailures;      // entries whose dial fails with a code
    bool failedDialSetsHandle = true;            // a failed dial still hands out a handle
    std::optional<quint32> enumEntriesFailure;   // RasEnumEntriesA fails with this code
    QMap<quint32, QByteArray> errorTexts;        // RasGetErrorStringA texts (CP932)
    QList<ActiveConnection> connections;         // active connections, in service order
    bool monitorAvailable = true;
    Handle nextHandle = 0xC0DE0001;
    bool holdDials = false;

    // One RasEnumEntriesA or RasEnumConnectionsA call: the size argument, the buffer as the
    // caller gave it and as the service left it (size bytes each, as the caller claimed).
    struct ArrayCall {
        quint32 size;
        QByteArray given;
        QByteArray returned;
    };

    // --- what the service saw ---
    QList<DialCall> dials;
    QList<ArrayCall> entryCalls;
    QList<ArrayCall> connectionCalls;
    QList<Handle> hangUps;
    QList<std::optional<QByteArray>> enumeratedPhoneBooks;
    int monitorStarts = 0;
    // Half-open handles of failed dials that have not been hung up yet.
    QSet<Handle> halfOpen;

    // The handles of the dials held in progress, oldest first.
    QList<Handle> pendingDials() const;
    // Lets the held dial of handle end as it would have ended without the hold.
    void completeDial(Handle handle);

    int GetVersionExA(unsigned char *versionInfo) override;
    quint32 RasEnumEntriesA(const char *reserved, const char *phoneBook, unsigned char *entries,
                            quint32 *size, quint32 *count) override;
    QCoro::Task<quint32> RasDialA(const void *extensions, const char *phoneBook,
                                  const unsigned char *dialParams, quint32 notifierType,
                                  const void *notifier, Handle *connection) override;
    quint32 RasHangUpA(Handle connection) override;
    quint32 RasGetErrorStringA(quint32 code, char *buffer, quint32 bufferSize) override;
    quint32 RasEnumConnectionsA(unsigned char *connections, quint32 *size, quint32 *count) override;
    bool startMonitor() override;

private:
    // A dial held in progress, in its own coroutine frame.
    struct Held {
        Handle handle = 0;
        bool hungUp = false;
        std::coroutine_handle<> waiting;
    };
    struct HeldAwaiter {
        Held *held;
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> waiting) noexcept { held->waiting = waiting; }
        void await_resume() const noexcept {}
    };
    // Resumes a held dial from the event loop, once.
    void release(Held *held);

    QList<Held *> m_held;
    QObject m_context; // posted resumptions go with the service

    bool is9x() const { return family == 1; }
    quint32 enumEntries(const char *reserved, const char *phoneBook, unsigned char *entries,
                        quint32 *size, quint32 *count);
    quint32 enumConnections(unsigned char *records, quint32 *size, quint32 *count);
};
