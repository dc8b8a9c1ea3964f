// SPDX-License-Identifier: GPL-3.0-or-later
// harvix-cli: runs the page harvest or only the image reference scanner from a terminal.

#include "cli/cliview.h"
#include "harvest/imagerefs.h"
#include "harvest/pageharvest.h"
#include "harvest/statetexts.h"
#include "platform/curl/curltransfer.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringList>

#include <cstdio>
#include <unistd.h>

namespace {

// Exit codes.
constexpr int kExitOk = 0;
constexpr int kExitNoImages = 1;
constexpr int kExitFailed = 2;
constexpr int kExitUsage = 64;

const char kMainUsage[] =
    "Usage: harvix-cli COMMAND [OPTIONS] ARGUMENTS\n"
    "\n"
    "Commands:\n"
    "  scan [FILE]              print the JPEG references found in an HTML page\n"
    "  harvest URL SAVE_DIR     fetch a page and save every JPEG it references\n"
    "\n"
    "Run 'harvix-cli COMMAND --help' for the details of one command.\n";

const char kScanUsage[] =
    "Usage: harvix-cli scan [FILE]\n"
    "\n"
    "Reads FILE (standard input when FILE is absent or \"-\") as UTF-8, finds its JPEG image\n"
    "references the way a harvest does, and prints each one on its own line, in page order.\n"
    "\n"
    "Exit status: 0 done (also when nothing was found), 2 FILE cannot be read, 64 wrong usage.\n";

const char kHarvestUsage[] =
    "Usage: harvix-cli harvest [--verbose] URL SAVE_DIR\n"
    "\n"
    "Fetches the page at URL, finds its JPEG image references and saves every image into\n"
    "SAVE_DIR under the last part of its reference.\n"
    "\n"
    "Standard output: the name of each image as it is saved, one per line.\n"
    "Standard error:  the harvest's status texts and messages, one per line.\n"
    "\n"
    "Options:\n"
    "  -v, --verbose   also print the transfer states (and the cause of a failure)\n"
    "  -h, --help      show this help\n"
    "\n"
    "Exit status: 0 all images saved, 1 the page references no image, 2 the harvest failed,\n"
    "64 wrong usage.\n";

void print(std::FILE *file, const char *text)
{
    std::fputs(text, file);
}

void printLine(std::FILE *file, const QString &text)
{
    const QByteArray bytes = text.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), file);
}

int usageError(const QString &problem, const char *usage)
{
    printLine(stderr, QStringLiteral("harvix-cli: ") + problem);
    print(stderr, usage);
    return kExitUsage;
}

bool isHelp(const QString &arg)
{
    return arg == u"--help" || arg == u"-h";
}

bool isOption(const QString &arg)
{
    return arg.size() > 1 && arg.startsWith(u'-');
}

int runScan(const QStringList &args)
{
    QStringList files;
    for (const QString &arg : args) {
        if (isHelp(arg)) {
            print(stdout, kScanUsage);
            return kExitOk;
        }
        if (isOption(arg))
            return usageError(QStringLiteral("unknown option ") + arg, kScanUsage);
        files.append(arg);
    }
    if (files.size() > 1)
        return usageError(QStringLiteral("scan takes at most one file"), kScanUsage);

    QFile file;
    const bool fromStdin = files.isEmpty() || files.first() == u"-";
    const bool opened = fromStdin
                            ? file.open(stdin, QIODevice::ReadOnly)
                            : (file.setFileName(files.first()), file.open(QIODevice::ReadOnly));
    if (!opened) {
        printLine(stderr, QStringLiteral("harvix-cli: cannot read ") + files.value(0) +
                              QStringLiteral(": ") + file.errorString());
        return kExitFailed;
    }
    const QString page = QString::fromUtf8(file.readAll());

    QStringList refs;
    const qint32 count = ScanImageRefs(page, refs);
    QByteArray out;
    for (qint32 i = 0; i < count; ++i) {
        out += refs.at(i).toUtf8();
        out += '\n';
    }
    std::fwrite(out.constData(), 1, static_cast<size_t>(out.size()), stdout);
    return kExitOk;
}

int runHarvest(const QStringList &args)
{
    bool verbose = false;
    QStringList operands;
    for (const QString &arg : args) {
        if (isHelp(arg)) {
            print(stdout, kHarvestUsage);
            return kExitOk;
        }
        if (arg == u"--verbose" || arg == u"-v")
            verbose = true;
        else if (isOption(arg))
            return usageError(QStringLiteral("unknown option ") + arg, kHarvestUsage);
        else
            operands.append(arg);
    }
    if (operands.size() != 2)
        return usageError(QStringLiteral("harvest needs URL and SAVE_DIR"), kHarvestUsage);

    if (operands.at(1).isEmpty())
        return usageError(QStringLiteral("SAVE_DIR must not be empty"), kHarvestUsage);
    QString saveDir = operands.at(1);
    if (!saveDir.endsWith(u'/'))
        saveDir += u'/';

    // One transfer service for the whole harvest, so every image reuses the page's connection.
    CurlTransfer inet;
    CliView view(operands.at(0), stdout, stderr, ::isatty(STDERR_FILENO) == 1);
    if (verbose) {
        QObject::connect(&inet, &UrlTransfer::StateChanged, &inet, [&view](qint16 state) {
            if (const auto text = stateText(state))
                view.printDiagnostic(*text);
        });
    }
    PageHarvest harvest(inet, view);
    harvest.setSavePathName(saveDir);
    const PageHarvest::Outcome outcome = harvest.run();
    if (verbose && outcome == PageHarvest::Outcome::Failed && !harvest.failureDetail().isEmpty())
        view.printDiagnostic(harvest.failureDetail());
    view.finish();

    switch (outcome) {
    case PageHarvest::Outcome::Finished:
        return kExitOk;
    case PageHarvest::Outcome::NoImages:
        return kExitNoImages;
    case PageHarvest::Outcome::Failed:
        break;
    }
    return kExitFailed;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("harvix-cli"));

    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    if (args.isEmpty())
        return usageError(QStringLiteral("no command given"), kMainUsage);

    const QString command = args.takeFirst();
    if (isHelp(command)) {
        print(stdout, kMainUsage);
        return kExitOk;
    }
    if (command == u"scan")
        return runScan(args);
    if (command == u"harvest")
        return runHarvest(args);
    return usageError(QStringLiteral("unknown command ") + command, kMainUsage);
}
