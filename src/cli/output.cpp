// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/output.h"

#include "cli/usage.h"

#include <QByteArray>

#include <cerrno>
#include <cstring>

using namespace Qt::StringLiterals;

namespace {

bool needsEscape(char32_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029 || c == 0x061C ||
           c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069);
}

} // namespace

QString terminalSafe(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (!needsEscape(u))
            out += c;
        else if (u <= 0xFF)
            out += u"\\x"_s + QString::number(u, 16).toUpper().rightJustified(2, u'0');
        else
            out += u"\\u"_s + QString::number(u, 16).toUpper().rightJustified(4, u'0');
    }
    return out;
}

namespace {

// The first error of a write to standard output, 0 while there is none.
int g_stdoutError = 0;

} // namespace

void writeText(std::FILE *file, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    errno = 0;
    if (std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), file) !=
            static_cast<size_t>(bytes.size()) &&
        file == stdout && g_stdoutError == 0)
        g_stdoutError = errno ? errno : EIO;
}

int outputChecked(int status)
{
    errno = 0;
    if (std::fflush(stdout) != 0 && g_stdoutError == 0)
        g_stdoutError = errno ? errno : EIO;
    if (g_stdoutError == 0 && std::ferror(stdout))
        g_stdoutError = EIO;
    if (g_stdoutError == 0)
        return status;
    writeLine(stderr, u"harvix-cli: cannot write to standard output: "_s +
                          QString::fromLocal8Bit(std::strerror(g_stdoutError)));
    return qMax(status, cli::kExitFailed);
}

void writeLine(std::FILE *file, const QString &text)
{
    writeText(file, terminalSafe(text) + u'\n');
}
