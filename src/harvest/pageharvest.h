// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class HarvestView;
class ImageFetch;
class UrlTransfer;

// The page harvest: fetches the page whose address the view holds, shows its source, finds its
// JPEG references and saves every image into the save folder, listing the file names.
//
// The transfer service keeps the event loop running while it waits, so a second run() can start
// while one is under way (the service then refuses its transfer and that run fails on its own).
// Every run keeps its working values to itself and only publishes them to the state below.
// A harvest must outlive its runs: nothing run while a transfer waits may delete it (the main
// window, when closed during a harvest, is deleted only once its harvest has returned).
class PageHarvest {
public:
    enum class Outcome { Finished, NoImages, Failed };

    PageHarvest(UrlTransfer &inet, HarvestView &view);
    ~PageHarvest();
    PageHarvest(const PageHarvest &) = delete;
    PageHarvest &operator=(const PageHarvest &) = delete;

    // The whole harvest. Never throws: every failure ends in the connection-error message.
    Outcome run();

    // Where the images come from: by default each is fetched through the transfer service once
    // the one before it is saved; an image fetch may fetch ahead. Not owned; nullptr for the
    // default.
    void setImageFetch(ImageFetch *fetch) { m_fetch = fetch; }

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
    Outcome harvest();

    UrlTransfer &m_inet;
    HarvestView &m_view;
    ImageFetch *m_fetch = nullptr;
    QString m_savePathName;
    QString m_pageText;
    QStringList m_imageRefs;
    QString m_baseAddress;
    QString m_imageFile;
    QByteArray m_imageBytes;
    QString m_failureDetail;
    int m_runDepth = 0;
};
