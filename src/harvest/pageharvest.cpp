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
#include <QUrl>

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
    const Outcome outcome = harvest(nullptr);
    --m_runDepth;
    return outcome;
}

PageHarvest::Outcome PageHarvest::runOnPage(const QString &page, const QString &pageUrl,
                                            const QString &baseUrl)
{
    const GivenPage given{page, pageUrl, baseUrl};
    ++m_runDepth;
    const Outcome outcome = harvest(&given);
    --m_runDepth;
    return outcome;
}

void PageHarvest::cancel()
{
    if (m_ticket != 0)
        m_inet.cancelTransfer(m_ticket);
}

TransferReply PageHarvest::transfer(const QString &url, qint32 dataType, const QString &referer)
{
    const int ticket = m_inet.startTransfer(url, dataType, referer);
    // A run started while this one waits has transfers of its own; this one's comes back after.
    const int outer = std::exchange(m_ticket, ticket);
    const auto restore = qScopeGuard([this, outer] { m_ticket = outer; });
    const QMetaObject::Connection states = QObject::connect(
        &m_inet, &UrlTransfer::StateChanged, &m_inet, [this, ticket](int from, qint16 state) {
            if (from == ticket)
                m_view.transferState(state);
        });
    const auto disconnect = qScopeGuard([&states] { QObject::disconnect(states); });
    return m_inet.finishTransfer(ticket);
}

namespace {

QString causeOf(const std::exception &e)
{
    if (const auto *transfer = dynamic_cast<const TransferError *>(&e))
        return transfer->message();
    return QString::fromLocal8Bit(e.what());
}

} // namespace

PageHarvest::Outcome PageHarvest::harvest(const GivenPage *given)
{
    QString detail;
    try {
        m_failureDetail.clear();
        const QString typed = given ? given->url : m_view.address();
        m_baseAddress = splitBaseAddress(typed);

        // The page itself is fetched from the address exactly as typed.
        TransferReply reply;
        if (given) {
            reply.text = given->text;
            reply.finalUrl = given->url;
        } else {
            reply = transfer(typed, UrlTransfer::icString, m_pageReferer);
        }
        const QString &page = reply.text;
        m_pageText = page;
        m_view.setPageSource(page);

        QStringList refs;
        QList<qsizetype> positions;
        if (ScanImageRefs(page, refs, &positions) == 0) {
            // The list of the previous harvest and the save folder stay as they are.
            m_view.setStatusText(noImagesStatusText());
            m_view.showMessage(noImagesMessage());
            return Outcome::NoImages;
        }
        m_imageRefs = refs;

        // References are resolved as the browser resolves them, against the page's <base> or
        // the address the page came from after redirects; that address is also the Referer.
        const QUrl pageAddress = pageUrl(reply.finalUrl);
        // A rendered page brings the base its document resolves against.
        const QUrl base = given && !given->baseUrl.isEmpty() ? QUrl(given->baseUrl)
                                                             : referenceBase(pageAddress, page);
        const auto requestFor = [&](qsizetype i) {
            const QString written = writtenReference(page, refs.at(i), positions.at(i));
            const QUrl url = resolveReference(base, written);
            // An address that cannot be resolved is asked for as written, so that its failure
            // names it.
            return ImageRequest{url.isValid() ? url.toString(QUrl::FullyEncoded) : written,
                                refererFor(pageAddress, url)};
        };

        m_view.clearImageList();
        ImageFetch *const fetch = m_fetch;
        if (fetch)
            fetch->begin(refs.size(), requestFor);
        // Whatever ends the loop ends the fetch, so nothing after a failed image is saved.
        const auto endFetch = qScopeGuard([fetch] {
            if (fetch)
                fetch->end();
        });
        qsizetype failed = 0;
        for (qsizetype i = 0; i < refs.size(); ++i) {
            const QString &ref = refs.at(i);
            try {
                QByteArray bytes;
                if (fetch) {
                    bytes = fetch->take(i);
                } else {
                    const ImageRequest image = requestFor(i);
                    bytes = transfer(image.url, UrlTransfer::icByteArray, image.referer).bytes;
                }
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
                m_view.imageSaved(name);
            } catch (const std::exception &e) {
                if (!m_keepGoing)
                    throw;
                ++failed;
                m_view.imageFailed(requestFor(i).url, causeOf(e));
            }
        }

        m_view.setStatusText(finishedStatusText());
        m_view.beep();
        m_view.setBusyPointer(false);
        if (failed > 0) {
            m_failureDetail = QStringLiteral("%1 of %2 images failed")
                                  .arg(QString::number(failed), QString::number(refs.size()));
            return Outcome::Incomplete;
        }
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
        m_view.showMessage(connectionErrorMessage(), hidePasswords(detail));
    } catch (...) {
    }
    try {
        m_view.setBusyPointer(false);
    } catch (...) {
    }
    return Outcome::Failed;
}
