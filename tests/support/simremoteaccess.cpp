// SPDX-License-Identifier: GPL-3.0-or-later
#include "simremoteaccess.h"

#include "platform/codepage.h"

#include <utility>

SimRemoteAccess::SimRemoteAccess(quint32 platformFamily) : family(platformFamily)
{
    phoneBooks.insert(QString(), {});
}

void SimRemoteAccess::setEntries(const QStringList &names, const QString &phoneBook)
{
    QList<QByteArray> encoded;
    for (const auto &name : names)
        encoded.append(codepage::toCp932(name));
    phoneBooks.insert(phoneBook, encoded);
}

int SimRemoteAccess::GetVersionExA(unsigned char *versionInfo)
{
    return raslayout::fillVersionRecord(versionInfo, family);
}

namespace {

// Records an array call around the service's own handling of it.
template <typename Handle>
quint32 recordArrayCall(QList<SimRemoteAccess::ArrayCall> &calls, unsigned char *buffer,
                        quint32 *size, Handle handle)
{
    if (!buffer || !size)
        return handle();
    const auto *bytes = reinterpret_cast<const char *>(buffer);
    const quint32 given = *size;
    calls.append({given, QByteArray(bytes, qsizetype(given)), {}});
    const quint32 result = handle();
    calls.last().returned = QByteArray(bytes, qsizetype(given));
    return result;
}

} // namespace

quint32 SimRemoteAccess::RasEnumEntriesA(const char *reserved, const char *phoneBook,
                                         unsigned char *entries, quint32 *size, quint32 *count)
{
    return recordArrayCall(entryCalls, entries, size,
                           [&] { return enumEntries(reserved, phoneBook, entries, size, count); });
}

quint32 SimRemoteAccess::enumEntries(const char *reserved, const char *phoneBook,
                                     unsigned char *entries, quint32 *size, quint32 *count)
{
    enumeratedPhoneBooks.append(phoneBook ? std::optional<QByteArray>(phoneBook) : std::nullopt);
    if (reserved)
        return ErrorInvalidParameter;
    const auto layout = is9x() ? raslayout::entryName9x : raslayout::entryNameNT;
    if (const quint32 checked = raslayout::checkRecords(entries, size, count, layout.recordSize))
        return checked;
    if (enumEntriesFailure)
        return *enumEntriesFailure;
    const QString book = phoneBook ? codepage::fromCp932(phoneBook) : QString();
    if (!phoneBooks.contains(book))
        return ErrorCannotOpenPhonebook;
    return raslayout::fillEntryNames(entries, size, count, layout, phoneBooks[book]);
}

QCoro::Task<quint32> SimRemoteAccess::RasDialA(const void *extensions, const char *phoneBook,
                                               const unsigned char *dialParams,
                                               quint32 notifierType, const void *notifier,
                                               Handle *connection)
{
    Q_UNUSED(extensions);
    if (!dialParams || !connection || notifierType != 0 || notifier || *connection != 0)
        co_return ErrorInvalidParameter;
    const auto layout = is9x() ? raslayout::dialParams9x : raslayout::dialParamsNT;
    const quint32 recordSize = raslayout::readU32(dialParams);
    if (recordSize != quint32(layout.recordSize))
        co_return ErrorInvalidSize;

    DialCall call;
    call.record = QByteArray(reinterpret_cast<const char *>(dialParams), layout.recordSize);
    if (phoneBook)
        call.phoneBook = QByteArray(phoneBook);
    // Every text field must end inside its field.
    bool wellFormed = true;
    const auto field = [&](int offset, int size) {
        bool terminated = false;
        QByteArray text = raslayout::readField(dialParams, offset, size, &terminated);
        wellFormed = wellFormed && terminated;
        return text;
    };
    call.entry = field(layout.entryName, layout.entryNameSize);
    call.phoneNumber = field(layout.phoneNumber, layout.phoneNumberSize);
    call.callbackNumber = field(layout.callbackNumber, layout.callbackNumberSize);
    call.user = field(layout.userName, layout.userNameSize);
    call.password = field(layout.password, layout.passwordSize);
    call.domain = field(layout.domain, layout.domainSize);
    dials.append(call);
    if (!wellFormed)
        co_return ErrorInvalidParameter;

    const QString book = phoneBook ? codepage::fromCp932(phoneBook) : QString();
    if (!phoneBooks.contains(book))
        co_return ErrorCannotOpenPhonebook;
    if (!phoneBooks[book].contains(call.entry))
        co_return ErrorCannotFindPhonebookEntry;

    // From here on the service has a line to hand out, also when the dial then fails.
    const Handle handle = nextHandle++;
    quint32 result = dialFailures.value(call.entry, Success);
    if (result == Success && accounts.contains(call.entry)) {
        const auto &account = accounts[call.entry];
        if (account.user != call.user || account.password != call.password)
            result = ErrorAuthenticationFailure;
    }
    if (holdDials) {
        Held held;
        held.handle = handle;
        m_held.append(&held);
        *connection = handle;
        co_await HeldAwaiter{&held};
        m_held.removeOne(&held);
        *connection = 0;
        if (held.hungUp)
            result = ErrorUserDisconnection;
    }
    if (result != Success) {
        if (failedDialSetsHandle) {
            halfOpen.insert(handle);
            *connection = handle;
        }
        co_return result;
    }
    connections.append({handle, call.entry});
    *connection = handle;
    co_return Success;
}

quint32 SimRemoteAccess::RasHangUpA(Handle connection)
{
    hangUps.append(connection);
    for (Held *held : std::as_const(m_held)) {
        if (held->handle == connection && held->waiting) {
            held->hungUp = true;
            release(held);
            return Success;
        }
    }
    if (halfOpen.remove(connection))
        return Success;
    for (qsizetype i = 0; i < connections.size(); ++i) {
        if (connections[i].handle == connection) {
            connections.removeAt(i);
            return Success;
        }
    }
    return ErrorInvalidHandle;
}

quint32 SimRemoteAccess::RasGetErrorStringA(quint32 code, char *buffer, quint32 bufferSize)
{
    if (!buffer || !errorTexts.contains(code))
        return ErrorInvalidParameter;
    return raslayout::copyText(buffer, bufferSize, errorTexts[code]);
}

quint32 SimRemoteAccess::RasEnumConnectionsA(unsigned char *records, quint32 *size, quint32 *count)
{
    return recordArrayCall(connectionCalls, records, size,
                           [&] { return enumConnections(records, size, count); });
}

quint32 SimRemoteAccess::enumConnections(unsigned char *records, quint32 *size, quint32 *count)
{
    const auto layout = is9x() ? raslayout::conn9x : raslayout::connNT;
    if (const quint32 checked = raslayout::checkRecords(records, size, count, layout.recordSize))
        return checked;
    return raslayout::fillConnections(records, size, count, layout, connections);
}

bool SimRemoteAccess::startMonitor()
{
    ++monitorStarts;
    return monitorAvailable;
}

QList<RemoteAccess::Handle> SimRemoteAccess::pendingDials() const
{
    QList<Handle> handles;
    for (const Held *held : m_held) {
        if (held->waiting)
            handles.append(held->handle);
    }
    return handles;
}

void SimRemoteAccess::completeDial(Handle handle)
{
    for (Held *held : std::as_const(m_held)) {
        if (held->handle == handle && held->waiting)
            release(held);
    }
}

void SimRemoteAccess::release(Held *held)
{
    QMetaObject::invokeMethod(
        &m_context, [waiting = std::exchange(held->waiting, {})] { waiting.resume(); },
        Qt::QueuedConnection);
}
