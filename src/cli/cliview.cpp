// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/cliview.h"

#include "cli/output.h"
#include "harvest/address.h"
#include "harvest/statetexts.h"

using namespace Qt::StringLiterals;

CliView::CliView(std::FILE *out, std::FILE *err, bool progress)
    : m_out(out), m_err(err), m_progress(progress)
{
}

void CliView::setPageSource(const QString &) {}

void CliView::clearImageList()
{
    m_saved = 0;
}

void CliView::addImageListEntry(const QString &) {}

void CliView::imageSaved(const QString &name)
{
    clearProgress();
    writeLine(m_out, name);
    // Each name goes out as its file is written, also into a pipe or a file.
    std::fflush(m_out);
    if (m_progress) {
        ++m_saved;
        writeText(m_err,
                  u"\r\033[K"_s + QString::number(m_saved) + u" 件目: "_s + terminalSafe(name));
        m_progressShown = true;
    }
}

void CliView::imageKept(const QString &name)
{
    if (m_verbose)
        printDiagnostic(u"harvix-cli: kept "_s + terminalSafe(name) +
                        u", which was there already"_s);
    imageSaved(name);
}

void CliView::setStatusText(const QString &text)
{
    printDiagnostic(text);
}

void CliView::setBusyPointer(bool) {}

void CliView::showMessage(const QString &text, const QString &)
{
    // The cause goes on a line of its own after the harvest (harvix-cli's main).
    printDiagnostic(text);
}

void CliView::beep() {}

void CliView::imageFailed(const QString &, const QString &address, const TransferError &failure)
{
    // The cause names the address already when the transfer failed; a failed write does not.
    const QString cause = failure.message();
    printDiagnostic(QStringLiteral("harvix-cli: ") +
                    (cause.contains(address) ? cause : address + QStringLiteral(": ") + cause));
}

void CliView::transferState(qint16 state)
{
    if (!m_verbose)
        return;
    if (const auto text = stateText(state))
        printDiagnostic(*text);
}

void CliView::printDiagnostic(const QString &text)
{
    clearProgress();
    writeLine(m_err, hidePasswords(text));
}

void CliView::finish()
{
    clearProgress();
}

void CliView::clearProgress()
{
    if (m_progressShown) {
        writeText(m_err, u"\r\033[K"_s);
        m_progressShown = false;
    }
}
