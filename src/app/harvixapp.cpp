// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/harvixapp.h"

#include "app/frmharvix.h"
#include "app/singlewindow.h"
#include "platform/prompter.h"
#include "platform/systembrowser.h"

#include <QLineEdit>

HarvixApp::HarvixApp(UrlTransfer &inet, Prompter &prompter, PictureLoader &pictures,
                     ProgramLauncher &launcher, AppWindows &windows,
                     std::function<void()> endProgram, std::function<QStringList()> defaultBrowser)
    : m_inet(inet), m_prompter(prompter), m_pictures(pictures), m_launcher(launcher),
      m_windows(windows), m_endProgram(std::move(endProgram)),
      m_defaultBrowser(std::move(defaultBrowser))
{
}

HarvixApp::~HarvixApp()
{
    for (QWidget *w : {static_cast<QWidget *>(m_main.data()), m_connect.data(), m_browser.data(),
                       m_help.data(), m_version.data()})
        delete w;
}

frmHarvix *HarvixApp::mainWindow() const
{
    return m_main;
}

frmHarvix *HarvixApp::showMainWindow()
{
    return showSingleWindow(m_main, [this] {
        auto *main = new frmHarvix(m_inet, m_prompter, m_pictures);
        connect(main, &frmHarvix::connectRequested, this, &HarvixApp::showConnect);
        connect(main, &frmHarvix::browserRequested, this, &HarvixApp::showBrowser);
        connect(main, &frmHarvix::helpRequested, this, &HarvixApp::showHelp);
        connect(main, &frmHarvix::versionRequested, this, &HarvixApp::showVersion);
        connect(main, &frmHarvix::systemBrowserRequested, this, &HarvixApp::launchBrowser);
        connect(main, &frmHarvix::endRequested, this, &HarvixApp::endProgram);
        connect(main, &frmHarvix::closing, this, &HarvixApp::mainWindowClosing);
        return main;
    });
}

void HarvixApp::handToHarvest(const QString &address)
{
    frmHarvix *main = m_main ? m_main.data() : showMainWindow();
    main->TURL()->setText(address);
}

void HarvixApp::harvestRendered(const std::optional<RenderedPage> &page)
{
    frmHarvix *main = m_main ? m_main.data() : showMainWindow();
    QMetaObject::invokeMethod(
        main, [main, page] { main->harvestRendered(page); }, Qt::QueuedConnection);
}

QWidget *HarvixApp::show(QPointer<QWidget> &window, QWidget *(AppWindows::*make)(HarvixApp &))
{
    QWidget *made = window ? nullptr : (m_windows.*make)(*this);
    if (!window && !made)
        return nullptr; // the program has no window of this kind
    return showSingleWindow(window, [made] { return made; });
}

QWidget *HarvixApp::showConnect()
{
    return show(m_connect, &AppWindows::makeConnect);
}

QWidget *HarvixApp::showBrowser()
{
    return show(m_browser, &AppWindows::makeBrowser);
}

QWidget *HarvixApp::showHelp()
{
    return show(m_help, &AppWindows::makeHelp);
}

QWidget *HarvixApp::showVersion()
{
    return show(m_version, &AppWindows::makeVersion);
}

namespace {

QCoro::Task<QStringList> givenBrowser(std::function<QStringList()> find)
{
    co_return find();
}

// The launch behind the browser menu. The prompter and the launcher live as long as the
// program; the box is shown only while the program's windows are still there.
QCoro::Task<> launchBrowserAndReport(QPointer<HarvixApp> app, ProgramLauncher &launcher,
                                     Prompter &prompter, DefaultBrowserLookup defaultBrowser)
{
    const ProgramStart start = co_await launchSystemBrowser(
        launcher, QProcessEnvironment::systemEnvironment(), std::move(defaultBrowser));
    if (start.pid != 0 || !app)
        co_return;
    // Nothing could be started: say so, and why the last browser tried did not start, rather
    // than leave the menu doing nothing.
    prompter.MsgBox(QStringLiteral("Web ブラウザを起動できませんでした。"), Prompter::Buttons::Ok,
                    Prompter::Icon::None, Prompter::applicationTitle(), start.failure);
}

} // namespace

void HarvixApp::launchBrowser()
{
    DefaultBrowserLookup defaultBrowser = [] { return defaultBrowserCommand(); };
    if (m_defaultBrowser)
        defaultBrowser = [find = m_defaultBrowser] { return givenBrowser(find); };
    // The task goes on by itself once this returns.
    launchBrowserAndReport(this, m_launcher, m_prompter, std::move(defaultBrowser));
}

void HarvixApp::setStatusText(const QString &text)
{
    if (m_main)
        m_main->setStatusText(text);
}

void HarvixApp::endProgram()
{
    if (m_endProgram)
        m_endProgram();
}

void HarvixApp::mainWindowClosing()
{
    // The closing window is gone for the program even while its deletion waits for a harvest
    // to return: an address handed over now goes to a new main window.
    m_main = nullptr;
    // The dial-up dialog hides itself after a successful dial; with the main window gone the
    // user could no longer reach it, so it closes too (asking about hanging up).
    if (m_connect && !m_connect->isVisible())
        m_connect->close();
}
