#include "exchange/rcapi/rcapi_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "exchange/rcapi/peer_user.h"

namespace tellmaro::exchange {

namespace {

// One read's worth always fits beside a partial frame.
constexpr size_t kReadChunk = rcapi::FrameReader::kCapacity - rcapi::kMaxFrame;
// What one connection may send in a turn before the others get theirs.
constexpr size_t kReadPerTurn = 64 * 1024;
constexpr size_t kAcceptsPerTurn = 4 * RcapiServer::kMaxConnections;

bool setNonBlocking(int fd) {
    int flags = fcntl(fd, F_GETFL, 0);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

std::string errnoText(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

std::string describeUser(uid_t uid) {
    return "uid " + std::to_string(uid) + " (" + userName(uid) + ")";
}

}  // namespace

RcapiServer::RcapiServer(RcapiBackend& backend, const Clock& clock)
    : backend_(backend), clock_(clock), allowedUsers_{geteuid()} {}

RcapiServer::~RcapiServer() {
    for (auto& connection : connections_) {
        close(connection);
    }
    if (listenFd_ >= 0) {
        ::close(listenFd_);
    }
}

bool RcapiServer::listen(uint16_t port, std::string& error, const std::string& host) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) {
        error = "'" + host + "' is not an IPv4 address";
        return false;
    }
    listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) {
        error = errnoText("socket");
        return false;
    }
    int yes = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        error = errnoText("cannot listen on " + host + ":" + std::to_string(port) +
                          (errno == EADDRINUSE ? " (another program uses that port)" : ""));
        return false;
    }
    if (::listen(listenFd_, 8) != 0 || !setNonBlocking(listenFd_)) {
        error = errnoText("listen");
        return false;
    }
    socklen_t length = sizeof address;
    getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    return true;
}

void RcapiServer::watch(int fd, std::function<void()> onReadable) {
    watches_.push_back({fd, std::move(onReadable)});
}

void RcapiServer::runOnce(std::chrono::milliseconds maxWait) {
    auto wait = maxWait;
    if (auto next = backend_.nextEventTime()) {
        wait = std::clamp(*next - clock_.now(), std::chrono::milliseconds(0), maxWait);
    }
    // The listening socket, the connections, then the watched descriptors.
    std::vector<pollfd> fds;
    fds.push_back({listenFd_, POLLIN, 0});
    for (const auto& connection : connections_) {
        short events = POLLIN;
        if (connection.outbox.size() > connection.sent) {
            events |= POLLOUT;
        }
        fds.push_back({connection.fd, events, 0});
    }
    const size_t firstWatch = fds.size();
    for (const auto& watch : watches_) {
        fds.push_back({watch.fd, POLLIN, 0});
    }
    int ready = poll(fds.data(), fds.size(), static_cast<int>(wait.count()));
    if (ready < 0 && errno != EINTR) {
        log(errnoText("poll"));
    }
    if (ready > 0) {
        if (fds[0].revents & POLLIN) {
            accept();
        }
        // Connections accepted just now have no entry in `fds` yet.
        for (size_t i = 1; i < firstWatch; ++i) {
            Connection& connection = connections_[i - 1];
            if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) {
                readFrom(connection);
            }
            if (!connection.closing && (fds[i].revents & POLLOUT)) {
                writeTo(connection);
            }
        }
        for (size_t i = firstWatch; i < fds.size(); ++i) {
            if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) {
                watches_[i - firstWatch].onReadable();
            }
        }
    }
    backend_.runDueEvents();
    deliver();
    std::erase_if(connections_, [](const Connection& c) { return c.fd < 0; });
}

void RcapiServer::accept() {
    for (size_t i = 0; i < kAcceptsPerTurn; ++i) {
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            return;
        }
        // Taken from the backlog and closed, so that poll does not report it again.
        if (!admits(fd)) {
            ::close(fd);
            continue;
        }
        // Every frame is a whole message the client waits for: none may wait
        // for the acknowledgement of the one before (Nagle).
        int yes = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        Connection connection;
        connection.fd = fd;
        connections_.push_back(std::move(connection));
        log("connection " + std::to_string(fd) + " opened");
    }
}

bool RcapiServer::admits(int fd) {
    const auto open = std::count_if(connections_.begin(), connections_.end(),
                                    [](const Connection& c) { return c.fd >= 0; });
    if (static_cast<size_t>(open) >= kMaxConnections) {
        ++refusals_.overLimit;
        if (!limitLogged_) {
            limitLogged_ = true;
            log("connection refused: all " + std::to_string(kMaxConnections) +
                " connections are in use (until one closes, further ones are refused without "
                "a line)");
        }
        return false;
    }
    const Peer peer = identifyPeer(fd);
    if (!peer.onThisMachine || (peer.uid && allowedUsers_.contains(*peer.uid))) {
        return true;
    }
    ++refusals_.otherUser;
    if (!refusedUsers_.insert(peer.uid).second) {
        return false;
    }
    if (!peer.uid) {
        log("connection from " + peer.address +
            " refused: its user cannot be found (it closed at once, or /proc/net/tcp cannot be "
            "read); further ones are refused without a line");
        return false;
    }
    std::string served;
    for (uid_t uid : allowedUsers_) {
        served += (served.empty() ? "" : ", ") + describeUser(uid);
    }
    const std::string name = userName(*peer.uid);
    log("connection from " + peer.address + " refused: it runs as " + describeUser(*peer.uid) +
        ", and this port serves only " + served + "; to let " + name +
        " use it, start with --allow-user " + name +
        " (further connections of that user are refused without a line)");
    return false;
}

void RcapiServer::readFrom(Connection& connection) {
    uint8_t buffer[kReadChunk];
    for (size_t total = 0; connection.fd >= 0 && total < kReadPerTurn;) {
        ssize_t n = ::recv(connection.fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            break;
        }
        if (n <= 0) {
            close(connection);
            return;
        }
        total += static_cast<size_t>(n);
        connection.reader.append(std::span<const uint8_t>(buffer, static_cast<size_t>(n)));
        while (connection.fd >= 0) {
            auto body = connection.reader.next();
            if (!body) {
                break;
            }
            handleBody(connection, *body);
        }
        if (connection.reader.failed()) {
            log("connection " + std::to_string(connection.fd) + ": " + connection.reader.error());
            close(connection);
        }
    }
    writeTo(connection);
}

void RcapiServer::handleBody(Connection& connection, std::span<const uint8_t> body) {
    auto parsed = rcapi::parseRequest(body);
    if (!parsed.request) {
        log("connection " + std::to_string(connection.fd) + ": " + parsed.error);
        return;
    }
    if (auto* special = std::get_if<rcapi::SpecialRequest>(&*parsed.request)) {
        handleSpecial(connection, *special);
        return;
    }
    if (!connection.registered) {
        log("connection " + std::to_string(connection.fd) + ": message before registration");
        return;
    }
    auto& message = std::get<rcapi::MessageRequest>(*parsed.request);
    backend_.put(connection.applId, message.message, message.data);
}

void RcapiServer::handleSpecial(Connection& connection, const rcapi::SpecialRequest& request) {
    using rcapi::SpecialCommand;
    std::vector<uint8_t> frame;
    switch (request.command) {
        case SpecialCommand::Register: {
            uint32_t applId = 0;
            uint32_t info = connection.registered
                                ? 0x1101u
                                : backend_.registerApplication(request.registerParams, applId);
            if (info == capi::kCapiOk) {
                connection.registered = true;
                connection.applId = applId;
                log("connection " + std::to_string(connection.fd) + " registered as application " +
                    std::to_string(applId));
            }
            frame = rcapi::registerAnswer(request, static_cast<uint16_t>(info));
            break;
        }
        case SpecialCommand::GetManufacturer:
            frame = rcapi::manufacturerAnswer(request, backend_.manufacturer());
            break;
        case SpecialCommand::GetVersion:
            frame = rcapi::versionAnswer(request, backend_.version());
            break;
        case SpecialCommand::GetSerialNumber:
            frame = rcapi::serialNumberAnswer(request, "0000001");
            break;
        case SpecialCommand::GetProfile: {
            auto profile = backend_.profile(request.controller);
            uint32_t installed = backend_.installed();
            // Controller 0 asks only how many controllers there are.
            size_t size = request.controller == 0 ? 2 : profile.size();
            frame = rcapi::profileAnswer(request, static_cast<uint16_t>(installed),
                                         std::span<const uint8_t>(profile.data(), size));
            break;
        }
    }
    queue(connection, frame);
}

void RcapiServer::deliver() {
    std::vector<uint8_t> message;
    std::vector<uint8_t> data;
    for (auto& connection : connections_) {
        if (connection.fd < 0 || !connection.registered) {
            continue;
        }
        if (backend_.dropRequested(connection.applId)) {
            log("connection " + std::to_string(connection.fd) + " dropped on request");
            close(connection);
            continue;
        }
        while (connection.fd >= 0 && backend_.get(connection.applId, message, data)) {
            queue(connection, rcapi::messageFrame(message, data));
        }
        writeTo(connection);
    }
}

void RcapiServer::queue(Connection& connection, const std::vector<uint8_t>& frame) {
    // The client reads every frame into a buffer of kMaxFrame bytes unchecked.
    if (frame.size() > rcapi::kMaxFrame) {
        ++refusals_.oversized;
        if (!connection.oversizedLogged) {
            connection.oversizedLogged = true;
            log("connection " + std::to_string(connection.fd) + ": a message of " +
                std::to_string(frame.size()) + " bytes not sent, a frame may have only " +
                std::to_string(rcapi::kMaxFrame) + " (further ones are dropped without a line)");
        }
        return;
    }
    auto& outbox = connection.outbox;
    // Sent bytes are moved out once they are half of it: each byte at most once.
    if (connection.sent > 0 && connection.sent >= outbox.size() / 2) {
        outbox.erase(outbox.begin(), outbox.begin() + static_cast<ptrdiff_t>(connection.sent));
        connection.sent = 0;
    }
    outbox.insert(outbox.end(), frame.begin(), frame.end());
    if (outbox.size() - connection.sent > kMaxUnsent) {
        writeTo(connection);
    }
    if (connection.fd >= 0 && outbox.size() - connection.sent > kMaxUnsent) {
        ++refusals_.unread;
        log("connection " + std::to_string(connection.fd) + ": its client left more than " +
            std::to_string(kMaxUnsent) + " bytes unread");
        close(connection);
    }
}

void RcapiServer::writeTo(Connection& connection) {
    while (connection.fd >= 0 && connection.outbox.size() > connection.sent) {
        ssize_t n = ::send(connection.fd, connection.outbox.data() + connection.sent,
                           connection.outbox.size() - connection.sent, MSG_NOSIGNAL);
        if (n > 0) {
            connection.sent += static_cast<size_t>(n);
            if (connection.sent == connection.outbox.size()) {
                connection.outbox.clear();
                connection.sent = 0;
            }
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return;  // the rest goes out when the socket is writable again
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            close(connection);
        }
    }
}

void RcapiServer::close(Connection& connection) {
    if (connection.fd < 0) {
        return;
    }
    // The client's release just closes the socket; end the application too.
    if (connection.registered) {
        backend_.release(connection.applId);
        log("application " + std::to_string(connection.applId) + " released");
    }
    log("connection " + std::to_string(connection.fd) + " closed");
    ::close(connection.fd);
    connection.fd = -1;
    limitLogged_ = false;  // a slot is free
    connection.closing = true;
    connection.registered = false;
}

void RcapiServer::log(const std::string& line) const {
    if (log_) {
        log_(line);
    }
}

}  // namespace tellmaro::exchange
