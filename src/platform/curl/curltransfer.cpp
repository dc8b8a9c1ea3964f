// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/curl/curltransfer.h"

#include "platform/curl/curlcheck.h"
#include "platform/curl/curljob.h"
#include "platform/curl/curlmulti.h"
#include "platform/curl/requestaddress.h"
#include "platform/pagetext.h"

#include <curl/curl.h>

#include <algorithm>

namespace {

// What an image request asks for: a JPEG, else any picture, else anything.
const char kImageAccept[] = "Accept: image/jpeg,image/*;q=0.8,*/*;q=0.5";

TransferError closedWhileFetching(const QString &url)
{
    return TransferError(
        QStringLiteral("the transfer service was closed while fetching %1").arg(url),
        TransferError::Kind::Other, url);
}

} // namespace

// Suspends a finishTransfer until the service resumes it: once its transfer has ended and the
// states are out, or once it was cancelled, or when the service closes.
class CurlTransfer::TransferEnd {
public:
    TransferEnd(CurlTransfer &service, int ticket) : m_service(service), m_ticket(ticket) {}
    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> awaiter)
    {
        m_service.m_awaiters[m_ticket] = awaiter;
    }
    void await_resume() const noexcept {}

private:
    CurlTransfer &m_service;
    int m_ticket;
};

namespace {

// The room the bodies of the transfers side by side take together, besides the awaited one.
qint64 budgetFor(qint64 maxBodySize)
{
    return maxBodySize / 2;
}

} // namespace

CurlTransfer::CurlTransfer(QObject *parent) : UrlTransfer(parent)
{
    m_budget.limit = budgetFor(m_maxBodySize);
}

CurlTransfer::~CurlTransfer()
{
    // The suspended finishTransfer calls resume and fail; nothing can be started any more.
    m_closing = true;
    while (!m_awaiters.empty()) {
        const std::coroutine_handle<> awaiter = m_awaiters.begin()->second;
        m_awaiters.erase(m_awaiters.begin());
        awaiter.resume();
    }
    // Unfinished transfers end and the cached connections close; nothing is reported any more.
    for (const auto &job : m_jobs) {
        if (job->phase() == CurlJob::Phase::Running)
            m_multi->remove(job->easy());
    }
    m_multi.reset();
    m_jobs.clear();
    curl_slist_free_all(static_cast<curl_slist *>(m_imageHeaders));
}

void CurlTransfer::setTimeoutSeconds(int seconds)
{
    m_timeoutSeconds = qMax(0, seconds);
}

void CurlTransfer::setMaxTimeSeconds(int seconds)
{
    m_maxTimeSeconds = qMax(0, seconds);
}

void CurlTransfer::setMaxBodySize(qint64 bytes)
{
    m_maxBodySize = qMax<qint64>(0, bytes);
    m_budget.limit = budgetFor(m_maxBodySize);
}

void CurlTransfer::setMaxPageSize(qint64 bytes)
{
    m_maxPageSize = qMax<qint64>(0, bytes);
}

void CurlTransfer::start()
{
    if (m_multi)
        return;
    void *share = m_session.share();
    curl_slist *accept = curl_slist_append(nullptr, kImageAccept);
    if (!accept)
        throw TransferError(QStringLiteral("cannot create a libcurl handle"));
    m_imageHeaders = accept;
    m_connections = std::make_unique<CurlConnections>();
    m_multi = std::make_unique<CurlMulti>([this] { afterAction(); });
    Q_UNUSED(share);
    m_oneAtATime = newJob();
}

CurlJob *CurlTransfer::newJob()
{
    auto job = std::make_unique<CurlJob>(
        m_session.share(), static_cast<curl_slist *>(m_imageHeaders), *m_connections, m_budget,
        [this](CurlJob &from, qint16 state) {
            m_pendingStates.push_back({from.ticket(), state});
        },
        [this](CurlJob &due) { retry(due); });
    if (!m_dnsOverHttps.isEmpty())
        setCurlOption(job->easy(), CURLOPT_DOH_URL, m_dnsOverHttps.constData(),
                      "look names up over HTTPS");
    m_jobs.push_back(std::move(job));
    return m_jobs.back().get();
}

CurlJob &CurlTransfer::jobFor(Lane lane)
{
    if (lane == Lane::OneAtATime)
        return *m_oneAtATime;
    for (const auto &candidate : m_jobs) {
        if (candidate.get() != m_oneAtATime && !candidate->isHeld())
            return *candidate;
    }
    CurlJob *job = newJob();
    // Wait for a connection that may turn out to take several streams (HTTP/2) rather than open
    // another one at once.
    setCurlOption(job->easy(), CURLOPT_PIPEWAIT, 1L, "wait for a shared connection");
    // Keep a connection for every easy handle (and more), so none is closed between images.
    m_multi->setMaxConnects(
        long(qMax<size_t>(size_t(transferdefaults::kMaxConnections), m_jobs.size() + 1)));
    return *job;
}

int CurlTransfer::startTransfer(const QString &url, qint32 dataType, const QString &referer,
                                Lane lane, int retries)
{
    if (dataType != icString && dataType != icByteArray)
        throw TransferError(
            QStringLiteral("unknown data type %1 for %2").arg(QString::number(dataType), url));
    if (lane == Lane::SideBySide && dataType != icByteArray)
        throw TransferError(QStringLiteral("only images are fetched side by side; %1 was not "
                                           "fetched")
                                .arg(url));
    if (m_closing)
        throw closedWhileFetching(url);
    if (lane == Lane::OneAtATime && m_oneAtATimeTicket != 0)
        throw TransferError(
            QStringLiteral("another transfer is under way; %1 was not fetched").arg(url),
            TransferError::Kind::Busy, url);
    start();

    CurlJob &job = jobFor(lane);
    // The address is read once, here, and goes with the transfer.
    const TransferAddress address = transferAddress(url);
    const bool image = dataType == icByteArray;
    const CurlRequest request{address,
                              image,
                              referer.toUtf8(),
                              m_session.userAgentFor(address.host),
                              image ? m_maxBodySize : m_maxPageSize,
                              m_timeoutSeconds,
                              m_maxTimeSeconds,
                              retries < 0 ? m_retries : retries};
    if (++m_lastTicket <= 0)
        m_lastTicket = 1;
    const int ticket = m_lastTicket;
    job.start(ticket, url, request);
    m_tickets[ticket] = &job;
    if (lane == Lane::OneAtATime)
        m_oneAtATimeTicket = ticket;
    if (!m_multi->add(job.easy()))
        ended(job, CURLE_FAILED_INIT);
    return ticket;
}

QCoro::Task<TransferReply> CurlTransfer::finishTransfer(int ticket)
{
    const auto found = m_tickets.find(ticket);
    if (found == m_tickets.end())
        throw TransferError(QStringLiteral("no transfer %1 is under way").arg(ticket));
    CurlJob &job = *found->second;
    const QString url = job.url();
    // The states of a transfer that ended as it started.
    deliverStates();
    // A receiver of its states may have cancelled it.
    if (m_tickets.count(ticket) && job.phase() != CurlJob::Phase::Done) {
        // The transfer waited for goes on whatever the others hold.
        job.setAwaited();
        job.resumeIfRoom();
        deliverStates();
        co_await TransferEnd(*this, ticket);
    }
    if (m_closing)
        throw closedWhileFetching(url);
    if (!m_tickets.count(ticket))
        throw TransferError(QStringLiteral("transfer of %1 cancelled").arg(url),
                            TransferError::Kind::Cancelled, url);
    release(ticket, job);
    if (!job.succeeded())
        throw job.failure();
    TransferReply reply;
    reply.finalUrl = job.finalUrl();
    if (job.image())
        reply.bytes = job.takeBody();
    else
        reply.text = pagetext::decode(job.takeBody(), job.contentType());
    resumePaused();
    co_return reply;
}

void CurlTransfer::cancelTransfer(int ticket)
{
    const auto found = m_tickets.find(ticket);
    if (found == m_tickets.end())
        return;
    CurlJob &job = *found->second;
    // A transfer cancelled before its success was reported ends in the error state.
    for (size_t i = m_delivered; i < m_pendingStates.size(); ++i) {
        if (m_pendingStates[i].ticket == ticket && m_pendingStates[i].state == icResponseCompleted)
            m_pendingStates[i].state = icError;
    }
    release(ticket, job);
    abort(job);
    job.takeBody();
    resumePaused();
    // Its awaiter, if any, learns of it now, whether or not the transfer had ended already.
    if (m_awaiters.count(ticket) &&
        std::find(m_ended.begin(), m_ended.end(), ticket) == m_ended.end())
        m_ended.push_back(ticket);
    deliverStates();
    resumeAwaiters();
}

void CurlTransfer::release(int ticket, CurlJob &job)
{
    m_tickets.erase(ticket);
    if (job.ticket() == ticket)
        job.release();
    if (m_oneAtATimeTicket == ticket)
        m_oneAtATimeTicket = 0;
}

void CurlTransfer::abort(CurlJob &job)
{
    switch (job.phase()) {
    case CurlJob::Phase::Running:
        // Ends the unfinished transfer; its connection is closed and reported as such.
        m_multi->remove(job.easy());
        ended(job, CURLE_ABORTED_BY_CALLBACK, CurlJob::Abort::Cancelled);
        break;
    case CurlJob::Phase::WaitingToRetry:
        // Only the wait is given up.
        ended(job, CURLE_ABORTED_BY_CALLBACK, CurlJob::Abort::Cancelled);
        break;
    case CurlJob::Phase::Idle:
    case CurlJob::Phase::Done:
        break;
    }
}

void CurlTransfer::ended(CurlJob &job, int curlCode, CurlJob::Abort reason)
{
    // A passing failure waits for its next try on the job's own timer (retry below).
    if (!job.end(curlCode, reason)) {
        if (job.retryDelayMs() > 0)
            m_pendingStates.push_back({job.ticket(), kRetryWaiting});
        return;
    }
    if (m_awaiters.count(job.ticket()))
        m_ended.push_back(job.ticket());
}

void CurlTransfer::retry(CurlJob &job)
{
    if (job.retryDelayMs() > 0)
        m_pendingStates.push_back({job.ticket(), kRetryStarted});
    if (!m_multi->add(job.easy()))
        ended(job, CURLE_FAILED_INIT);
    deliverStates();
    resumeAwaiters();
}

void CurlTransfer::afterAction()
{
    m_multi->takeFinished(
        [this](void *easy, int curlCode) { ended(*CurlJob::of(easy), curlCode); });
    resumePaused();
    deliverStates();
    resumeAwaiters();
}

// Emits the collected states in order. The queue is read in place, so that a cancel by a
// receiver can still change what is not out yet; such a cancel delivers the rest itself, from
// where this call stands, and the order holds. A receiver must not destroy the service.
void CurlTransfer::deliverStates()
{
    while (m_delivered < m_pendingStates.size()) {
        const PendingState pending = m_pendingStates[m_delivered++];
        if (pending.state == kRetryWaiting || pending.state == kRetryStarted)
            emit RetryWaiting(pending.ticket, pending.state == kRetryWaiting);
        else
            emit StateChanged(pending.ticket, pending.state);
    }
    m_pendingStates.clear();
    m_delivered = 0;
}

void CurlTransfer::resumeAwaiters()
{
    // An awaiter may start, end or cancel transfers before it suspends again: the queue is read
    // afresh each time, and a ticket cancelled meanwhile has been resumed already.
    while (!m_ended.empty()) {
        const int ticket = m_ended.front();
        m_ended.erase(m_ended.begin());
        const auto awaiter = m_awaiters.find(ticket);
        if (awaiter == m_awaiters.end())
            continue;
        const std::coroutine_handle<> handle = awaiter->second;
        m_awaiters.erase(awaiter);
        handle.resume();
    }
}

void CurlTransfer::resumePaused()
{
    if (m_budget.paused.empty())
        return;
    // A transfer that goes on may pause again at once, changing the list.
    const std::vector<CurlJob *> paused = m_budget.paused;
    for (CurlJob *job : paused) {
        if (!job->resumeIfRoom())
            break;
    }
}

void CurlTransfer::setRetries(int retries)
{
    m_retries = qMax(0, retries);
}

void CurlTransfer::setDnsOverHttps(const QString &url)
{
    m_dnsOverHttps = url.toUtf8();
    for (const auto &job : m_jobs)
        setCurlOption(job->easy(), CURLOPT_DOH_URL,
                      m_dnsOverHttps.isEmpty() ? nullptr : m_dnsOverHttps.constData(),
                      "look names up over HTTPS");
}
