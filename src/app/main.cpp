// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/harvixapp.h"
#include "browser/frmbrowser.h"
#include "dialup/frmras.h"
#include "help/frmhelp.h"
#include "help/frmversion.h"
#include "platform/curl/curltransfer.h"
#include "platform/ppp/pppremoteaccess.h"
#include "platform/qt/qtpictureloader.h"
#include "platform/qt/qtprogramlauncher.h"
#include "platform/qt/qtprompter.h"
#include "platform/webengine/webengineloader.h"

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <cstdio>
#include <string_view>

#include <unistd.h>

namespace {

constexpr char helpText[] =
    "Usage: harvix [--help | --version]\n"
    "\n"
    "Harvix fetches a web page, shows its HTML source and saves every JPEG image the page\n"
    "references into the save folder. Type the page address into the URL box of the window\n"
    "and press Enter. The window takes no other arguments; harvix-cli harvests from a\n"
    "terminal.\n"
    "\n"
    "  --help     show this help and exit\n"
    "  --version  show the version and exit\n";

// The window program has no command line of its own, except these two, which are answered
// before anything needs a display. Returns the exit status, or -1 to start the program.
int answerInfoOption(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const char *text = arg == "--version" ? "harvix " HARVIX_VERSION "\n"
                           : arg == "--help"  ? helpText
                                              : nullptr;
        if (text)
            return std::fputs(text, stdout) >= 0 && std::fflush(stdout) == 0 ? 0 : 1;
    }
    return -1;
}

// The program's windows around the main window.
class ProgramWindows : public AppWindows {
public:
    ProgramWindows(RemoteAccess &ras, Prompter &prompter, const WebViewFactory &webViews)
        : m_ras(ras), m_prompter(prompter), m_webViews(webViews)
    {
    }

    QWidget *makeConnect(HarvixApp &harvix) override
    {
        return new frmRAS(m_ras, m_prompter,
                          [&harvix](const QString &text) { harvix.setStatusText(text); });
    }
    QWidget *makeBrowser(HarvixApp &harvix) override
    {
        return new frmBrowser(
            m_webViews, [&harvix](const QString &address) { harvix.handToHarvest(address); },
            [&harvix](const std::optional<RenderedPage> &page) { harvix.harvestRendered(page); });
    }
    QWidget *makeHelp(HarvixApp &) override { return new frmHelp(m_prompter); }
    QWidget *makeVersion(HarvixApp &) override { return new frmVersion(); }

private:
    RemoteAccess &m_ras;
    Prompter &m_prompter;
    const WebViewFactory &m_webViews;
};

} // namespace

int main(int argc, char **argv)
{
    if (const int status = answerInfoOption(argc, argv); status >= 0)
        return status;
    // The web engine of the simple browser cannot use its sandbox when run as root.
    if (::geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Harvix"));
    // The user's settings go to $XDG_CONFIG_HOME/harvix/Harvix.conf, beside Pswd.dat.
    QApplication::setOrganizationName(QStringLiteral("harvix"));
    // The program speaks Japanese: Qt's own texts (message box buttons, text box menus) too.
    QTranslator qtTexts;
    if (qtTexts.load(QLocale(QLocale::Japanese, QLocale::Japan), QStringLiteral("qtbase"),
                     QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTexts);
    // Every window without an icon of its own shows the program's icon.
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/harvix.png")));

    CurlTransfer inet;
    QtPrompter prompter;
    QtPictureLoader pictures;
    QtProgramLauncher launcher;
    const std::unique_ptr<RemoteAccess> ras = makePppRemoteAccess();

    // One factory for the life of the program: it loads the web engine module once, on the
    // first opening of the browser.
    // The harvest is fetched with the browser's cookies, so a page the user logged in to in the
    // browser harvests as it shows there.
    const WebViewFactory webViews = webEngineViewFactory(webEngineModuleFolders(), &inet.session());
    ProgramWindows windows(*ras, prompter, webViews);

    // mnuEnd ends the process at once: no window's closing handling runs, no question is asked.
    HarvixApp harvix(inet, prompter, pictures, launcher, windows, [] { ::_exit(0); });
    harvix.showMainWindow();
    return app.exec();
}
