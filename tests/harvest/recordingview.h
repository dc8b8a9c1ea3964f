// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "harvest/harvestview.h"

#include <QStringList>

#include <functional>

// Records every call of the harvest as one line ("status:…", "add:…", "busy:1", "message:…"),
// so tests can compare the whole order of what the user would see.
class RecordingView : public HarvestView {
public:
    void setPageSource(const QString &text) override;
    void clearImageList() override;
    void addImageListEntry(const QString &name) override;
    void setStatusText(const QString &text) override;
    void setBusyPointer(bool busy) override;
    void showMessage(const QString &text, const QString &detail = {}) override;
    void beep() override;
    void imageFailed(const QString &name, const QString &address,
                     const TransferError &failure) override
    {
        Q_UNUSED(name);
        if (onFailure)
            onFailure(address, failure.message());
    }

    QString typedAddress; // the address the test harvests
    QString pageSource;
    QStringList imageList;
    QString statusText;
    bool busy = false;
    QStringList events;
    // Run for each image a keep-going harvest passes over.
    std::function<void(const QString &address, const QString &cause)> onFailure;
    // Run after each entry is added (to act in the middle of a harvest).
    std::function<void(const QString &)> onEntryAdded;
};
