// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/curl/curlmulti.h"

#include "platform/curl/curlcheck.h"
#include "platform/transferdefaults.h"

#include <QSocketNotifier>

#include <curl/curl.h>

namespace {

// Where a failure cannot be thrown (libcurl's own callbacks, the event loop's handlers), it is
// told on standard error.
void warnIfFailed(CURLMcode code, const char *what)
{
    if (code != CURLM_OK)
        qWarning("libcurl refused to %s: %s", what, curl_multi_strerror(code));
}

} // namespace

// The notifiers of one socket. A child of the CurlMulti, so whatever libcurl does not remove
// itself goes with it.
struct CurlMulti::Watch : QObject {
    explicit Watch(QObject *parent) : QObject(parent) {}
    QSocketNotifier *read = nullptr;
    QSocketNotifier *write = nullptr;
};

CurlMulti::CurlMulti(std::function<void()> afterAction) : m_afterAction(std::move(afterAction))
{
    m_multi = curl_multi_init();
    if (!m_multi)
        throw TransferError(QStringLiteral("cannot create a libcurl handle"));
    try {
        const auto set = [this](CURLMoption option, auto value) {
            checkCurl(curl_multi_setopt(m_multi, option, value), "set up its transfers");
        };
        set(CURLMOPT_MAXCONNECTS, transferdefaults::kMaxConnections);
        set(CURLMOPT_SOCKETFUNCTION, &CurlMulti::socketCallback);
        set(CURLMOPT_SOCKETDATA, this);
        set(CURLMOPT_TIMERFUNCTION, &CurlMulti::timerCallback);
        set(CURLMOPT_TIMERDATA, this);
    } catch (...) {
        curl_multi_cleanup(m_multi);
        throw;
    }
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] { act(CURL_SOCKET_TIMEOUT, 0); });
}

CurlMulti::~CurlMulti()
{
    // Nothing is acted on any more while libcurl closes its connections.
    m_afterAction = nullptr;
    warnIfFailed(curl_multi_cleanup(m_multi), "close its connections");
}

bool CurlMulti::add(void *easy)
{
    return curl_multi_add_handle(m_multi, easy) == CURLM_OK;
}

void CurlMulti::remove(void *easy)
{
    warnIfFailed(curl_multi_remove_handle(m_multi, easy), "end a transfer");
}

void CurlMulti::takeFinished(const std::function<void(void *, int)> &done)
{
    int left = 0;
    while (CURLMsg *message = curl_multi_info_read(m_multi, &left)) {
        if (message->msg != CURLMSG_DONE)
            continue;
        CURL *easy = message->easy_handle;
        const CURLcode code = message->data.result;
        warnIfFailed(curl_multi_remove_handle(m_multi, easy), "end a transfer");
        done(easy, code);
    }
}

void CurlMulti::setMaxConnects(long count)
{
    checkCurl(curl_multi_setopt(m_multi, CURLMOPT_MAXCONNECTS, count), "keep more connections");
}

void CurlMulti::act(int socket, int flags)
{
    int running = 0;
    warnIfFailed(curl_multi_socket_action(m_multi, socket, flags, &running), "go on");
    if (m_afterAction)
        m_afterAction();
}

int CurlMulti::socketCallback(void *, int socket, int what, void *self, void *watchp)
{
    auto *multi = static_cast<CurlMulti *>(self);
    auto *watch = static_cast<Watch *>(watchp);
    if (what == CURL_POLL_REMOVE) {
        delete watch;
        return 0;
    }
    if (!watch) {
        watch = new Watch(multi);
        warnIfFailed(curl_multi_assign(multi->m_multi, socket, watch), "watch a socket");
    }
    const auto want = [&](QSocketNotifier *&notifier, QSocketNotifier::Type type, bool wanted,
                          int flags) {
        if (notifier) {
            notifier->setEnabled(wanted);
        } else if (wanted) {
            notifier = new QSocketNotifier(socket, type, watch);
            connect(notifier, &QSocketNotifier::activated, multi,
                    [multi, socket, flags] { multi->act(socket, flags); });
        }
    };
    want(watch->read, QSocketNotifier::Read, what & CURL_POLL_IN, CURL_CSELECT_IN);
    want(watch->write, QSocketNotifier::Write, what & CURL_POLL_OUT, CURL_CSELECT_OUT);
    return 0;
}

int CurlMulti::timerCallback(void *, long ms, void *self)
{
    auto *multi = static_cast<CurlMulti *>(self);
    if (ms < 0)
        multi->m_timer.stop();
    else
        multi->m_timer.start(int(qMin<long>(ms, 24L * 3600 * 1000)));
    return 0;
}
