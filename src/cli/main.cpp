// SPDX-License-Identifier: GPL-3.0-or-later
// harvix-cli: runs the page harvest or only the image reference scanner from a terminal.

#include "cli/harvest.h"
#include "cli/output.h"
#include "cli/rendered.h"
#include "cli/scan.h"
#include "cli/usage.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringList>
#include <QTimer>

#include <QCoro/QCoroTask>

#include "platform/filewriter.h"

#include <csignal>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace cli;

namespace {

// Interrupted (Ctrl+C), terminated or hung up: the image file being written is removed, and the
// program ends at once with the status a shell gives a command ended by that signal (130, 143,
// 129). Ending the process closes its transfers; the files saved before stay.
extern "C" void endOnSignal(int signal)
{
    removeTemporaryFileNow();
    ::_exit(128 + signal);
}

void endOnSignals()
{
    struct sigaction action {};
    action.sa_handler = endOnSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
    // A reader of standard output that goes away makes the writes fail (EPIPE), which the exit
    // status reports, instead of ending the program without a word.
    ::signal(SIGPIPE, SIG_IGN);
}

} // namespace

int main(int argc, char **argv)
{
    endOnSignals();
    const std::unique_ptr<QCoreApplication> app =
        makeApplication(argc, argv, wantsRenderedPage(argc, argv));
    if (!app)
        return kExitFailed;
    QCoreApplication::setApplicationName(u"harvix-cli"_s);
    QCoreApplication::setApplicationVersion(QStringLiteral(HARVIX_VERSION));

    QCommandLineParser parser;
    const QCommandLineOption version(u"version"_s, u"print the version and exit"_s);
    parser.addOptions({helpOption(), version});
    // Everything after the command name belongs to the command, options included.
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(u"help"_s)) {
        writeText(stdout, cli::mainUsage());
        return kExitOk;
    }
    if (parser.isSet(version)) {
        writeLine(stdout, u"harvix-cli "_s + QCoreApplication::applicationVersion());
        return kExitOk;
    }

    QStringList args = parser.positionalArguments();
    if (args.isEmpty())
        return usageError(u"no command given"_s);
    const QString command = args.takeFirst();
    if (command != u"scan" && command != u"harvest")
        return usageError(u"unknown command '"_s + command + u"'"_s);
    // The command is a coroutine that the event loop runs; its end ends the loop with its exit
    // status. It starts once the loop runs, so that an end at once ends it too.
    QTimer::singleShot(0, app.get(), [command, args] {
        QCoro::connect(command == u"scan" ? runScan(args) : runHarvest(args),
                       QCoreApplication::instance(),
                       [](int status) { QCoreApplication::exit(outputChecked(status)); });
    });
    const int status = app->exec();
    // What the command handed to the event loop to delete once it had returned.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return status;
}
