// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/harvest.h"

#include "cli/cliview.h"
#include "cli/output.h"
#include "cli/rendered.h"
#include "cli/usage.h"
#include "harvest/pageharvest.h"
#include "harvest/parallelfetch.h"
#include "harvest/statetexts.h"
#include "platform/curl/cookiefile.h"
#include "platform/curl/curltransfer.h"
#include "platform/transferdefaults.h"

#include <QCommandLineParser>
#include <QFile>
#include <QScopeGuard>

#include <optional>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace cli {

namespace {

// Most image transfers --parallel may keep in flight.
constexpr int kMaxParallel = 16;
// Most tries again --retries may ask for.
constexpr int kMaxRetries = 100;

const char kHarvestUsage[] =
    "Usage: harvix-cli harvest [OPTIONS] URL SAVE_DIR\n"
    "       harvix-cli harvest --rendered [OPTIONS] URL SAVE_DIR\n"
    "\n"
    "Fetches the page at URL, finds its JPEG image references and saves every image into\n"
    "SAVE_DIR under the last part of its reference (percent-decoded when that gives a\n"
    "valid UTF-8 name).\n"
    "\n"
    "References are resolved as a browser resolves them: their character references\n"
    "(&#x2F;, &amp;) decoded first, against the page's first <base href>, else the address\n"
    "the page came from after redirects. Each image is asked for with the page's address as\n"
    "Referer (its origin alone for another site, none from https to http) and with the\n"
    "cookies the page set; a reply that is a web page or text instead of a picture fails like\n"
    "a 404.\n"
    "\n"
    "Standard output: the name of each image as it is saved, one per line.\n"
    "Standard error:  the harvest's status texts and messages, one per line; after a failure,\n"
    "                 its cause.\n"
    "\n"
    "With --parallel N, up to N images are downloaded at once; they are still saved and\n"
    "listed in reference order. The harvest stops at the first image that fails, unless\n"
    "--keep-going is given. --verbose then puts the number of its image, as [N], before each\n"
    "transfer state.\n";
const char kHarvestExit[] =
    "Exit status: 0 all images saved, 1 the page references no image, 2 the harvest failed\n"
    "(with --keep-going: any image failed), 64 wrong usage or an unreadable cookies file.\n";

// What the harvest command was asked to do.
struct HarvestRequest {
    QString url;
    QString saveDir; // ends with "/"
    bool verbose = false;
    int parallel = 1;
    bool keepGoing = false;
    bool rendered = false; // the page as a browser renders it
    int retries = 0;
    int maxTime = transferdefaults::kMaxTimeSeconds; // each transfer as a whole; 0: no limit
    QString referer;
    QString userAgent;
    QList<QByteArray> cookies; // lines of the --cookies file
};

// The options of the harvest command; parseHarvest reads them.
QList<QCommandLineOption> harvestOptions()
{
    return {
        QCommandLineOption({u"j"_s, u"parallel"_s},
                           u"download up to N images at once (1 to 16, default 1)"_s, u"N"_s,
                           u"1"_s),
        QCommandLineOption(u"rendered"_s,
                           u"harvest the page as a browser renders it (its scripts run, its lazy "
                           u"pictures loaded; needs harvix-browser)"_s),
        QCommandLineOption({u"k"_s, u"keep-going"_s},
                           u"go on past an image that fails (exit status 2 if any did)"_s),
        QCommandLineOption(u"retries"_s,
                           u"try a passing failure (refused, reset, time-out, 408, 429, 5xx) "
                           u"again up to N times (default 0)"_s,
                           u"N"_s, u"0"_s),
        QCommandLineOption(u"max-time"_s,
                           u"give the page and each image at most SECONDS as a whole (0 for no "
                           u"limit, default %1)"_s.arg(transferdefaults::kMaxTimeSeconds),
                           u"SECONDS"_s, QString::number(transferdefaults::kMaxTimeSeconds)),
        QCommandLineOption(u"referer"_s, u"send URL as the Referer of the page request"_s,
                           u"URL"_s),
        QCommandLineOption(u"user-agent"_s,
                           u"send TEXT as User-Agent instead of Harvix/<version>"_s, u"TEXT"_s),
        QCommandLineOption(u"cookies"_s,
                           u"send the cookies of FILE (Netscape cookies.txt, as curl -b reads)"_s,
                           u"FILE"_s),
        QCommandLineOption({u"v"_s, u"verbose"_s},
                           u"also print the transfer states as they change"_s),
        helpOption(),
    };
}

// Fills request from args, or returns the exit status to end with (help shown, wrong usage).
int parseHarvest(const QStringList &args, HarvestRequest &request)
{
    const QList<QCommandLineOption> options = harvestOptions();
    const QString help = commandHelp(kHarvestUsage, options, kHarvestExit);
    QCommandLineParser parser;
    if (const int status = parseCommand(parser, args, options, help); status >= 0)
        return status;
    const QStringList operands = parser.positionalArguments();
    if (operands.size() != 2)
        return usageError(u"harvest needs URL and SAVE_DIR"_s);
    if (operands.at(1).isEmpty())
        return usageError(u"SAVE_DIR must not be empty"_s);

    request.url = operands.at(0);
    request.saveDir = operands.at(1);
    if (!request.saveDir.endsWith(u'/'))
        request.saveDir += u'/';
    request.verbose = parser.isSet(u"verbose"_s);
    bool number = false;
    request.parallel = parser.value(u"parallel"_s).toInt(&number);
    if (!number || request.parallel < 1 || request.parallel > kMaxParallel)
        return usageError(u"--parallel takes a number from 1 to %1"_s.arg(kMaxParallel));
    request.retries = parser.value(u"retries"_s).toInt(&number);
    if (!number || request.retries < 0 || request.retries > kMaxRetries)
        return usageError(u"--retries takes a number from 0 to %1"_s.arg(kMaxRetries));
    request.maxTime = parser.value(u"max-time"_s).toInt(&number);
    if (!number || request.maxTime < 0)
        return usageError(u"--max-time takes a number of seconds, 0 or more"_s);
    request.keepGoing = parser.isSet(u"keep-going"_s);
    request.rendered = parser.isSet(u"rendered"_s);
    request.referer = parser.value(u"referer"_s);
    request.userAgent = parser.value(u"user-agent"_s);
    if (parser.isSet(u"cookies"_s)) {
        const QString name = parser.value(u"cookies"_s);
        QFile file(name);
        if (!file.open(QIODevice::ReadOnly)) {
            writeLine(stderr, u"harvix-cli: cannot read cookies file "_s + name + u": "_s +
                                  file.errorString());
            return kExitUsage;
        }
        QString error;
        const auto cookies = readNetscapeCookies(file.readAll(), error);
        if (!cookies) {
            writeLine(stderr, u"harvix-cli: bad cookies file "_s + name + u": "_s + error);
            return kExitUsage;
        }
        request.cookies = *cookies;
    }
    return -1;
}

} // namespace

QCoro::Task<int> runHarvest(QStringList args)
{
    HarvestRequest request;
    if (const int status = parseHarvest(args, request); status >= 0)
        co_return status;

    // One transfer service for the whole harvest, so every image reuses the page's connection.
    // The harvest's last step resumes from inside the service: it goes once that has returned.
    auto *inet = new CurlTransfer;
    const auto release = qScopeGuard([inet] { inet->deleteLater(); });
    inet->setRetries(request.retries);
    inet->setMaxTimeSeconds(request.maxTime);
    inet->setUserAgent(request.userAgent);
    if (!request.cookies.isEmpty())
        inet->addCookies(request.cookies);
    CliView view(stdout, stderr, ::isatty(STDERR_FILENO) == 1);
    view.setVerbose(request.verbose);
    // With one image at a time the harvest fetches each image itself, as the window does.
    std::optional<ParallelFetch> fetch;
    if (request.parallel > 1) {
        fetch.emplace(*inet, request.parallel);
        if (request.verbose) {
            fetch->setStateHandler([&view](qsizetype index, qint16 state) {
                if (const auto text = stateText(state))
                    view.printDiagnostic(u"[%1] "_s.arg(index + 1) + *text);
            });
        }
    }
    PageHarvest harvest(*inet, view);
    harvest.setSavePathName(request.saveDir);
    harvest.setKeepGoing(request.keepGoing);
    harvest.setPageReferer(request.referer);
    if (fetch)
        harvest.setImageFetch(&*fetch);
    PageHarvest::Outcome outcome = PageHarvest::Outcome::Failed;
    if (request.rendered) {
        // The page is loaded in an off-screen browser page, whose cookies go with the images.
        const RenderedRead read = co_await renderedPage(request.url, &inet->session());
        if (read.page) {
            outcome =
                co_await harvest.runOnPage(read.page->html, read.page->url, read.page->baseUrl);
        } else {
            // As a page that cannot be fetched.
            view.showMessage(PageHarvest::connectionErrorMessage());
            view.printDiagnostic(u"harvix-cli: "_s + read.error);
        }
    } else {
        outcome = co_await harvest.run(request.url);
    }
    // The window shows only the connection-error message; a terminal user also gets the cause.
    if (outcome != PageHarvest::Outcome::Finished && !harvest.failureDetail().isEmpty())
        view.printDiagnostic(u"harvix-cli: "_s + harvest.failureDetail());
    view.finish();

    switch (outcome) {
    case PageHarvest::Outcome::Finished:
        co_return kExitOk;
    case PageHarvest::Outcome::NoImages:
        co_return kExitNoImages;
    case PageHarvest::Outcome::Failed:
    case PageHarvest::Outcome::Incomplete:
    case PageHarvest::Outcome::Refused:
        break;
    }
    co_return kExitFailed;
}

} // namespace cli
