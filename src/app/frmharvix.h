// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "harvest/harvestview.h"
#include "harvest/pageharvest.h"
#include "platform/webview.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <optional>

class ImageList;
class QAction;
class ImageViewport;
class PictureLoader;
class Prompter;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class StatusLine;
class UrlTransfer;

// The main window: address box, image list, picture area, page source and status bar.
// It is the harvest's view: the harvest writes its texts, list and pointer here.
// What its menus open or do outside the window itself it asks for by its signals; whoever
// made the window answers them.
class frmHarvix : public QMainWindow, public HarvestView {
    Q_OBJECT
public:
    frmHarvix(UrlTransfer &inet, Prompter &prompter, PictureLoader &pictures,
              QWidget *parent = nullptr);
    ~frmHarvix() override;

    QLineEdit *TURL() const { return m_TURL; }
    QLineEdit *Text1() const { return m_Text1; }
    QPlainTextEdit *Text2() const { return m_Text2; }
    // The list as shown: entries the harvest adds go in once per frame of the screen.
    ImageList *List1() const;
    ImageViewport *Picture1() const { return m_Picture1; }
    QString SimpleText() const;
    // The harvest's progress as shown at the right of the status bar ("412 / 2000": pictures
    // done of those found), empty before the page's pictures are known.
    QString progressText() const;
    PageHarvest &harvest() { return m_harvest; }

    // Menu and control handlers.
    void mnuCget_Click();
    // Harvests a page the simple browser shows, as rendered: its text goes to Text2 and its
    // images are fetched as mnuCget_Click fetches them; the page itself is not fetched again.
    // Nothing (the page could not be read) ends as a failed page fetch does.
    void harvestRendered(const std::optional<RenderedPage> &page);
    void mnuStop_Click();
    void mnuHozon_Click();
    void Inet_StateChanged(qint16 state);
    void List1_Click();

    // HarvestView
    // The harvest's transfer states go to Inet_StateChanged.
    void transferState(qint16 state) override { Inet_StateChanged(state); }
    void setPageSource(const QString &text) override;
    void clearImageList() override;
    void imagesFound(qsizetype count) override;
    void addImageListEntry(const QString &name) override;
    void imageSaved(const QString &name) override;
    void setStatusText(const QString &text) override;
    void setBusyPointer(bool busy) override;
    void showMessage(const QString &text, const QString &detail = {}) override;
    // The connection-error box: why in Japanese with the address on a line of its own, the
    // transfer's own words in its details.
    void showFailure(const QString &text, const TransferError &failure) override;
    void beep() override;
    void imageFailed(const QString &name, const QString &address,
                     const TransferError &failure) override;

signals:
    void connectRequested();       // the dial-up dialog
    void browserRequested();       // the simple browser
    void helpRequested();          // the help viewer
    void versionRequested();       // the version dialog
    void systemBrowserRequested(); // the system web browser
    void endRequested();           // the end of the program, at once
    void closing();                // the window is closing (hidden dialogs close with it)

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void createControls();
    void createMenus();
    // Starts a harvest (refused while one runs) with the options of the menu as they are now.
    void startHarvest(const std::function<QCoro::Task<PageHarvest::Outcome>()> &run);
    // The harvest has ended: the pictures it passed over, if any, in one box.
    void harvestEnded(PageHarvest::Outcome outcome);
    int selectedRow() const;
    // Asks for the next frame of the harvest's changes, one frame after the last one.
    void frameDue();
    // Puts the harvest's buffered entries, newest status text and count into the window.
    void showFrame();
    void showProgress();

    Prompter &m_prompter;
    PictureLoader &m_pictures;
    PageHarvest m_harvest;

    QLineEdit *m_TURL = nullptr;
    QLineEdit *m_Text1 = nullptr;
    QPlainTextEdit *m_Text2 = nullptr;
    ImageList *m_List1 = nullptr;
    ImageViewport *m_Picture1 = nullptr;
    StatusLine *m_status = nullptr;   // SB's one line of text
    StatusLine *m_progress = nullptr; // the harvest's count, at the right of SB
    QAction *m_mnuSkip = nullptr;     // go on past a picture that cannot be fetched or saved

    int m_rowAtPress = -1;      // List1's selected row when the mouse was last pressed on it
    bool m_busyPointer = false; // the window shows the busy pointer

    // The harvest's changes not shown yet, and the clock that shows them once per frame.
    QStringList m_pendingEntries;
    std::optional<QString> m_pendingStatus;
    qsizetype m_found = -1; // pictures the page references, -1 before they are known
    qsizetype m_done = 0;   // of those, saved, kept or passed over
    bool m_progressPending = false;
    qsizetype m_progressWidthFor = -1; // the count the progress widget is sized for
    // The pictures the harvest passed over, with their causes.
    struct FailedImage {
        QString name;
        QString cause;   // in the window's words
        QString message; // the transfer's own
    };
    QList<FailedImage> m_failedImages;
    QElapsedTimer m_lastFrame; // when the changes were last shown
    QTimer m_frame;
};
