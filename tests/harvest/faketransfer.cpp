// SPDX-License-Identifier: GPL-3.0-or-later
#include "faketransfer.h"

QVariant FakeTransfer::OpenURL(const QString &url, qint32 dataType)
{
    requested.append(url);
    if (m_busy)
        throw TransferError(QStringLiteral("a transfer is already under way"));
    m_busy = true;
    m_cancelled = false;
    struct Idle {
        bool &busy;
        ~Idle() { busy = false; }
    } idle{m_busy};

    if (const auto hook = m_hooks.value(url))
        hook();
    if (m_cancelled)
        throw TransferError(QStringLiteral("cancelled"));
    const auto it = m_bodies.constFind(url);
    if (it == m_bodies.constEnd())
        throw TransferError(QStringLiteral("404 Not Found: ") + url);
    if (dataType == icByteArray)
        return it->typeId() == QMetaType::QByteArray ? *it : QVariant(it->toString().toUtf8());
    return it->typeId() == QMetaType::QString ? *it
                                              : QVariant(QString::fromUtf8(it->toByteArray()));
}
