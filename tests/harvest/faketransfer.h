// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/urltransfer.h"

#include <QHash>
#include <QSet>
#include <QStringList>

#include <functional>

// A transfer service without a network: answers from a table of addresses, records every
// address asked for, refuses a second transfer while one is under way (like the real service),
// and can run a hook while a given address is "being fetched".
class FakeTransfer : public UrlTransfer {
public:
    void addText(const QString &url, const QString &text) { m_bodies.insert(url, text); }
    void addBytes(const QString &url, const QByteArray &bytes) { m_bodies.insert(url, bytes); }
    // Called while url is being fetched, before its answer is given.
    void onFetch(const QString &url, std::function<void()> hook) { m_hooks.insert(url, hook); }

    int startTransfer(const QString &url, qint32 dataType, const QString &referer = {},
                      Lane lane = Lane::OneAtATime, int retries = kServiceRetries) override;
    QCoro::Task<TransferReply> finishTransfer(int ticket) override;
    void cancelTransfer(int ticket) override { m_cancelled.insert(ticket); }

    QStringList requested;

private:
    QHash<QString, QVariant> m_bodies;
    QHash<QString, std::function<void()>> m_hooks;
    struct Started {
        QString url;
        qint32 dataType;
    };
    QHash<int, Started> m_started;
    QSet<int> m_cancelled;
    int m_lastTicket = 0;
    bool m_busy = false;
};
