// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "harvest/harvestview.h"

#include <cstdio>

// The harvest's view in a terminal: every image saved is a line on standard output, every
// status text and message a line on standard error. When standard error is a terminal, a
// progress line is kept at its bottom and rewritten as images are saved.
class CliView : public HarvestView {
public:
    CliView(std::FILE *out, std::FILE *err, bool progress);

    void setPageSource(const QString &text) override;
    void clearImageList() override;
    void addImageListEntry(const QString &name) override;
    void imageSaved(const QString &name) override;
    // Named on standard error with --verbose; listed as saved.
    void imageKept(const QString &name) override;
    void setStatusText(const QString &text) override;
    void setBusyPointer(bool busy) override;
    void showMessage(const QString &text, const QString &detail = {}) override;
    void beep() override;
    void imageFailed(const QString &name, const QString &address,
                     const TransferError &failure) override;
    // With --verbose, each state text of the harvest's transfers is a line on standard error.
    void transferState(qint16 state) override;
    void setVerbose(bool verbose) { m_verbose = verbose; }

    // Writes one line to standard error, e.g. a transfer-state text; passwords in addresses
    // are hidden.
    void printDiagnostic(const QString &text);
    // Removes the progress line, if one is shown.
    void finish();

private:
    void clearProgress();

    std::FILE *m_out;
    std::FILE *m_err;
    bool m_progress;
    bool m_progressShown = false;
    bool m_verbose = false;
    qint64 m_saved = 0;
};
