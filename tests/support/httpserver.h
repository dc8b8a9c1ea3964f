// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

// A real HTTP server on 127.0.0.1 at a free port, run on its own thread for one test.
// Register handlers through server() before start(); stop() (or the destructor) shuts it down.
class TestHttpServer {
public:
    TestHttpServer();
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer &) = delete;
    TestHttpServer &operator=(const TestHttpServer &) = delete;

    httplib::Server &server();
    // Throws when no loopback port can be bound or the server cannot listen on it.
    void start();
    void stop();

    int port() const { return m_port; }
    // "http://127.0.0.1:PORT" without a trailing slash.
    QString base() const;
    // base() + path; path starts with "/".
    QString url(const QString &path) const;
    // Number of TCP connections the server has accepted so far.
    int connections() const;

private:
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    std::atomic<bool> m_ended = false; // the listening thread has returned
    int m_port = 0;
    mutable std::mutex m_mutex;
    std::set<int> m_clientPorts;
};

// A TCP socket listening on 127.0.0.1 at a free port, for servers that write their replies by
// hand (a reply cut anywhere, a connection dropped); the port goes to *port. Throws when no
// port can be had.
int listenOnLoopback(int *port);
