// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/curl/curlstates.h"

#include "platform/urltransfer.h"

#include <utility>

using State = UrlTransfer::State;

void CurlStates::reset()
{
    m_resolveShown = m_connectShown = m_headerShown = false;
    m_deferredClose = false;
}

void CurlStates::push(std::initializer_list<qint16> states)
{
    for (const qint16 state : states)
        m_report(state);
}

void CurlStates::flushDeferredClose()
{
    if (std::exchange(m_deferredClose, false))
        push({State::icDisconnecting, State::icDisconnected});
}

// A transfer can take several requests (redirects, a retry on a fresh connection). Once a
// response has begun, the next connection or request starts the states over.
void CurlStates::beginHop()
{
    if (!m_headerShown)
        return;
    flushDeferredClose();
    m_resolveShown = m_connectShown = m_headerShown = false;
}

void CurlStates::resolverStarting()
{
    beginHop();
    if (!std::exchange(m_resolveShown, true))
        push({State::icResolvingHost});
}

void CurlStates::socketOpened()
{
    beginHop();
    // Several sockets may be tried for one connection (IPv6 and IPv4); report it once.
    // A host name found in libcurl's cache was resolved all the same.
    if (std::exchange(m_connectShown, true))
        return;
    if (!std::exchange(m_resolveShown, true))
        push({State::icResolvingHost});
    push({State::icHostResolved, State::icConnecting});
}

void CurlStates::connectionClosed()
{
    if (m_headerShown) {
        // The response has arrived or is arriving: report the end of its body first.
        m_deferredClose = true;
    } else {
        push({State::icDisconnecting, State::icDisconnected});
        m_resolveShown = m_connectShown = false;
    }
}

void CurlStates::requestStarting()
{
    beginHop();
    push({State::icConnected, State::icRequesting});
}

void CurlStates::headerReceived()
{
    if (!std::exchange(m_headerShown, true))
        push({State::icRequestSent, State::icReceivingResponse});
}

void CurlStates::ended(bool bodyArrived, bool succeeded)
{
    if (bodyArrived)
        push({State::icResponseReceived});
    flushDeferredClose();
    push({succeeded ? State::icResponseCompleted : State::icError});
}
