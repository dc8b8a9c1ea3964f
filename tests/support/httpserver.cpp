// SPDX-License-Identifier: GPL-3.0-or-later
#include "httpserver.h"

#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

TestHttpServer::TestHttpServer() : m_server(std::make_unique<httplib::Server>())
{
    // Each connection has its own client port: counting distinct ports counts connections.
    m_server->set_pre_routing_handler([this](const httplib::Request &req, httplib::Response &) {
        std::lock_guard lock(m_mutex);
        m_clientPorts.insert(req.remote_port);
        return httplib::Server::HandlerResponse::Unhandled;
    });
    m_server->set_keep_alive_max_count(100000);
}

TestHttpServer::~TestHttpServer()
{
    stop();
}

httplib::Server &TestHttpServer::server()
{
    return *m_server;
}

void TestHttpServer::start()
{
    m_port = m_server->bind_to_any_port("127.0.0.1");
    if (m_port <= 0)
        throw std::runtime_error("cannot bind a loopback port");
    m_ended = false;
    m_thread = std::thread([this] {
        m_server->listen_after_bind();
        m_ended = true;
    });
    // A server that cannot listen ends its thread without ever running: fail the test now
    // rather than wait for it.
    while (!m_server->is_running()) {
        if (m_ended) {
            m_thread.join();
            throw std::runtime_error("the loopback server could not listen");
        }
        std::this_thread::yield();
    }
}

void TestHttpServer::stop()
{
    if (m_thread.joinable()) {
        m_server->stop();
        m_thread.join();
    }
}

int TestHttpServer::connections() const
{
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_clientPorts.size());
}

QString TestHttpServer::base() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(m_port);
}

QString TestHttpServer::url(const QString &path) const
{
    return base() + path;
}

int listenOnLoopback(int *port)
{
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr *>(&address), length) != 0 ||
        ::listen(listener, 64) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        if (listener >= 0)
            ::close(listener);
        throw std::runtime_error("cannot listen on a loopback port");
    }
    *port = ntohs(address.sin_port);
    return listener;
}
