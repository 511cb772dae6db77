// A TCP server on 127.0.0.1 for link tests, the same natively and under Wine.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

namespace dm::test {

// The server's side of one accepted connection. Blocking, with bounded waits.
class LoopbackConnection {
public:
    explicit LoopbackConnection(intptr_t socket) : socket_(socket) {}
    ~LoopbackConnection() { Close(); }
    LoopbackConnection(const LoopbackConnection&) = delete;
    LoopbackConnection& operator=(const LoopbackConnection&) = delete;

    // False once the peer has gone.
    bool Send(std::string_view bytes);
    // Up to `count` bytes; less when the peer closes or nothing arrives for `quietMs`.
    std::string Receive(size_t count, int quietMs = 5000);
    void Close();

private:
    intptr_t socket_;
};

// Listens on a port of the system's choosing. Each accepted connection is handed to `serve` on
// the server's thread, one at a time, and closed when `serve` returns.
class LoopbackServer {
public:
    using Serve = std::function<void(LoopbackConnection&)>;

    // A non-zero `receiveBuffer` sets SO_RCVBUF of the accepted connections.
    explicit LoopbackServer(Serve serve, int receiveBuffer = 0);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    uint16_t Port() const { return port_; }
    // Stops listening and returns how many connections were made, counting any still queued.
    int Stop();

private:
    void Run();

    Serve serve_;
    intptr_t listener_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_ {false};
    int connections_ = 0;
    std::thread thread_;
};

// A loopback port with nothing listening on it.
uint16_t UnusedLoopbackPort();

}  // namespace dm::test
