// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/cliview.h"

#include "harvest/address.h"

#include <QByteArray>

void writeLine(std::FILE *file, const QString &text)
{
    QByteArray bytes = text.toUtf8();
    bytes.append('\n');
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), file);
}

CliView::CliView(const QString &address, std::FILE *out, std::FILE *err, bool progress)
    : m_address(address), m_out(out), m_err(err), m_progress(progress)
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
        const QByteArray line =
            "\r\033[K" + QString::number(m_saved).toUtf8() + " 件目: " + name.toUtf8();
        std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), m_err);
        m_progressShown = true;
    }
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

void CliView::imageFailed(const QString &address, const QString &cause)
{
    // The cause names the address already when the transfer failed; a failed write does not.
    printDiagnostic(QStringLiteral("harvix-cli: ") +
                    (cause.contains(address) ? cause : address + QStringLiteral(": ") + cause));
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
        std::fputs("\r\033[K", m_err);
        m_progressShown = false;
    }
}
