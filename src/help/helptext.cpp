// SPDX-License-Identifier: GPL-3.0-or-later
#include "help/helptext.h"

#include "platform/codepage.h"

#include <QFile>

QString helpTextFromCp932(const QByteArray &bytes)
{
    // CR and LF never occur inside a CP932 double-byte character, so the text can be decoded
    // whole and split afterwards.
    const QString text = codepage::fromCp932(bytes);
    const QLatin1StringView crlf("\r\n");
    QString out;
    out.reserve(text.size() + text.size() / 16 + 2);
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype cr = text.indexOf(u'\r', start);
        if (cr < 0)
            cr = text.size();
        out += QStringView(text).mid(start, cr - start);
        out += crlf;
        start = cr + 1;
        if (start < text.size() && text.at(start) == u'\n')
            ++start;
    }
    return out;
}

std::optional<QString> readHelpFile(const QString &programFolder)
{
    QFile file(programFolder + QStringLiteral("Help.txt"));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return helpTextFromCp932(bytes);
}
