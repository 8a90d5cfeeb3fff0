#pragma once
// A remote-CAPI server on 127.0.0.1: libcapi20's rcapi module connects to it
// as to a CAPI controller. One poll loop serves every connection, the
// backend's timed events and any descriptors it is asked to watch.
//
// Who: a client on this machine is served only when it runs as the user
// that runs the server or as a user given to allowUser; any other is closed
// at once. Loopback is no boundary between users. A client on another
// machine (a server told to listen elsewhere) cannot be checked.
//
// Bounds: kMaxConnections at once, a connection beyond them is closed at
// once; a client that leaves more than kMaxUnsent bytes unread is closed; a
// message longer than a frame the client can take is dropped.
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

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "exchange/controller/clock.h"
#include "exchange/rcapi/rcapi_backend.h"
#include "exchange/rcapi/rcapi_frame.h"

namespace tellmaro::exchange {

class RcapiServer {
  public:
    static constexpr size_t kMaxConnections = 8;
    // Far more than a client that reads ever lags behind.
    static constexpr size_t kMaxUnsent = 256 * 1024;

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

    // Clients of this user may connect too.
    void allowUser(uid_t uid) { allowedUsers_.insert(uid); }

    // Connection events and protocol errors, as readable lines. What is
    // refused or dropped again and again is logged once and counted.
    void setLog(std::function<void(const std::string&)> log) { log_ = std::move(log); }
    struct Refusals {
        size_t otherUser = 0;  // connections of a user not served
        size_t overLimit = 0;  // connections beyond kMaxConnections
        size_t unread = 0;     // connections closed for leaving kMaxUnsent bytes unread
        size_t oversized = 0;  // messages longer than kMaxFrame, not sent
    };
    const Refusals& refusals() const { return refusals_; }

  private:
    struct Connection {
        int fd = -1;
        rcapi::FrameReader reader;
        std::vector<uint8_t> outbox;
        size_t sent = 0;  // of the outbox
        bool registered = false;
        bool oversizedLogged = false;
        uint32_t applId = 0;
        bool closing = false;
    };

    struct Watch {
        int fd = -1;
        std::function<void()> onReadable;
    };

    void accept();
    bool admits(int fd);
    void readFrom(Connection& connection);
    void handleBody(Connection& connection, std::span<const uint8_t> body);
    void handleSpecial(Connection& connection, const rcapi::SpecialRequest& request);
    void deliver();
    void queue(Connection& connection, const std::vector<uint8_t>& frame);
    void writeTo(Connection& connection);
    void close(Connection& connection);
    void log(const std::string& line) const;

    RcapiBackend& backend_;
    const Clock& clock_;
    int listenFd_ = -1;
    uint16_t port_ = 0;
    std::vector<Connection> connections_;
    std::vector<Watch> watches_;
    std::set<uid_t> allowedUsers_;
    std::set<std::optional<uid_t>> refusedUsers_;  // logged once each
    bool limitLogged_ = false;                     // until a slot frees
    Refusals refusals_;
    std::function<void(const std::string&)> log_;
};

}  // namespace tellmaro::exchange
