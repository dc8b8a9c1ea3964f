// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/wake.h"

#include <utility>

void Wake::fire()
{
    if (!m_waiting)
        return;
    QMetaObject::invokeMethod(
        &m_context, [waiting = std::exchange(m_waiting, {})] { waiting.resume(); },
        Qt::QueuedConnection);
}
