// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialup/vbras32.h"

#include "platform/codepage.h"

#include <QPointer>

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

// A service that reports more entries than this is asked again with a buffer for all of them;
// the count is still capped here so that a broken service cannot make us allocate without end.
constexpr quint32 maxEntriesOnRetry = 65536;

unsigned char *bytes(QByteArray &buffer)
{
    return reinterpret_cast<unsigned char *>(buffer.data());
}

// Text for the service: no text at all (null) for an unset value.
const char *textOrNull(const QByteArray &text)
{
    return text.isEmpty() ? nullptr : text.constData();
}

// A name read back from a record: its CP932 text up to the first NUL (or the whole field).
QString fieldText(const unsigned char *record, int offset, int size)
{
    return codepage::fromCp932(raslayout::readField(record, offset, size));
}

} // namespace

VBRas32::VBRas32(RemoteAccess &service, QObject *parent) : QObject(parent), m_service(service)
{
    QByteArray version(raslayout::versionRecordSize, 0);
    raslayout::writeU32(bytes(version), raslayout::versionRecordSize);
    m_service.GetVersionExA(bytes(version));
    m_platformFamily = raslayout::readU32(bytes(version) + raslayout::versionPlatformIdOffset);
    RefreshEntries();
}

void VBRas32::copyField(unsigned char *record, int offset, int size, const QString &text)
{
    raslayout::writeField(record, offset, size, codepage::toCp932(text));
}

QString VBRas32::EnumEntries(qint16 Index) const
{
    if (Index < 0 || Index >= m_entries.size())
        throw std::out_of_range("EnumEntries: index out of range");
    return m_entries[Index];
}

qint32 VBRas32::RefreshEntries()
{
    if (m_platformFamily == 2)
        return RefreshEntriesNT();
    if (m_platformFamily == 1)
        return RefreshEntries9x();
    return 0;
}

qint32 VBRas32::RefreshEntriesNT()
{
    return refreshEntries(raslayout::entryNameNT);
}

qint32 VBRas32::RefreshEntries9x()
{
    return refreshEntries(raslayout::entryName9x);
}

qint32 VBRas32::refreshEntries(const raslayout::EntryName &layout)
{
    const QByteArray phoneBook = codepage::toCp932(m_phoneBook);
    QByteArray buffer(raslayout::maxEntries * layout.recordSize, 0);
    raslayout::writeU32(bytes(buffer), quint32(layout.recordSize));
    quint32 size = quint32(buffer.size());
    quint32 count = 0;
    quint32 result =
        m_service.RasEnumEntriesA(nullptr, textOrNull(phoneBook), bytes(buffer), &size, &count);

    // More entries than the buffer holds: ask again with room for all of them and list the
    // first ones, instead of listing nothing.
    if (result == RemoteAccess::ErrorBufferTooSmall) {
        const quint32 needed = std::min(size, maxEntriesOnRetry * quint32(layout.recordSize));
        buffer = QByteArray(qsizetype(needed), 0);
        raslayout::writeU32(bytes(buffer), quint32(layout.recordSize));
        size = needed;
        count = 0;
        result =
            m_service.RasEnumEntriesA(nullptr, textOrNull(phoneBook), bytes(buffer), &size, &count);
        if (result != RemoteAccess::Success)
            count = 0;
    }

    // Never read a record beyond the buffer, whatever count the service reports.
    const quint32 inBuffer = quint32(buffer.size()) / quint32(layout.recordSize);
    const qint32 listed = qint32(std::min({count, inBuffer, quint32(raslayout::maxEntries)}));
    m_entries = QStringList(listed + 1);
    for (qint32 i = 0; i < listed; ++i)
        m_entries[i] =
            fieldText(bytes(buffer) + i * layout.recordSize, layout.nameOffset, layout.nameSize);
    return qint32(result);
}

VBRas32::~VBRas32()
{
    if (m_dialing && m_dialHandle != 0)
        m_service.RasHangUpA(m_dialHandle);
}

QCoro::Task<qint32> VBRas32::Dialup()
{
    if (m_dialing)
        co_return qint32(RemoteAccess::ErrorPortNotAvailable);
    // The object may go while the dial runs: then nobody is told of its end.
    const QPointer<VBRas32> self(this);
    qint32 result;
    if (m_platformFamily == 2)
        result = co_await DialupNT(m_entry, m_userId, m_password, m_domain);
    else if (m_platformFamily == 1)
        result = co_await Dialup9x(m_entry, m_userId, m_password, m_domain);
    else
        // No layout is known for this service: report that nothing was dialled.
        result = RemoteAccess::ErrorCallNotImplemented;
    if (!self)
        co_return result;

    if (result != 0) {
        qint32 code = result;
        emit ConnectError(code);
    } else {
        emit ConnectComplete();
    }
    co_return result;
}

QCoro::Task<qint32> VBRas32::DialupNT(QString &entry, QString &user, QString &password,
                                      QString &domain)
{
    return dial(raslayout::dialParamsNT, m_phoneBook, m_showMonitor, entry, user, password, domain);
}

QCoro::Task<qint32> VBRas32::Dialup9x(QString &entry, QString &user, QString &password,
                                      QString &domain)
{
    // The 95/98 dial always uses the default phone book and starts no monitor.
    return dial(raslayout::dialParams9x, QString(), false, entry, user, password, domain);
}

// The texts are read before the dial first suspends; the record, the phone book and the handle
// live in this coroutine until the service's dial has ended.
QCoro::Task<qint32> VBRas32::dial(const raslayout::DialParams &layout, const QString &phoneBook,
                                  bool withMonitor, QString &entry, QString &user,
                                  QString &password, QString &domain)
{
    QByteArray record(layout.recordSize, 0);
    unsigned char *params = bytes(record);
    raslayout::writeU32(params, quint32(layout.recordSize));
    copyField(params, layout.entryName, layout.entryNameSize, entry);
    params[layout.phoneNumber] = 0; // the entry's own number is used
    params[layout.callbackNumber] = 0;
    copyField(params, layout.userName, layout.userNameSize, user);
    copyField(params, layout.password, layout.passwordSize, password);
    copyField(params, layout.domain, layout.domainSize, domain);

    if (withMonitor)
        m_service.startMonitor();

    const QByteArray book = codepage::toCp932(phoneBook);
    RemoteAccess &service = m_service;
    const QPointer<VBRas32> self(this);
    RemoteAccess::Handle handle = 0;
    auto dialing = service.RasDialA(nullptr, textOrNull(book), params, 0, nullptr, &handle);
    // The service gave the dial its handle before it first waited: HangUp ends the dial by it.
    m_dialing = true;
    m_dialHandle = handle;
    const quint32 result = co_await std::move(dialing);
    // The password does not stay in memory longer than the dial.
    std::fill(record.begin(), record.end(), '\0');
    // A failed dial may still have opened the line: never leave it half open.
    if (result != RemoteAccess::Success)
        service.RasHangUpA(handle);
    if (!self)
        co_return qint32(result);

    m_dialing = false;
    m_dialHandle = 0;
    m_connection = result == RemoteAccess::Success ? handle : 0;
    co_return qint32(result);
}

qint32 VBRas32::HangUp()
{
    // During a dial the dial is ended, once; its task then ends with ErrorUserDisconnection.
    const RemoteAccess::Handle handle = m_dialing ? std::exchange(m_dialHandle, 0) : m_connection;
    const quint32 result = m_service.RasHangUpA(handle);
    m_connection = 0;
    return qint32(result);
}

QString VBRas32::ErrMsg(qint32 RasErr)
{
    constexpr int bufferSize = 255;
    QByteArray buffer(bufferSize, 0);
    m_service.RasGetErrorStringA(quint32(RasErr), buffer.data(), bufferSize);
    return fieldText(bytes(buffer), 0, bufferSize);
}

bool VBRas32::SeekEnumConns(const QString &entry, bool SetProp)
{
    if (m_platformFamily != 1 && m_platformFamily != 2)
        return false;
    const auto layout = m_platformFamily == 1 ? raslayout::conn9x : raslayout::connNT;
    QByteArray buffer(raslayout::maxConnections * layout.recordSize, 0);
    raslayout::writeU32(bytes(buffer), quint32(layout.recordSize));
    quint32 size = quint32(buffer.size());
    quint32 count = 0;
    if (m_service.RasEnumConnectionsA(bytes(buffer), &size, &count) != RemoteAccess::Success)
        return false;
    const quint32 listed = std::min(count, quint32(raslayout::maxConnections));
    for (quint32 i = 0; i < listed; ++i) {
        const unsigned char *record = bytes(buffer) + i * quint32(layout.recordSize);
        const QString name = fieldText(record, layout.nameOffset, layout.nameSize);
        if (name == entry) {
            if (SetProp) {
                m_entry = name;
                m_connection = raslayout::readU32(record + layout.handleOffset);
            }
            return true;
        }
    }
    return false;
}
