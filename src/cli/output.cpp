// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/output.h"

#include <QByteArray>

void writeText(std::FILE *file, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), file);
}

void writeLine(std::FILE *file, const QString &text)
{
    writeText(file, text + u'\n');
}
