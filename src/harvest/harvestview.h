// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/urltransfer.h"

#include <QString>

// What the page harvest needs from the window that runs it (or from harvix-cli).
class HarvestView {
public:
    virtual ~HarvestView() = default;

    // Shows the fetched page source (Text2).
    virtual void setPageSource(const QString &text) = 0;
    // Empties the list of saved image files (List1).
    virtual void clearImageList() = 0;
    // The page holds count image references, which the harvest now fetches in turn; each ends
    // in imageSaved, imageKept or imageFailed, unless the harvest ends first.
    virtual void imagesFound(qsizetype count) { Q_UNUSED(count); }
    // Appends one file name to the list of saved image files (once the image is downloaded,
    // before it is written).
    virtual void addImageListEntry(const QString &name) = 0;
    // The image of the last entry added is now in its file.
    virtual void imageSaved(const QString &name) { Q_UNUSED(name); }
    // The last entry added names a file that was there already and is kept as it is.
    virtual void imageKept(const QString &name) { imageSaved(name); }
    // A state of the transfer the harvest waits for (UrlTransfer::State).
    virtual void transferState(qint16 state) { Q_UNUSED(state); }
    // Replaces the status bar's one line of text (SB).
    virtual void setStatusText(const QString &text) = 0;
    // Hourglass pointer on the window while images are fetched, default pointer otherwise.
    virtual void setBusyPointer(bool busy) = 0;
    // OK-only message box titled "Harvix"; detail, when not empty, says why (the box's
    // informative text).
    virtual void showMessage(const QString &text, const QString &detail = {}) = 0;
    // The harvest ended at failure: text is the connection-error message, failure says why
    // (passwords in its addresses hidden). By default the message with the failure's own
    // words as its detail.
    virtual void showFailure(const QString &text, const TransferError &failure)
    {
        showMessage(text, failure.message());
    }
    virtual void beep() = 0;
    // A harvest that goes on past failed images reports each one here: the file name it would
    // have had, its address and why it failed (passwords hidden); one that stops at the first
    // failure never calls it.
    virtual void imageFailed(const QString &name, const QString &address,
                             const TransferError &failure)
    {
        Q_UNUSED(name);
        Q_UNUSED(address);
        Q_UNUSED(failure);
    }
};
