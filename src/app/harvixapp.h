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

// Makes the windows around the main window, on their first showing; main() makes the real
// ones, tests their own. A window made null means the program has no window of that kind: its
// menu does nothing.
class AppWindows {
public:
    virtual ~AppWindows() = default;
    virtual QWidget *makeConnect(HarvixApp &app) = 0; // the dial-up dialog
    virtual QWidget *makeBrowser(HarvixApp &app) = 0; // the simple browser
    virtual QWidget *makeHelp(HarvixApp &app) = 0;    // the help viewer
    virtual QWidget *makeVersion(HarvixApp &app) = 0; // the version dialog
};

// The program's windows: one main window, and the windows its menus open, each of which
// exists at most once.
class HarvixApp : public QObject {
    Q_OBJECT
public:
    // endProgram is what the end menu does; defaultBrowser gives the command of the desktop's
    // default browser in place of asking the desktop (when empty, the desktop is asked).
    HarvixApp(UrlTransfer &inet, Prompter &prompter, PictureLoader &pictures,
              ProgramLauncher &launcher, AppWindows &windows, std::function<void()> endProgram = {},
              std::function<QStringList()> defaultBrowser = {});
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
    // runs; a message box says so when no browser could be started, and why the last one tried
    // did not start.
    void launchBrowser();

    QWidget *connectWindow() const { return m_connect; }
    QWidget *browserWindow() const { return m_browser; }
    QWidget *helpWindow() const { return m_help; }
    QWidget *versionWindow() const { return m_version; }

    // Writes the main window's status bar (nothing when it has been closed).
    void setStatusText(const QString &text);

private:
    QWidget *show(QPointer<QWidget> &window, QWidget *(AppWindows::*make)(HarvixApp &));
    void endProgram();
    void mainWindowClosing();

    UrlTransfer &m_inet;
    Prompter &m_prompter;
    PictureLoader &m_pictures;
    ProgramLauncher &m_launcher;
    AppWindows &m_windows;
    std::function<void()> m_endProgram;
    std::function<QStringList()> m_defaultBrowser; // when empty, the desktop is asked

    QPointer<frmHarvix> m_main;
    QPointer<QWidget> m_connect;
    QPointer<QWidget> m_browser;
    QPointer<QWidget> m_help;
    QPointer<QWidget> m_version;
};
