#pragma once
// A remote-CAPI server on 127.0.0.1: libcapi20's rcapi module connects to it
// as to a CAPI controller. One poll loop serves every connection, the
// backend's timed events and any descriptors it is asked to watch.
//
// Threading: the server, its backend and the controller behind it run on the
// one thread that calls runOnce; nothing else may call them. A network that
// lives on another thread (a SIP stack) hands its events over through a
// descriptor given to watch(), typically an eventfd it writes to after
// queueing an event: poll wakes at once, and the hook, on the loop's thread,
// reads the descriptor and feeds the queued events into the controller. What
// they cause reaches the clients in the same turn.
//
// Time: `clock` must be the one the backend's controller and network use
// (SteadyClock when they run in real time); the loop waits until the
// backend's next event by it.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "exchange/controller/clock.h"
#include "exchange/rcapi/rcapi_backend.h"
#include "exchange/rcapi/rcapi_frame.h"

namespace tellmaro::exchange {

class RcapiServer {
  public:
    RcapiServer(RcapiBackend& backend, const Clock& clock);
    ~RcapiServer();
    RcapiServer(const RcapiServer&) = delete;
    RcapiServer& operator=(const RcapiServer&) = delete;

    // Binds address:port, 127.0.0.1 unless told otherwise (0 picks a free port);
    // false with a reason on failure.
    bool listen(uint16_t port, std::string& error, const std::string& address = "127.0.0.1");
    uint16_t port() const { return port_; }

    // Also waits for `fd` to become readable, and then calls `onReadable`.
    // The hook must consume what made it readable, or the loop turns at once
    // again. The descriptor stays the caller's to close, after the server.
    void watch(int fd, std::function<void()> onReadable);

    // Waits at most `maxWait` for a connection, a frame, a watched descriptor
    // or a due event, and handles whatever is ready: frames first, then the
    // hooks, then the backend's due events; then messages go out.
    void runOnce(std::chrono::milliseconds maxWait);

    size_t connectionCount() const { return connections_.size(); }
    // Connection events and protocol errors, as readable lines.
    void setLog(std::function<void(const std::string&)> log) { log_ = std::move(log); }

  private:
    struct Connection {
        int fd = -1;
        rcapi::FrameReader reader;
        std::vector<uint8_t> outbox;
        bool registered = false;
        uint32_t applId = 0;
        bool closing = false;
    };

    struct Watch {
        int fd = -1;
        std::function<void()> onReadable;
    };

    void accept();
    void readFrom(Connection& connection);
    void handleBody(Connection& connection, std::span<const uint8_t> body);
    void handleSpecial(Connection& connection, const rcapi::SpecialRequest& request);
    void deliver();
    void writeTo(Connection& connection);
    void close(Connection& connection);
    void log(const std::string& line) const;

    RcapiBackend& backend_;
    const Clock& clock_;
    int listenFd_ = -1;
    uint16_t port_ = 0;
    std::vector<Connection> connections_;
    std::vector<Watch> watches_;
    std::function<void(const std::string&)> log_;
};

}  // namespace tellmaro::exchange
