// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "platform/urltransfer.h"

class HarvestView;
class ImageFetch;

// The page harvest: fetches the page whose address the view holds, shows its source, finds its
// JPEG references and saves every image into the save folder, listing the file names.
//
// Each reference is fetched from where a browser would load it: as the page wrote it, resolved
// against the page's first <base href>, else against the address the page finally came from
// (after redirects). Image requests carry the page's address as Referer, by the browsers'
// default policy.
//
// The transfer service keeps the event loop running while it waits, so a second run() can start
// while one is under way (the service then refuses its transfer and that run fails on its own).
// The view hears the states of the harvest's own transfers only, and cancel() stops only them.
// Every run keeps its working values to itself and only publishes them to the state below.
// A harvest must outlive its runs: nothing run while a transfer waits may delete it (the main
// window, when closed during a harvest, is deleted only once its harvest has returned).
class PageHarvest {
public:
    // Incomplete: the harvest went on past failed images (keep-going) and some failed.
    enum class Outcome { Finished, NoImages, Failed, Incomplete };

    PageHarvest(UrlTransfer &inet, HarvestView &view);
    ~PageHarvest();
    PageHarvest(const PageHarvest &) = delete;
    PageHarvest &operator=(const PageHarvest &) = delete;

    // The whole harvest. Never throws: every failure ends in the connection-error message.
    Outcome run();
    // The same harvest of a page that is at hand already (the document the simple browser
    // shows, after its scripts ran): page is its text, pageUrl its address (the images'
    // Referer) and baseUrl what its references are resolved against. Nothing is fetched but
    // the images.
    Outcome runOnPage(const QString &page, const QString &pageUrl, const QString &baseUrl);

    // Stops the transfer the harvest waits for; the harvest then fails (or, keeping going, goes
    // on with the next image). Nothing when no harvest runs.
    void cancel();

    // Where the images come from: by default each is fetched through the transfer service once
    // the one before it is saved; an image fetch may fetch ahead. Not owned; nullptr for the
    // default.
    void setImageFetch(ImageFetch *fetch) { m_fetch = fetch; }

    // Whether an image that cannot be fetched or saved ends the harvest (the default, as the
    // window has it) or is reported to the view and passed over.
    void setKeepGoing(bool keepGoing) { m_keepGoing = keepGoing; }
    // The Referer of the page request; none by default.
    void setPageReferer(const QString &referer) { m_pageReferer = referer; }

    // The save folder, ending with "/"; read afresh for every image written.
    QString savePathName() const { return m_savePathName; }
    void setSavePathName(const QString &path) { m_savePathName = path; }

    // Source of the last page fetched.
    const QString &pageText() const { return m_pageText; }
    // References accepted by the last scan that found any.
    const QStringList &imageRefs() const { return m_imageRefs; }
    // Base address of the last harvest started.
    const QString &baseAddress() const { return m_baseAddress; }
    // Full path of the last image written (the image display also sets it).
    const QString &imageFile() const { return m_imageFile; }
    void setImageFile(const QString &path) { m_imageFile = path; }
    // Bytes of the image downloaded last.
    const QByteArray &imageBytes() const { return m_imageBytes; }

    bool isRunning() const { return m_runDepth > 0; }

    // Why the latest failure happened, for logs and harvix-cli --verbose (the user is shown only
    // the connection-error message). Cleared when a run starts.
    const QString &failureDetail() const { return m_failureDetail; }

    // Texts the harvest shows.
    static QString noImagesStatusText();
    static QString noImagesMessage();
    static QString connectionErrorMessage();
    static QString finishedStatusText();

private:
    // A page given by runOnPage.
    struct GivenPage {
        QString text;
        QString url;
        QString baseUrl;
    };
    Outcome harvest(const GivenPage *given);
    // One transfer of the harvest's own, from start to end.
    TransferReply transfer(const QString &url, qint32 dataType, const QString &referer);

    UrlTransfer &m_inet;
    HarvestView &m_view;
    ImageFetch *m_fetch = nullptr;
    bool m_keepGoing = false;
    QString m_pageReferer;
    QString m_savePathName;
    QString m_pageText;
    QStringList m_imageRefs;
    QString m_baseAddress;
    QString m_imageFile;
    QByteArray m_imageBytes;
    QString m_failureDetail;
    int m_runDepth = 0;
    int m_ticket = 0; // the transfer the harvest waits for, 0 when none
};
