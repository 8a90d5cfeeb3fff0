// Remote CAPI framing against the bytes libcapi20's rcapi module sends and expects, and the
// server's users and bounds against raw sockets; the server meets the real library in
// console_program_tests and, woken by the SIP network's descriptor, in sip_relay_tests.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include "exchange/rcapi/peer_user.h"
#include "exchange/rcapi/rcapi_server.h"
#include "support/byte_compare.h"
#include "support/child_process.h"

namespace tellmaro::exchange {
namespace {

// capi20_register(2, 7, 2048, ...) with its version word cut short.
const std::string kRegistration =
    "00 17 00 00 00 00 F2 FF 00 00 00 00 00 00 00 08 02 00 07 00 00 08 02";
const auto registration = test::hexBytes(kRegistration);

// A server on a free port with itself as backend and its log kept, turned by the test.
struct Served final : RcapiBackend {
    std::vector<std::vector<uint8_t>> outgoing;  // for whichever application asks
    size_t applications = 0, puts = 0, released = 0;
    SteadyClock clock;
    std::string log, error;
    RcapiServer server{*this, clock};
    bool listening =
        (server.setLog([this](auto& line) { log += line + "\n"; }), server.listen(0, error));
    uint32_t registerApplication(const capi::RegisterParams&, uint32_t& applId) override {
        return applId = static_cast<uint32_t>(++applications), capi::kCapiOk;
    }
    void release(uint32_t) override { ++released; }
    void put(uint32_t, std::span<const uint8_t>, std::span<const uint8_t>) override { ++puts; }
    bool get(uint32_t, std::vector<uint8_t>& message, std::vector<uint8_t>&) override {
        return !outgoing.empty() &&
               (message = outgoing.front(), outgoing.erase(outgoing.begin()), true);
    }
    bool dropRequested(uint32_t) const override { return false; }
    capi::CapiVersion version() const override { return {}; }
    capi::ManufacturerName manufacturer() const override { return {}; }
    capi::CapiProfile profile(uint32_t) const override { return {}; }
    uint32_t installed() const override { return 1; }
    void runDueEvents() override {}
    std::optional<std::chrono::milliseconds> nextEventTime() const override { return {}; }
    void turn(int times = 3) {
        while (times-- > 0) {
            server.runOnce(std::chrono::milliseconds(5));
        }
    }
    int connect(bool registering = false) {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{AF_INET, htons(server.port()), {htonl(INADDR_LOOPBACK)}, {}};
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        send(fd, registration.data(), registering ? registration.size() : 0, 0);
        return turn(), fd;
    }
};

TEST(RcapiFrame, ReadsRequestsFromAnyPiecesAndAnswersInKind) {
    // capi20_register, a profile request, and a DATA_B3_REQ in the 64-bit layout with its block.
    auto profile = test::hexBytes("00 0E  00 00 00 00 E0 FF 00 00 01 00 00 00");
    auto dataReq = test::hexBytes(
        "1E 00 01 00 86 80 8D 00  01 01 01 00  00 00 00 00  00 08 09 01"
        "00 00  A0 30 47 B8 B9 55 00 00");
    std::vector<uint8_t> block(2048, 0x5A);
    rcapi::FrameReader reader;
    std::vector<rcapi::Request> requests;
    for (uint8_t byte :
         test::concat({registration, profile, test::hexBytes("08 20"), dataReq, block})) {
        reader.append(std::span<const uint8_t>(&byte, 1));
        while (auto body = reader.next()) {
            auto parsed = rcapi::parseRequest(*body);
            ASSERT_TRUE(parsed.request) << parsed.error;
            requests.push_back(*parsed.request);
        }
    }
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_FALSE(reader.failed() || reader.hasPartialFrame());
    const auto& p = std::get<rcapi::SpecialRequest>(requests[0]).registerParams;
    EXPECT_EQ(std::vector<uint32_t>(
                  {p.messageBufferSize, p.maxLogicalConnections, p.maxB3Blocks, p.maxB3BlockSize}),
              std::vector<uint32_t>({2048, 2, 7, 2048}));
    const auto& profileRequest = std::get<rcapi::SpecialRequest>(requests[1]);
    EXPECT_EQ(profileRequest.controller, 1u);
    EXPECT_BYTES_EQ(dataReq, std::get<rcapi::MessageRequest>(requests[2]).message);
    EXPECT_BYTES_EQ(block, std::get<rcapi::MessageRequest>(requests[2]).data);

    for (const char* length : {"00 01", "10 01"}) {
        rcapi::FrameReader broken;
        broken.append(test::hexBytes(length));
        EXPECT_FALSE(broken.next().has_value() || !broken.failed()) << length;
    }
    for (const char* bad : {"0C 00 01 00", "20 00 01 00 05 80 01 00 01 00 00 00",
                            "00 00 00 00 AB FF 00 00 01 00 00 00"}) {
        EXPECT_FALSE(rcapi::parseRequest(test::hexBytes(bad)).request) << bad;
    }

    std::vector<uint8_t> profileBytes(64, 1);
    EXPECT_BYTES_EQ(
        test::concat({test::hexBytes("00 4C  00 00 00 00 E1 FF 00 00  00 00"), profileBytes}),
        rcapi::profileAnswer(profileRequest, 0, profileBytes));
    EXPECT_BYTES_EQ(test::hexBytes("00 1B  00 00 00 00 FD FF 00 00  00 02 00 00  00 00 00 00"
                                   "00 01 00 00  00 07 00 00 00"),
                    rcapi::versionAnswer(profileRequest, capi::CapiVersion{2, 0, 1, 7}));
}

TEST(PeerUser, FindsTheOwnerOfTheClientsSocketInTheKernelsTable) {
    // The client 127.0.0.1:40000 of the server 127.0.0.1:2662, as a little-endian machine shows it.
    const TcpEndpoint client{0x7F000001, 40000}, server{0x7F000001, 2662};
    const std::tuple<const char*, bool, std::optional<uid_t>> rows[] = {
        {"0: 0100007F:9C40 0100007F:0A66 01 0 0 0  1000 0 4711", true, 1000},
        // The server's own end; another client of the server.
        {"1: 0100007F:0A66 0100007F:9C40 01 0 0 0     0 0 4712", false, {}},
        {"2: 0100007F:9C41 0100007F:0A66 01 0 0 0  1000 0 4713", false, {}},
        {"0: 0000000000000000FFFF00000100007F:9C40 0000000000000000FFFF00000100007F:0A66 01 0 0 0 "
         "65534 0 4714",
         true, 65534},
        // Closed already: no owner, whatever uid is shown.
        {"3: 0100007F:9C40 0100007F:0A66 06 0 0 0     0 0    0", true, {}},
    };
    for (const auto& [row, found, uid] : rows) {
        const auto owner = tcpSocketOwner(row, client, server);
        EXPECT_TRUE(owner.found == found && owner.uid == uid) << row;
    }
}

TEST(RcapiServer, KeepsItsBoundsAndServesTheOthers) {
    Served s;
    std::vector<int> clients;  // the second registers and never reads
    while (clients.size() <= RcapiServer::kMaxConnections) {
        clients.push_back(s.connect(clients.size() == 1));
    }
    std::vector<uint8_t> got(64);
    EXPECT_EQ(recv(clients.back(), got.data(), 1, MSG_DONTWAIT), 0);  // the ninth: closed
    ::close(clients[2]);
    s.turn();
    clients[2] = s.connect();  // in the slot freed
    EXPECT_LT(recv(clients[2], got.data(), 1, MSG_DONTWAIT), 0);

    // 16 MiB for the one that never reads; then for another a message too long, and one.
    s.outgoing.assign(4096, std::vector<uint8_t>(4000, 0x5A));
    s.turn();
    EXPECT_TRUE(s.server.refusals().unread == 1 && s.released == 1) << s.log;
    const auto small = test::hexBytes("08 00 01 00 41 80 01 00"),
               frame = rcapi::messageFrame(small);
    s.outgoing = {std::vector<uint8_t>(4241, 0x33), small};
    send(clients[0], registration.data(), registration.size(), 0);
    s.turn();
    EXPECT_EQ(recv(clients[0], got.data(), got.size(), MSG_DONTWAIT), 12 + 10);  // answer, message
    EXPECT_BYTES_EQ(frame, std::span(got).subspan(12, 10));
    EXPECT_EQ(s.server.refusals().oversized, 1u);

    std::vector<uint8_t> flood;  // of small requests, each handled as it comes
    while (flood.size() < 100000 * 10) {
        flood.insert(flood.end(), frame.begin(), frame.end());
    }
    for (size_t at = 0, turns = 0; s.puts < 100000 && turns < 2000; ++turns, s.turn(1)) {
        at += std::max<ssize_t>(
            send(clients[0], flood.data() + at, flood.size() - at, MSG_DONTWAIT | MSG_NOSIGNAL), 0);
    }
    EXPECT_EQ(s.puts, 100000u);
    std::for_each(clients.begin(), clients.end(), ::close);
}

// As root (CI): a client of the user nobody is refused unless allowed; root's are served above.
TEST(RcapiServer, ServesOnlyItsOwnUserAndThoseAllowed) {
    if (geteuid() != 0 || !userId("nobody")) {
        GTEST_SKIP() << "needs root and the user nobody";
    }
    for (bool allowed : {false, true}) {
        Served s;
        s.server.allowUser(allowed ? *userId("nobody") : geteuid());
        const std::string script = "exec 3<>/dev/tcp/127.0.0.1/" + std::to_string(s.server.port()) +
                                   " && printf %b $(printf '\\\\x%s' " + kRegistration +
                                   ") >&3 && head -c 12 <&3";
        test::ChildProcess nobody({"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup",
                                   "--clear-groups", "/bin/bash", "-c", script},
                                  "/dev/null");
        EXPECT_TRUE(
            test::waitUntil([&] { return s.turn(1), !nobody.running(); }, std::chrono::seconds(5)));
        EXPECT_EQ(s.log.find("uid 65534 (nobody), and this port serves only uid 0 (root); to let "
                             "nobody use it, start with --allow-user nobody") == std::string::npos,
                  allowed)
            << s.log;
        EXPECT_EQ(s.applications, allowed ? 1u : 0u);
    }
}

}  // namespace
}  // namespace tellmaro::exchange
