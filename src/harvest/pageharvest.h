// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "platform/urltransfer.h"

#include <QCoro/QCoroTask>

#include <optional>

class HarvestView;
class ImageFetch;

// The page harvest: fetches the page at the address it is given, shows its source, finds its
// JPEG references and saves every image into the save folder, listing the file names.
//
// Each reference is fetched from where a browser would load it: as the page wrote it, resolved
// against the page's first <base href>, else against the address the page finally came from
// (after redirects). Image requests carry the page's address as Referer, by the browsers'
// default policy.
//
// A run is a coroutine: it reads as the flow it is (the page, then each image in turn) and
// suspends where it waits for a transfer, so the one event loop runs everything else meanwhile.
// One run at a time: a run asked for while one is under way is refused with a status text, and
// the first goes on. The view hears the states of the harvest's own transfers only, and
// cancel() and stop() touch only them.
class PageHarvest {
public:
    // Incomplete: the harvest went on past failed images (keep-going) and some failed.
    // Refused: another run of this harvest was under way.
    enum class Outcome { Finished, NoImages, Failed, Incomplete, Refused };

    PageHarvest(UrlTransfer &inet, HarvestView &view);
    // Stops a run that is under way (stop()).
    ~PageHarvest();
    PageHarvest(const PageHarvest &) = delete;
    PageHarvest &operator=(const PageHarvest &) = delete;

    // The whole harvest of the page at address, fetched exactly as typed. Never throws: every
    // failure ends in the connection-error message.
    QCoro::Task<Outcome> run(QString address);
    // The same harvest of a page that is at hand already (the document the simple browser
    // shows, after its scripts ran): page is its text, pageUrl its address (the images'
    // Referer) and baseUrl what its references are resolved against. Nothing is fetched but
    // the images.
    QCoro::Task<Outcome> runOnPage(QString page, QString pageUrl, QString baseUrl);

    // Stops the transfer the run waits for; the run then fails, also when it keeps going past
    // failed images (the user asked it to stop). Nothing when no run is under way.
    void cancel();
    // Ends the run at once, wherever it is, and tells the view nothing more (its window is
    // closing). Nothing when no run is under way.
    void stop();

    // Where the images come from: by default each is fetched through the transfer service once
    // the one before it is saved; an image fetch may fetch ahead. Not owned; nullptr for the
    // default.
    void setImageFetch(ImageFetch *fetch) { m_fetch = fetch; }

    // Whether an image that cannot be fetched or saved ends the harvest (the default) or is
    // reported to the view and passed over.
    void setKeepGoing(bool keepGoing) { m_keepGoing = keepGoing; }
    // How often each of the harvest's own transfers (the page, and the images it fetches one by
    // one) is tried again after a passing failure; by default as often as the transfer service
    // is set to (UrlTransfer::kServiceRetries).
    void setRetries(int retries) { m_retries = retries; }
    // Whether an image whose file already exists in the save folder is kept, not fetched (it is
    // listed and counted as saved all the same). Off by default.
    void setNoClobber(bool noClobber) { m_noClobber = noClobber; }
    // The Referer of the page request; none by default.
    void setPageReferer(const QString &referer) { m_pageReferer = referer; }

    // The save folder, ending with "/"; read afresh for every image written.
    QString savePathName() const { return m_savePathName; }
    void setSavePathName(const QString &path) { m_savePathName = path; }

    // Full path of the last image written (the image display also sets it).
    const QString &imageFile() const { return m_imageFile; }
    void setImageFile(const QString &path) { m_imageFile = path; }

    bool isRunning() const { return m_running; }

    // Why the latest failure happened, for logs and harvix-cli --verbose (the view is given it
    // with the connection-error message). Cleared when a run starts.
    const QString &failureDetail() const { return m_failureDetail; }

    // Texts the harvest shows.
    static QString noImagesStatusText();
    static QString noImagesMessage();
    static QString connectionErrorMessage();
    static QString finishedStatusText();
    static QString refusedStatusText();

private:
    // A page given by runOnPage.
    struct GivenPage {
        QString text;
        QString url;
        QString baseUrl;
    };
    QCoro::Task<Outcome> harvest(QString address, std::optional<GivenPage> given);
    // Starts a transfer of the harvest's own: its states go to the view, cancel() stops it. The
    // caller awaits its end and clears m_ticket.
    int startTransfer(const QString &url, qint32 dataType, const QString &referer);

    UrlTransfer &m_inet;
    HarvestView &m_view;
    QMetaObject::Connection m_states;
    ImageFetch *m_fetch = nullptr;
    bool m_keepGoing = false;
    int m_retries = UrlTransfer::kServiceRetries;
    bool m_noClobber = false;
    QString m_pageReferer;
    QString m_savePathName;
    QString m_imageFile;
    QString m_failureDetail;
    bool m_running = false;
    bool m_stopped = false;   // stop() was called during this run
    bool m_cancelled = false; // cancel() was called during this run
    int m_ticket = 0;         // the transfer the run waits for, 0 when none
};
