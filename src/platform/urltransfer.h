// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QVariant>

#include <QCoro/QCoroTask>

#include <stdexcept>
#include <utility>

// Raised by the transfer service for every failure: bad address, DNS or connection failure, TLS
// failure, time-out, a final HTTP reply that is not a 2xx with a body (a 404, a 304, a 204...), an
// oversized body, cancellation, or a second call while a transfer is under way. The message is
// English, for logs and the CLI; the kind and the facts beside it say which failure it was, so
// that a window can word it in its own language.
class TransferError : public std::runtime_error {
public:
    enum class Kind {
        Other,              // none of those below
        Busy,               // another one-at-a-time transfer was under way
        BadAddress,         // the address cannot be read
        UnsupportedAddress, // not an http or https address
        HostNotFound,       // the host name was not found
        CannotConnect,      // the host did not take the connection
        TimedOut,           // connecting, or the transfer as a whole, took too long
        TooSlow,            // the reply stayed slower than one byte a second too long
        Tls,                // the secure connection failed (a certificate refused...)
        TooManyRedirects,   // more redirects than the service follows
        HttpStatus,         // a final reply without the body asked for: httpStatus
        NotAnImage,         // a web page or text came instead of a picture
        TooLarge,           // the body is larger than the service takes
        CannotWrite,        // the file could not be saved: folder
        Cancelled,          // stopped by the user
    };
    // What is known of a failure besides its message; what does not apply stays empty.
    struct Facts {
        Kind kind = Kind::Other;
        QString url;         // the address that failed
        long httpStatus = 0; // the final reply's status, HttpStatus
        QString folder;      // where the file was to be saved, CannotWrite
        QString detail;      // libcurl's or the system's own words
    };

    explicit TransferError(const QString &message) : TransferError(message, Facts()) {}
    TransferError(const QString &message, Facts facts)
        : std::runtime_error(message.toStdString()), m_message(message), m_facts(std::move(facts))
    {
    }
    TransferError(const QString &message, Kind kind, const QString &url)
        : TransferError(message, Facts{kind, url, 0, {}, {}})
    {
    }
    QString message() const { return m_message; }
    Kind kind() const { return m_facts.kind; }
    const Facts &facts() const { return m_facts; }

private:
    QString m_message;
    Facts m_facts;
};

// What a transfer hands over once it has ended well.
struct TransferReply {
    QByteArray bytes; // the body of a byte transfer (an image)
    QString text;     // the body of a text transfer (a page), decoded
    QString finalUrl; // where the body came from, after any redirects
};

// The URL transfer service. Every transfer has a ticket: startTransfer starts it, finishTransfer
// is the coroutine that suspends until its end and hands over its body, cancelTransfer stops it.
// Nothing waits by running the event loop again: a caller co_awaits the end of its transfer, so
// states reach the user-interface thread, menus stay usable and a transfer can be cancelled
// while the one event loop runs everything else. Every state of every transfer goes out through
// StateChanged with the transfer's ticket, all of them before the awaiting coroutine resumes; a
// caller listens to the tickets it started and to no other.
class UrlTransfer : public QObject {
    Q_OBJECT
public:
    // Data types of a transfer.
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

    // OneAtATime transfers (a page and the images a harvest fetches one by one) take turns: one
    // started while another is under way fails at once. SideBySide transfers (byte transfers
    // only) run beside them and beside each other, under the same rules.
    enum class Lane { OneAtATime, SideBySide };

    using QObject::QObject;
    ~UrlTransfer() override = default;

    // A transfer tried again after a passing failure as often as the service is set to.
    static constexpr int kServiceRetries = -1;

    // Starts fetching url and returns the transfer's ticket (never 0). A byte transfer asks for
    // an image: a reply that is not a picture (curlreply.h says what is one) fails. referer, when
    // not empty, is sent as the request's Referer. retries is how often this transfer is tried
    // again after a passing failure (a refused or dropped connection, a time-out, HTTP 408, 429
    // or 5xx), kServiceRetries for the service's own setting. A bad address is not an error
    // here: the transfer fails, and finishTransfer says so. Throws TransferError for an unknown
    // data type, for a text transfer side by side, and for a OneAtATime transfer while one is
    // under way (Busy).
    virtual int startTransfer(const QString &url, qint32 dataType, const QString &referer = {},
                              Lane lane = Lane::OneAtATime, int retries = kServiceRetries) = 0;
    // Resumes its awaiter once the transfer of ticket has ended and its states are out, with
    // its body, and forgets the ticket. Fails with TransferError when the transfer failed or was
    // cancelled (also while awaited: the awaiter resumes inside cancelTransfer), when the
    // service is destroyed meanwhile, and for an unknown ticket. One awaiter per ticket.
    virtual QCoro::Task<TransferReply> finishTransfer(int ticket) = 0;
    // Stops the transfer of ticket (or drops its body) and forgets the ticket; its error state
    // goes out, and its awaiter resumes with the failure, before this returns. Nothing for an
    // unknown ticket.
    virtual void cancelTransfer(int ticket) = 0;

    // One transfer from start to end: startTransfer, then finishTransfer. Throws (at the
    // co_await) what either throws.
    QCoro::Task<TransferReply> transfer(QString url, qint32 dataType, QString referer = {},
                                        Lane lane = Lane::OneAtATime);

signals:
    void StateChanged(int ticket, qint16 state);
    // The transfer of ticket waits (true) on a timer to be tried again after a passing failure,
    // or its next try has started (false). It holds no connection meanwhile.
    void RetryWaiting(int ticket, bool waiting);
};
