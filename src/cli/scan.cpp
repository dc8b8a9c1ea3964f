// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/scan.h"

#include "cli/output.h"
#include "cli/rendered.h"
#include "cli/usage.h"
#include "harvest/imagerefs.h"
#include "platform/pagetext.h"

#include <QCommandLineParser>
#include <QFile>

using namespace Qt::StringLiterals;

namespace cli {

namespace {

const char kScanUsage[] =
    "Usage: harvix-cli scan [OPTIONS] [FILE]\n"
    "       harvix-cli scan --rendered URL\n"
    "\n"
    "Reads FILE (standard input when FILE is absent or \"-\"), decodes it as a page that came\n"
    "without a declared charset (byte-order mark, <meta> charset, else detected), finds its\n"
    "JPEG image references the way a harvest does, and prints each one on its own line, in\n"
    "page order. With --rendered, the page at URL is loaded in an off-screen browser page\n"
    "(the harvix-browser module), scrolled to its end and read as its scripts left it.\n";
const char kScanExit[] =
    "Exit status: 0 done (also when nothing was found), 2 FILE cannot be read or is larger than\n"
    "64 MiB or the rendered page cannot be loaded, 64 wrong usage.\n";

void printReferences(const QString &page)
{
    QStringList refs;
    const qint32 count = ScanImageRefs(page, refs);
    QString out;
    for (qint32 i = 0; i < count; ++i)
        out += terminalSafe(refs.at(i)) + u'\n';
    writeText(stdout, out);
}

} // namespace

QCoro::Task<int> runScan(QStringList args)
{
    const QCommandLineOption rendered(u"rendered"_s,
                                      u"read the page at URL as a browser renders it"_s);
    const QList<QCommandLineOption> options{rendered, helpOption()};
    const QString help = commandHelp(kScanUsage, options, kScanExit);
    QCommandLineParser parser;
    if (const int status = parseCommand(parser, args, options, help); status >= 0)
        co_return status;
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1)
        co_return usageError(u"scan takes at most one file"_s);
    if (parser.isSet(rendered)) {
        if (files.size() != 1)
            co_return usageError(u"scan --rendered needs URL"_s);
        const RenderedRead read =
            co_await renderedPage(files.first(), QString(), renderLimits(0), nullptr);
        if (!read.page) {
            writeLine(stderr, u"harvix-cli: "_s + read.error);
            co_return kExitFailed;
        }
        printReferences(read.page->html);
        co_return kExitOk;
    }

    QFile file;
    const bool fromStdin = files.isEmpty() || files.first() == u"-";
    const bool opened = fromStdin
                            ? file.open(stdin, QIODevice::ReadOnly)
                            : (file.setFileName(files.first()), file.open(QIODevice::ReadOnly));
    if (!opened) {
        writeLine(stderr,
                  u"harvix-cli: cannot read "_s + files.value(0) + u": "_s + file.errorString());
        co_return kExitFailed;
    }
    // At most as much as a page fetched; a longer stream (or /dev/zero) is not read to its end.
    QByteArray bytes;
    while (bytes.size() <= pagetext::kMaxPageSize) {
        const QByteArray chunk =
            file.read(qMin<qint64>(1 << 20, pagetext::kMaxPageSize + 1 - bytes.size()));
        if (chunk.isEmpty())
            break;
        bytes += chunk;
    }
    if (file.error() != QFileDevice::NoError) {
        writeLine(stderr,
                  u"harvix-cli: cannot read "_s + files.value(0) + u": "_s + file.errorString());
        co_return kExitFailed;
    }
    if (bytes.size() > pagetext::kMaxPageSize) {
        writeLine(stderr, u"harvix-cli: "_s +
                              (fromStdin ? u"the standard input"_s : files.first()) +
                              u" is larger than %1 bytes, the largest page read"_s.arg(
                                  QString::number(pagetext::kMaxPageSize)));
        co_return kExitFailed;
    }
    // A file has no Content-Type header: it is read like a page served without one.
    printReferences(pagetext::decode(bytes, {}));
    co_return kExitOk;
}

} // namespace cli
