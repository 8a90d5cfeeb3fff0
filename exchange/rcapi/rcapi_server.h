#pragma once
// A remote-CAPI server on 127.0.0.1: libcapi20's rcapi module connects to it
// as to a CAPI controller. Single-threaded; one poll loop serves every
// connection and the backend's timed events.

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

    // Binds 127.0.0.1:port (0 picks a free port); false with a reason on failure.
    bool listen(uint16_t port, std::string& error);
    uint16_t port() const { return port_; }

    // Waits at most `maxWait` for a connection, a frame or a due event, and
    // handles whatever is ready.
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
    std::function<void(const std::string&)> log_;
};

}  // namespace tellmaro::exchange
