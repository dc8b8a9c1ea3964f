// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QVariant>

#include <stdexcept>

// Raised by OpenURL for every failure: bad address, DNS or connection failure, TLS failure,
// time-out, a final HTTP reply that is not a 2xx with a body (a 404, a 304, a 204...), an
// oversized body, cancellation, or a second call while a transfer is under way. The message is
// for logs and the CLI; the harvest shows its own text.
class TransferError : public std::runtime_error {
public:
    explicit TransferError(const QString &message)
        : std::runtime_error(message.toStdString()), m_message(message)
    {
    }
    QString message() const { return m_message; }

private:
    QString m_message;
};

// The URL transfer service: fetches one address at a time. OpenURL blocks the caller until the
// transfer has ended, but keeps the caller's event loop running meanwhile, so StateChanged
// reaches the user-interface thread, menus stay usable and Cancel can be called.
class UrlTransfer : public QObject {
    Q_OBJECT
public:
    // Data types of OpenURL.
    enum DataType : qint32 { icString = 0, icByteArray = 1 };

    // Transfer states reported by StateChanged.
    enum State : qint16 {
        icNone = 0,
        icResolvingHost = 1,
        icHostResolved = 2,
        icConnecting = 3,
        icConnected = 4,
        icRequesting = 5,
        icRequestSent = 6,
        icReceivingResponse = 7,
        icResponseReceived = 8,
        icDisconnecting = 9,
        icDisconnected = 10,
        icError = 11,
        icResponseCompleted = 12,
    };

    using QObject::QObject;
    ~UrlTransfer() override = default;

    // Returns the body as a QString (icString) or a QByteArray (icByteArray).
    // Throws TransferError on any failure.
    virtual QVariant OpenURL(const QString &url, qint32 dataType = icString) = 0;

    // Stops the transfer under way; the waiting OpenURL then fails. Does nothing when idle.
    virtual void Cancel() = 0;

    QString openText(const QString &url) { return OpenURL(url, icString).toString(); }
    QByteArray openBytes(const QString &url) { return OpenURL(url, icByteArray).toByteArray(); }

signals:
    void StateChanged(qint16 state);
};
