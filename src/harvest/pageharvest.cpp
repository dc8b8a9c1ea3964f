// SPDX-License-Identifier: GPL-3.0-or-later
#include "harvest/pageharvest.h"

#include "harvest/address.h"
#include "harvest/harvestview.h"
#include "harvest/imagefetch.h"
#include "harvest/imagerefs.h"
#include "platform/filewriter.h"
#include "platform/programfolder.h"
#include "platform/urltransfer.h"

#include <QFileInfo>
#include <QHash>
#include <QScopeGuard>
#include <QUrl>

#include <utility>

PageHarvest::PageHarvest(UrlTransfer &inet, HarvestView &view) : m_inet(inet), m_view(view)
{
    m_states = QObject::connect(&m_inet, &UrlTransfer::StateChanged, &m_inet,
                                [this](int ticket, qint16 state) {
                                    if (ticket != 0 && ticket == m_ticket)
                                        m_view.transferState(state);
                                });
}

PageHarvest::~PageHarvest()
{
    // The run resumes inside stop() and ends there, before anything of this harvest goes.
    stop();
    QObject::disconnect(m_states);
}

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

QString PageHarvest::refusedStatusText()
{
    return QStringLiteral(
        "画像の読み込み中です。終わるか中止するまで、次の読み込みは始められません。");
}

QCoro::Task<PageHarvest::Outcome> PageHarvest::run(QString address)
{
    return harvest(std::move(address), std::nullopt);
}

QCoro::Task<PageHarvest::Outcome> PageHarvest::runOnPage(QString page, QString pageUrl,
                                                         QString baseUrl)
{
    QString address = pageUrl;
    return harvest(std::move(address),
                   GivenPage{std::move(page), std::move(pageUrl), std::move(baseUrl)});
}

void PageHarvest::cancel()
{
    if (m_running)
        m_cancelled = true;
    if (m_ticket != 0)
        m_inet.cancelTransfer(m_ticket);
    else if (m_running && m_fetch)
        m_fetch->cancel();
}

void PageHarvest::stop()
{
    if (!m_running)
        return;
    m_stopped = true;
    cancel();
}

int PageHarvest::startTransfer(const QString &url, qint32 dataType, const QString &referer)
{
    m_ticket =
        m_inet.startTransfer(url, dataType, referer, UrlTransfer::Lane::OneAtATime, m_retries);
    return m_ticket;
}

namespace {

// Any failure of a harvest as a transfer failure, with the passwords in its addresses hidden: a
// file that cannot be written names its folder.
TransferError failureOf(const std::exception &e)
{
    TransferError::Facts facts;
    QString message;
    if (const auto *transfer = dynamic_cast<const TransferError *>(&e)) {
        facts = transfer->facts();
        message = transfer->message();
    } else if (const auto *write = dynamic_cast<const FileWriteError *>(&e)) {
        facts.kind = TransferError::Kind::CannotWrite;
        facts.folder = write->folder();
        message = QString::fromLocal8Bit(e.what());
        facts.detail = message;
    } else {
        message = QString::fromLocal8Bit(e.what());
        facts.detail = message;
    }
    facts.url = hidePasswords(facts.url);
    facts.detail = hidePasswords(facts.detail);
    return TransferError(hidePasswords(message), std::move(facts));
}

} // namespace

QCoro::Task<PageHarvest::Outcome> PageHarvest::harvest(QString address,
                                                       std::optional<GivenPage> given)
{
    if (m_running) {
        // The run under way goes on; this one only says why it did not start.
        m_view.setStatusText(refusedStatusText());
        co_return Outcome::Refused;
    }
    m_running = true;
    m_stopped = m_cancelled = false;
    const auto ended = qScopeGuard([this] {
        m_running = false;
        m_stopped = m_cancelled = false;
    });
    std::optional<TransferError> failure;
    try {
        m_failureDetail.clear();

        // The page itself is fetched from the address exactly as typed.
        TransferReply reply;
        if (given) {
            reply.text = std::move(given->text);
            reply.finalUrl = given->url;
        } else {
            const auto forget = qScopeGuard([this] { m_ticket = 0; });
            reply = co_await m_inet.finishTransfer(
                startTransfer(address, UrlTransfer::icString, m_pageReferer));
        }
        const QString &page = reply.text;
        m_view.setPageSource(page);

        QStringList refs;
        QList<qsizetype> positions;
        if (ScanImageRefs(page, refs, &positions) == 0) {
            // The list of the previous harvest and the save folder stay as they are.
            m_view.setStatusText(noImagesStatusText());
            m_view.showMessage(noImagesMessage());
            co_return Outcome::NoImages;
        }

        // References are resolved as the browser resolves them, against the page's <base> or
        // the address the page came from after redirects; that address is also the Referer.
        // The service gives it as libcurl went to it: absolute, with its scheme.
        const QUrl pageAddress(reply.finalUrl);
        // A rendered page brings the base its document resolves against.
        const QUrl base = given && !given->baseUrl.isEmpty() ? QUrl(given->baseUrl)
                                                             : referenceBase(pageAddress, page);
        // A file kept by no-clobber is not fetched.
        const auto kept = [&](const QString &name) {
            return m_noClobber && QFileInfo::exists(m_savePathName + name);
        };
        // A reference is an attribute value: its character references ("&#x2F;", "&amp;") are
        // decoded before anything else is done with it.
        const auto requestFor = [&](qsizetype i) {
            const QString written =
                decodeCharacterReferences(writtenReference(page, refs.at(i), positions.at(i)));
            const QUrl url = resolveReference(base, written);
            // An address that cannot be resolved is asked for as written, so that its failure
            // names it.
            return ImageRequest{url.isValid() ? url.toString(QUrl::FullyEncoded) : written,
                                refererFor(pageAddress, url),
                                !m_noClobber || !kept(imageFileName(refs.at(i)))};
        };

        m_view.clearImageList();
        m_view.imagesFound(refs.size());
        ImageFetch *const fetch = m_fetch;
        if (fetch)
            fetch->begin(refs.size(), requestFor);
        // Whatever ends the loop ends the fetch, so nothing after a failed image is saved.
        const auto endFetch = qScopeGuard([fetch] {
            if (fetch)
                fetch->end();
        });
        qsizetype failed = 0;
        // The addresses saved in this harvest and their names: a picture referenced again
        // (data-src and src, srcset) is listed again and counted as saved, not fetched again.
        QHash<QString, QString> savedFrom;
        for (qsizetype i = 0; i < refs.size(); ++i) {
            const QString &ref = refs.at(i);
            const QString name = imageFileName(ref);
            try {
                const ImageRequest image = requestFor(i);
                if (const auto before = savedFrom.constFind(image.url);
                    before != savedFrom.cend() && *before == name) {
                    m_view.addImageListEntry(name);
                    m_view.imageSaved(name);
                    continue;
                }
                if (kept(name)) {
                    m_view.addImageListEntry(name);
                    m_view.imageKept(name);
                    continue;
                }
                QByteArray bytes;
                if (fetch) {
                    bytes = co_await fetch->take(i);
                } else {
                    const auto forget = qScopeGuard([this] { m_ticket = 0; });
                    bytes = (co_await m_inet.finishTransfer(
                                 startTransfer(image.url, UrlTransfer::icByteArray, image.referer)))
                                .bytes;
                }
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
                savedFrom.insert(image.url, name);
                m_view.imageSaved(name);
            } catch (const std::exception &e) {
                // A run stopped or cancelled goes no further, whatever it was asked to do with
                // failures.
                if (!m_keepGoing || m_stopped || m_cancelled)
                    throw;
                ++failed;
                m_view.imageFailed(name, hidePasswords(requestFor(i).url), failureOf(e));
            }
        }

        m_view.setStatusText(finishedStatusText());
        m_view.beep();
        m_view.setBusyPointer(false);
        if (failed > 0) {
            m_failureDetail = QStringLiteral("%1 of %2 images failed")
                                  .arg(QString::number(failed), QString::number(refs.size()));
            co_return Outcome::Incomplete;
        }
        co_return Outcome::Finished;
    } catch (const std::exception &e) {
        failure = failureOf(e);
    } catch (...) {
        failure = TransferError(QStringLiteral("unknown failure"));
    }

    // Whatever failed, the user sees one message; what was done so far stays. A stopped run
    // has nobody left to tell.
    m_failureDetail = failure->message();
    if (m_stopped)
        co_return Outcome::Failed;
    try {
        m_view.showFailure(connectionErrorMessage(), *failure);
    } catch (...) {
    }
    try {
        m_view.setBusyPointer(false);
    } catch (...) {
    }
    co_return Outcome::Failed;
}
