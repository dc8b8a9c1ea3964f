// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPointer>
#include <QWidget>

// Windows that exist at most once: created on first showing, brought to the front when shown
// again, destroyed when closed (so the next showing starts afresh). A window that only hides
// itself keeps its state and is shown again as it is.
template <class W, class Make> W *showSingleWindow(QPointer<W> &window, Make make)
{
    if (!window) {
        window = make();
        window->setAttribute(Qt::WA_DeleteOnClose);
    }
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}
