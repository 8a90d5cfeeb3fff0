// CPU of the remote-CAPI server for a flood of small requests from one
// client: 300,000 messages to the controller, then 300,000 version requests
// whose answers the client reads as they come. Both cost linear time.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "cpu_time.h"
#include "exchange/controller/clock.h"
#include "exchange/rcapi/rcapi_server.h"

namespace {

using namespace tellmaro::exchange;
namespace capi = tellmaro::capi;

// Takes every message and has nothing to say.
struct CountingBackend final : RcapiBackend {
    size_t puts = 0;
    uint32_t registerApplication(const capi::RegisterParams&, uint32_t& applId) override {
        applId = 1;
        return capi::kCapiOk;
    }
    void release(uint32_t) override {}
    void put(uint32_t, std::span<const uint8_t>, std::span<const uint8_t>) override { ++puts; }
    bool get(uint32_t, std::vector<uint8_t>&, std::vector<uint8_t>&) override { return false; }
    bool dropRequested(uint32_t) const override { return false; }
    capi::CapiVersion version() const override { return {2, 0, 1, 0}; }
    capi::ManufacturerName manufacturer() const override { return {}; }
    capi::CapiProfile profile(uint32_t) const override { return {}; }
    uint32_t installed() const override { return 1; }
    void runDueEvents() override {}
    std::optional<std::chrono::milliseconds> nextEventTime() const override { return {}; }
};

constexpr size_t kRequests = 300000;

std::vector<uint8_t> repeated(std::vector<uint8_t> frame, size_t times) {
    std::vector<uint8_t> bytes;
    bytes.reserve(frame.size() * times);
    for (size_t i = 0; i < times; ++i) {
        bytes.insert(bytes.end(), frame.begin(), frame.end());
    }
    return bytes;
}

// Sends `bytes` while the server turns, counting the bytes that come back,
// until `done` holds; the CPU seconds this took.
template <typename Done>
double flood(RcapiServer& server, int fd, const std::vector<uint8_t>& bytes, size_t& received,
             Done done) {
    const double before = tellmaro::bench::cpuSeconds();
    std::vector<uint8_t> answers(1 << 16);
    for (size_t at = 0, turns = 0; !done() && turns < 10000000; ++turns) {
        ssize_t n = send(fd, bytes.data() + at, bytes.size() - at, MSG_DONTWAIT | MSG_NOSIGNAL);
        at += static_cast<size_t>(std::max<ssize_t>(n, 0));
        server.runOnce(std::chrono::milliseconds(0));
        for (ssize_t got; (got = recv(fd, answers.data(), answers.size(), MSG_DONTWAIT)) > 0;) {
            received += static_cast<size_t>(got);
        }
    }
    return tellmaro::bench::cpuSeconds() - before;
}

}  // namespace

int main() {
    CountingBackend backend;
    SteadyClock clock;
    RcapiServer server(backend, clock);
    std::string error;
    if (!server.listen(0, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{AF_INET, htons(server.port()), {htonl(INADDR_LOOPBACK)}, {}};
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::perror("connect");
        return 1;
    }
    const std::vector<uint8_t> registration = {0x00, 0x17, 0, 0, 0, 0, 0xF2, 0xFF, 0, 0, 0, 0,
                                               0,    0,    0, 8, 2, 0, 7,    0,    0, 8, 2};
    const std::vector<uint8_t> message = {0x00, 0x0A, 0x08, 0x00, 0x01,
                                          0x00, 0x41, 0x80, 0x01, 0x00};
    const std::vector<uint8_t> version = {0x00, 0x0E, 0, 0, 0, 0, 0xFC, 0xFF, 0, 0, 1, 0, 0, 0};
    constexpr size_t kRegisterAnswer = 12;
    constexpr size_t kVersionAnswer = 27;

    size_t received = 0;
    flood(server, fd, registration, received, [&] { return received == kRegisterAnswer; });
    const double messages = flood(server, fd, repeated(message, kRequests), received,
                                  [&] { return backend.puts == kRequests; });
    received = 0;
    const double versions = flood(server, fd, repeated(version, kRequests), received,
                                  [&] { return received == kRequests * kVersionAnswer; });
    close(fd);

    std::printf("remote-CAPI server, a flood of %zu small requests from one client\n", kRequests);
    std::printf("  messages to the controller  %zu, CPU %.3f s\n", backend.puts, messages);
    std::printf("  version requests answered   %zu, CPU %.3f s\n", received / kVersionAnswer,
                versions);
    return backend.puts == kRequests && received == kRequests * kVersionAnswer ? 0 : 1;
}
