// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/raslayout.h"
#include "platform/remoteaccess.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <QCoro/QCoroTask>

#include <stdexcept>

// One dial-up connection over the remote access service: lists the entries of a phone book,
// dials one entry with user name, password and domain, hangs up, turns result codes into texts,
// and can adopt an active connection by entry name. It builds every record itself in the layout
// of the platform family the service reports, and shows no messages: failures come back as
// result codes and, for the dial, through ConnectError.
//
// The dial is a coroutine: the program goes on while it runs, and HangUp meanwhile ends it.
// The object may go while its dial runs: the dial is then ended, and its end reaches nobody.
class VBRas32 : public QObject {
    Q_OBJECT
public:
    // Creation reads the platform family and refreshes the entries of the default phone book.
    explicit VBRas32(RemoteAccess &service, QObject *parent = nullptr);
    // Ends a dial still in progress; a connection stays up.
    ~VBRas32() override;

    RemoteAccess::Handle Connection() const { return m_connection; }

    QString PhoneBook() const { return m_phoneBook; }
    void setPhoneBook(const QString &PhonebookFile) { m_phoneBook = PhonebookFile; }

    // The entries listed by the last refresh (the array holds one empty slot more).
    qint32 EntryCount() const { return m_entries.isEmpty() ? 0 : qint32(m_entries.size() - 1); }
    // The entry name at Index; Index EntryCount gives an empty string. Throws std::out_of_range
    // outside 0..EntryCount (and for any index before the first refresh).
    QString EnumEntries(qint16 Index) const;

    // Unset and empty strings are one value: an empty string is handed to the service as no
    // text at all.
    QString Entry() const { return m_entry; }
    void setEntry(const QString &szEntryName) { m_entry = szEntryName; }
    QString UserID() const { return m_userId; }
    void setUserID(const QString &szUserID) { m_userId = szUserID; }
    QString Password() const { return m_password; }
    void setPassword(const QString &szPassword) { m_password = szPassword; }
    QString Domain() const { return m_domain; }
    void setDomain(const QString &szDomain) { m_domain = szDomain; }
    bool ShowMoniter() const { return m_showMonitor; }
    void setShowMoniter(bool bMoniter) { m_showMonitor = bMoniter; }

    quint32 platformFamily() const { return m_platformFamily; }

    qint32 RefreshEntries();
    // Dials Entry; raises ConnectError or ConnectComplete just before the task ends. A second
    // dial while one is in progress is refused at once (ErrorPortNotAvailable, no event).
    QCoro::Task<qint32> Dialup();
    bool isDialing() const { return m_dialing; }
    // Hangs up the connection, or ends the dial in progress (which then fails with
    // ErrorUserDisconnection).
    qint32 HangUp();
    QString ErrMsg(qint32 RasErr);
    bool SeekEnumConns(const QString &entry, bool SetProp);

    // Copies text into a record field as CP932 with its NUL inside the field, cut before a
    // character that would not fit (never splitting a double-byte character).
    static void copyField(unsigned char *record, int offset, int size, const QString &text);

signals:
    // The dial failed. A handler may change RasErrCode; the object ignores the change.
    void ConnectError(qint32 &RasErrCode);
    void ConnectComplete();

private:
    qint32 RefreshEntriesNT();
    qint32 RefreshEntries9x();
    qint32 refreshEntries(const raslayout::EntryName &layout);
    QCoro::Task<qint32> DialupNT(QString &entry, QString &user, QString &password, QString &domain);
    QCoro::Task<qint32> Dialup9x(QString &entry, QString &user, QString &password, QString &domain);
    QCoro::Task<qint32> dial(const raslayout::DialParams &layout, const QString &phoneBook,
                             bool withMonitor, QString &entry, QString &user, QString &password,
                             QString &domain);

    RemoteAccess &m_service;
    quint32 m_platformFamily = 0;
    RemoteAccess::Handle m_connection = 0;
    bool m_dialing = false;
    RemoteAccess::Handle m_dialHandle = 0; // the handle of the dial in progress
    QStringList m_entries;
    QString m_entry;
    QString m_userId;
    QString m_password;
    QString m_domain;
    QString m_phoneBook;
    bool m_showMonitor = true;
};
