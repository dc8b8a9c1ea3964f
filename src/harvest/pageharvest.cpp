// SPDX-License-Identifier: GPL-3.0-or-later
#include "harvest/pageharvest.h"

#include "harvest/address.h"
#include "harvest/harvestview.h"
#include "harvest/imagefetch.h"
#include "harvest/imagerefs.h"
#include "platform/filewriter.h"
#include "platform/programfolder.h"
#include "platform/urltransfer.h"

#include <QScopeGuard>

#include <utility>

PageHarvest::PageHarvest(UrlTransfer &inet, HarvestView &view) : m_inet(inet), m_view(view) {}

PageHarvest::~PageHarvest() = default;

QString PageHarvest::noImagesStatusText()
{
    return QStringLiteral("画像ファイルが存在しない．");
}

QString PageHarvest::noImagesMessage()
{
    return QStringLiteral("画像ファイルがありません。");
}

QString PageHarvest::connectionErrorMessage()
{
    return QStringLiteral("接続エラーの様です。");
}

QString PageHarvest::finishedStatusText()
{
    return QStringLiteral("取り込み終了。");
}

PageHarvest::Outcome PageHarvest::run()
{
    ++m_runDepth;
    const Outcome outcome = harvest();
    --m_runDepth;
    return outcome;
}

PageHarvest::Outcome PageHarvest::harvest()
{
    QString detail;
    try {
        m_failureDetail.clear();
        const QString typed = m_view.address();
        const QString base = splitBaseAddress(typed);
        m_baseAddress = base;

        // The page itself is fetched from the address exactly as typed.
        const QString page = m_inet.openText(typed);
        m_pageText = page;
        m_view.setPageSource(page);

        QStringList refs;
        if (ScanImageRefs(page, refs) == 0) {
            // The list of the previous harvest and the save folder stay as they are.
            m_view.setStatusText(noImagesStatusText());
            m_view.showMessage(noImagesMessage());
            return Outcome::NoImages;
        }
        m_imageRefs = refs;

        m_view.clearImageList();
        ImageFetch *const fetch = m_fetch;
        if (fetch) {
            QStringList addresses;
            for (const QString &ref : std::as_const(refs))
                addresses.append(imageAddress(base, ref));
            fetch->begin(addresses);
        }
        // Whatever ends the loop ends the fetch, so nothing after a failed image is saved.
        const auto endFetch = qScopeGuard([fetch] {
            if (fetch)
                fetch->end();
        });
        for (qsizetype i = 0; i < refs.size(); ++i) {
            const QString &ref = refs.at(i);
            const QByteArray bytes =
                fetch ? fetch->take(i) : m_inet.openBytes(imageAddress(base, ref));
            m_imageBytes = bytes;
            const QString name = imageFileName(ref);
            m_imageFile = name;
            // The entry is added after the download and before the write: a failed download
            // leaves it out, a failed write leaves it in.
            m_view.addImageListEntry(name);
            m_view.setBusyPointer(true);
            // The save folder may have been changed while the image was downloaded.
            const QString path = m_savePathName + name;
            m_imageFile = path;
            prepareSaveFolder(m_savePathName);
            writeFileAtomically(path, bytes);
        }

        m_view.setStatusText(finishedStatusText());
        m_view.beep();
        m_view.setBusyPointer(false);
        return Outcome::Finished;
    } catch (const TransferError &e) {
        detail = e.message();
    } catch (const std::exception &e) {
        detail = QString::fromLocal8Bit(e.what());
    } catch (...) {
        detail = QStringLiteral("unknown failure");
    }

    // Whatever failed, the user sees one message; what was done so far stays.
    m_failureDetail = detail;
    try {
        m_view.showMessage(connectionErrorMessage());
    } catch (...) {
    }
    try {
        m_view.setBusyPointer(false);
    } catch (...) {
    }
    return Outcome::Failed;
}
