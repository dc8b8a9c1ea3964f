// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/harvest.h"

#include "cli/cliview.h"
#include "cli/output.h"
#include "cli/rendered.h"
#include "cli/usage.h"
#include "harvest/pageharvest.h"
#include "harvest/parallelfetch.h"
#include "harvest/statetexts.h"
#include "platform/cookies/browsercookies.h"
#include "platform/curl/cookiefile.h"
#include "platform/curl/curltransfer.h"
#include "platform/transferdefaults.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
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
    "       harvix-cli harvest [OPTIONS] -i FILE SAVE_DIR\n"
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
    "cookies the page set; a reply that is not a picture (by its first bytes: empty, HTML, text, "
    "JSON) fails like\n"
    "a 404.\n"
    "\n"
    "Standard output: the name of each image as it is saved, one per line.\n"
    "Standard error:  the harvest's status texts and messages, one per line; after a failure,\n"
    "                 its cause.\n"
    "\n"
    "With --parallel N, up to N images are downloaded at once; they are still saved and\n"
    "listed in reference order. The harvest stops at the first image that fails, unless\n"
    "--keep-going is given. --verbose then puts the number of its image, as [N], before each\n"
    "transfer state.\n"
    "\n"
    "A picture the page references twice at one address is fetched once and listed twice.\n"
    "With --no-clobber (-nc), an image whose file is in SAVE_DIR already is kept as it is and\n"
    "not fetched (listed as saved). With --input-file FILE (-i; \"-\" for standard input),\n"
    "each page address in FILE, one a line (blank lines and lines starting with # are\n"
    "skipped), is harvested in turn into SAVE_DIR, with the cookies the pages before it set;\n"
    "with --keep-going a page that fails is reported and the next one goes on, and a last\n"
    "line says how many pages failed.\n";
const char kHarvestExit[] =
    "Exit status: 0 all images saved, 1 the page references no image, 2 the harvest failed\n"
    "(with --keep-going: any image failed), 64 wrong usage, an unreadable cookies or input\n"
    "file, or browser cookies that cannot be read. With --input-file, the status of the worst\n"
    "page.\n";

// What the harvest command was asked to do.
struct HarvestRequest {
    QStringList pages; // URL, or the addresses of --input-file
    bool fromInputFile = false;
    QString saveDir; // ends with "/"
    bool noClobber = false;
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
                           u"pictures loaded; http and https only, read within a minute; needs "
                           u"harvix-browser)"_s),
        QCommandLineOption({u"i"_s, u"input-file"_s},
                           u"harvest each page address in FILE, one a line (- for standard "
                           u"input), instead of URL"_s,
                           u"FILE"_s),
        QCommandLineOption(u"no-clobber"_s,
                           u"keep an image file that is there already, and do not fetch its "
                           u"image (also -nc)"_s),
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
        QCommandLineOption(u"cookies-from-browser"_s,
                           u"send the cookies BROWSER keeps (firefox, chromium, chrome, brave), of "
                           u"its default profile or of the profile folder PROFILE; they are read "
                           u"for this run only and written nowhere"_s,
                           u"BROWSER[:PROFILE]"_s),
        QCommandLineOption({u"v"_s, u"verbose"_s},
                           u"also print the transfer states as they change"_s),
        helpOption(),
    };
}

// Most bytes an --input-file may hold: far more than any list of page addresses.
constexpr qint64 kMaxInputFile = 16 << 20;

// The page addresses of an --input-file (standard input for "-"): one a line, blank lines and
// "#" comments skipped. Nothing, with a message written, when it cannot be read or names none.
std::optional<QStringList> readInputFile(const QString &name)
{
    QFile file;
    const bool opened = name == u"-" ? file.open(stdin, QIODevice::ReadOnly)
                                     : (file.setFileName(name), file.open(QIODevice::ReadOnly));
    const QByteArray bytes = opened ? file.read(kMaxInputFile + 1) : QByteArray();
    if (!opened || file.error() != QFileDevice::NoError) {
        writeLine(stderr,
                  u"harvix-cli: cannot read input file "_s + name + u": "_s + file.errorString());
        return std::nullopt;
    }
    if (bytes.size() > kMaxInputFile) {
        writeLine(stderr, u"harvix-cli: input file "_s + name +
                              u" is larger than %1 bytes"_s.arg(QString::number(kMaxInputFile)));
        return std::nullopt;
    }
    QStringList pages;
    for (const QString &line : QString::fromUtf8(bytes).split(u'\n')) {
        const QString address = line.trimmed();
        if (!address.isEmpty() && !address.startsWith(u'#'))
            pages.append(address);
    }
    if (pages.isEmpty()) {
        writeLine(stderr, u"harvix-cli: input file "_s + name + u" names no page"_s);
        return std::nullopt;
    }
    return pages;
}

// Fills request from args, or returns the exit status to end with (help shown, wrong usage).
int parseHarvest(QStringList args, HarvestRequest &request)
{
    // -nc is one word, as in wget, not -n and -c.
    for (QString &arg : args) {
        if (arg == u"--")
            break;
        if (arg == u"-nc")
            arg = u"--no-clobber"_s;
    }
    const QList<QCommandLineOption> options = harvestOptions();
    const QString help = commandHelp(kHarvestUsage, options, kHarvestExit);
    QCommandLineParser parser;
    if (const int status = parseCommand(parser, args, options, help); status >= 0)
        return status;
    const QStringList operands = parser.positionalArguments();
    request.fromInputFile = parser.isSet(u"input-file"_s);
    if (request.fromInputFile && operands.size() != 1)
        return usageError(u"harvest -i FILE takes SAVE_DIR only, no URL"_s);
    if (!request.fromInputFile && operands.size() != 2)
        return usageError(u"harvest needs URL and SAVE_DIR"_s);
    if (operands.last().isEmpty())
        return usageError(u"SAVE_DIR must not be empty"_s);

    if (!request.fromInputFile)
        request.pages = QStringList{operands.first()};
    request.saveDir = operands.last();
    request.noClobber = parser.isSet(u"no-clobber"_s);
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
    // A value that goes into a header line must not end it or start another.
    for (const auto &[option, value] :
         {std::pair{u"--referer"_s, request.referer}, {u"--user-agent"_s, request.userAgent}}) {
        if (value.contains(u'\r') || value.contains(u'\n') || value.contains(QChar(0)))
            return usageError(option + u" must not hold a line break or NUL"_s);
    }
    if (parser.isSet(u"cookies"_s)) {
        const QString name = parser.value(u"cookies"_s);
        // A FIFO with no writer would hold the open, a device would never end.
        if (!QFileInfo(name).isFile()) {
            writeLine(stderr, u"harvix-cli: cannot read cookies file "_s + name +
                                  (QFileInfo::exists(name) ? u": not a regular file"_s
                                                           : u": no such file"_s));
            return kExitUsage;
        }
        QFile file(name);
        if (!file.open(QIODevice::ReadOnly)) {
            writeLine(stderr, u"harvix-cli: cannot read cookies file "_s + name + u": "_s +
                                  file.errorString());
            return kExitUsage;
        }
        QString error;
        const auto cookies = readNetscapeCookies(file.read(kMaxCookieFileSize + 1), error);
        if (!cookies) {
            writeLine(stderr, u"harvix-cli: bad cookies file "_s + name + u": "_s + error);
            return kExitUsage;
        }
        request.cookies = *cookies;
    }
    if (parser.isSet(u"cookies-from-browser"_s)) {
        const BrowserCookiesResult browser =
            readBrowserCookies(parser.value(u"cookies-from-browser"_s));
        // The browser's cookies are held to the rules of a cookies file.
        QString error = browser.error;
        const auto checked =
            browser.lines ? readNetscapeCookies(browser.lines->join('\n'), error) : std::nullopt;
        if (!checked) {
            writeLine(stderr, u"harvix-cli: cannot use the cookies of "_s +
                                  parser.value(u"cookies-from-browser"_s) + u": "_s + error);
            return kExitUsage;
        }
        request.cookies += *checked;
    }
    if (request.fromInputFile) {
        const auto pages = readInputFile(parser.value(u"input-file"_s));
        if (!pages)
            return kExitUsage;
        request.pages = *pages;
    }
    return -1;
}

int exitStatusOf(PageHarvest::Outcome outcome)
{
    switch (outcome) {
    case PageHarvest::Outcome::Finished:
        return kExitOk;
    case PageHarvest::Outcome::NoImages:
        return kExitNoImages;
    case PageHarvest::Outcome::Failed:
    case PageHarvest::Outcome::Incomplete:
    case PageHarvest::Outcome::Refused:
        break;
    }
    return kExitFailed;
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
    harvest.setNoClobber(request.noClobber);
    harvest.setPageReferer(request.referer);
    if (fetch)
        harvest.setImageFetch(&*fetch);
    // The pages one after another, with one cookie engine: what one page sets goes to the next.
    int worst = kExitOk;
    qsizetype failedPages = 0;
    for (const QString &url : std::as_const(request.pages)) {
        PageHarvest::Outcome outcome = PageHarvest::Outcome::Failed;
        if (request.rendered) {
            // The page is loaded in an off-screen browser page, whose cookies go with the
            // images.
            // Only http and https, as the page a harvest fetches: nothing local is read.
            const RenderedRead read = co_await renderedPage(
                url, request.referer, renderLimits(request.maxTime), &inet->session());
            if (read.page) {
                outcome =
                    co_await harvest.runOnPage(read.page->html, read.page->url, read.page->baseUrl);
            } else {
                // As a page that cannot be fetched.
                view.showMessage(PageHarvest::connectionErrorMessage());
                view.printDiagnostic(u"harvix-cli: "_s + read.error);
            }
        } else {
            outcome = co_await harvest.run(url);
        }
        // The window shows only the connection-error message; a terminal user also gets the
        // cause, and of which page when there are several.
        if (outcome != PageHarvest::Outcome::Finished && !harvest.failureDetail().isEmpty())
            view.printDiagnostic(u"harvix-cli: "_s +
                                 (request.fromInputFile ? url + u": "_s : QString()) +
                                 harvest.failureDetail());
        const int status = exitStatusOf(outcome);
        worst = qMax(worst, status);
        if (status == kExitFailed) {
            ++failedPages;
            if (!request.keepGoing)
                break;
        }
    }
    if (request.fromInputFile)
        view.printDiagnostic(u"harvix-cli: %1 of %2 pages failed"_s.arg(
            QString::number(failedPages), QString::number(request.pages.size())));
    view.finish();
    co_return worst;
}

} // namespace cli
