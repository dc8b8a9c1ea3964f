// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QVariant>

#include <functional>
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

// A page fetched as text, and the address its body came from after any redirects (what its
// relative references are resolved against).
struct PageReply {
    QString text;
    QString finalUrl;
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
    // Throws TransferError on any failure. A byte transfer asks for an image: a reply that is a
    // web page or text instead of a picture is a failure too.
    virtual QVariant OpenURL(const QString &url, qint32 dataType = icString) = 0;

    // The page at url as text, with the address it finally came from. referer, when not
    // empty, is sent as the request's Referer. A service that cannot tell where redirects led
    // gives url itself.
    virtual PageReply fetchPage(const QString &url, const QString &referer = {})
    {
        Q_UNUSED(referer);
        return {openText(url), url};
    }
    // The image at url as bytes (as OpenURL's byte transfers), sent with referer as its
    // Referer when that is not empty.
    virtual QByteArray fetchImage(const QString &url, const QString &referer = {})
    {
        Q_UNUSED(referer);
        return openBytes(url);
    }

    // Stops the transfer under way; the waiting OpenURL then fails. Does nothing when idle.
    virtual void Cancel() = 0;

    QString openText(const QString &url) { return OpenURL(url, icString).toString(); }
    QByteArray openBytes(const QString &url) { return OpenURL(url, icByteArray).toByteArray(); }

signals:
    void StateChanged(qint16 state);
};

// Byte transfers that run side by side, beside the one-at-a-time OpenURL of the same service and
// under the same rules (size cap, time-outs, redirects, proxies, certificates). Each started
// transfer holds its body until it is claimed or cancelled.
class ParallelTransfer {
public:
    virtual ~ParallelTransfer() = default;

    // Starts fetching the image at url as bytes, sent with referer as its Referer when that is
    // not empty, and returns its ticket (never 0). A bad address is not an error here: that
    // transfer fails, and finishBytes says so.
    virtual int startBytes(const QString &url, const QString &referer = {}) = 0;
    // Waits, keeping the caller's event loop running, until the transfer of ticket has ended;
    // then hands over its body and forgets the ticket. Throws TransferError when it failed or
    // was cancelled, and for an unknown ticket.
    virtual QByteArray finishBytes(int ticket) = 0;
    // Stops the transfer of ticket (or drops its body) and forgets the ticket; nothing for an
    // unknown one.
    virtual void cancelBytes(int ticket) = 0;
    // Receives the states of the side-by-side transfers with their tickets (the states of
    // OpenURL still go to StateChanged). Empty to stop.
    virtual void setStateHandler(std::function<void(int ticket, qint16 state)> handler) = 0;
};
