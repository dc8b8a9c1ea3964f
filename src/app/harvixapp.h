// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/webview.h"

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <optional>

class frmHarvix;
class PictureLoader;
class ProgramLauncher;
class Prompter;
class UrlTransfer;
class HarvixApp;

// How the windows around the main window are made; main() supplies the real ones, tests
// supply their own.
struct AppWindowMakers {
    std::function<QWidget *(HarvixApp &)> connect; // the dial-up dialog
    std::function<QWidget *(HarvixApp &)> browser; // the simple browser
    std::function<QWidget *(HarvixApp &)> help;    // the help viewer
    std::function<QWidget *(HarvixApp &)> version; // the version dialog
};

// The program's windows: one main window, and the windows its menus open, each of which
// exists at most once.
class HarvixApp : public QObject {
    Q_OBJECT
public:
    HarvixApp(UrlTransfer &inet, Prompter &prompter, PictureLoader &pictures,
              ProgramLauncher &launcher, AppWindowMakers makers,
              std::function<void()> endProgram = {});
    ~HarvixApp() override;

    // The main window, or null when it has been closed.
    frmHarvix *mainWindow() const;
    // Shows the main window, making a new one when it has been closed.
    frmHarvix *showMainWindow();
    // Writes an address into the main window's address box (a new main window when closed).
    void handToHarvest(const QString &address);
    // Has the main window (a new one when closed) harvest a page the browser shows, as rendered;
    // the harvest starts from the event loop, once the caller has returned.
    void harvestRendered(const std::optional<RenderedPage> &page);

    QWidget *showConnect();
    QWidget *showBrowser();
    QWidget *showHelp();
    QWidget *showVersion();
    // Starts the system web browser. The launch is a task that goes on while the event loop
    // runs; a message box says so when no browser could be started.
    void launchBrowser();
    // The command of the desktop's default browser, in place of asking the desktop (tests).
    void setDefaultBrowser(std::function<QStringList()> find)
    {
        m_defaultBrowser = std::move(find);
    }

    QWidget *connectWindow() const { return m_connect; }
    QWidget *browserWindow() const { return m_browser; }
    QWidget *helpWindow() const { return m_help; }
    QWidget *versionWindow() const { return m_version; }

    // Writes the main window's status bar (nothing when it has been closed).
    void setStatusText(const QString &text);

private:
    QWidget *show(QPointer<QWidget> &window, const std::function<QWidget *(HarvixApp &)> &make);
    void endProgram();
    void mainWindowClosing();

    UrlTransfer &m_inet;
    Prompter &m_prompter;
    PictureLoader &m_pictures;
    ProgramLauncher &m_launcher;
    AppWindowMakers m_makers;
    std::function<void()> m_endProgram;
    std::function<QStringList()> m_defaultBrowser; // when empty, the desktop is asked

    QPointer<frmHarvix> m_main;
    QPointer<QWidget> m_connect;
    QPointer<QWidget> m_browser;
    QPointer<QWidget> m_help;
    QPointer<QWidget> m_version;
};
