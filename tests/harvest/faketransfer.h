// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/urltransfer.h"

#include <QHash>
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

    QVariant OpenURL(const QString &url, qint32 dataType = icString) override;
    void Cancel() override { m_cancelled = true; }

    QStringList requested;

private:
    QHash<QString, QVariant> m_bodies;
    QHash<QString, std::function<void()>> m_hooks;
    bool m_busy = false;
    bool m_cancelled = false;
};
