// Remote CAPI: framing against the bytes libcapi20's rcapi module sends and
// expects (console_program_tests meets the real library), and the server's
// loop woken by a watched descriptor as a network on another thread does it.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "capi/message_header.h"
#include "capi/message_templates.h"
#include "exchange/rcapi/controller_backend.h"
#include "exchange/rcapi/rcapi_frame.h"
#include "exchange/rcapi/rcapi_server.h"
#include "exchange/simulated/line_simulator.h"
#include "support/byte_compare.h"

namespace tellmaro::exchange {
namespace {

using namespace std::chrono_literals;

TEST(RcapiFrame, ReadsRequestsFromAnyPiecesAndAnswersInKind) {
    // capi20_register(2, 7, 2048, ...), whose version word is cut short; a
    // profile request; a DATA_B3_REQ in the 64-bit layout with its block.
    auto registration =
        test::hexBytes("00 17  00 00 00 00 F2 FF 00 00 00 00 00 00  00 08 02 00 07 00 00 08 02");
    auto profile = test::hexBytes("00 0E  00 00 00 00 E0 FF 00 00 01 00 00 00");
    auto dataReq = test::hexBytes(
        "1E 00 01 00 86 80 8D 00 01 01 01 00 00 00 00 00 00 08 09 01 00 00 A0 30 47 B8 B9 55 00 "
        "00");
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
    const std::pair<std::vector<uint8_t>, std::vector<uint8_t>> answers[] = {
        {rcapi::profileAnswer(profileRequest, 0, profileBytes),
         test::concat({test::hexBytes("00 4C  00 00 00 00 E1 FF 00 00  00 00"), profileBytes})},
        {rcapi::versionAnswer(profileRequest, capi::CapiVersion{2, 0, 1, 7}),
         test::hexBytes(
             "00 1B  00 00 00 00 FD FF 00 00  00 02 00 00 00 00 00 00 00 01 00 00 00 07 00 "
             "00 00")},
    };
    for (const auto& [made, expected] : answers) {
        EXPECT_BYTES_EQ(expected, made);
    }
}

TEST(RcapiServer, AWatchedDescriptorWakesTheLoopAndWhatItsHookCausesGoesOut) {
    SteadyClock clock;
    LineConfig config;
    adaptToRemoteCapi(config);
    LineSimulator line(clock, config);
    PartyId mobile = line.addParty("01711234567");
    ControllerBackend backend(line.controller());
    RcapiServer server(backend, clock);
    std::string error;
    ASSERT_TRUE(server.listen(0, error)) << error;
    int wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    server.watch(wake, [&] {
        uint64_t count = 0;
        EXPECT_EQ(read(wake, &count, sizeof count), static_cast<ssize_t>(sizeof count));
        line.callPcNow(mobile);
    });

    int client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{AF_INET, htons(server.port()), {htonl(INADDR_LOOPBACK)}, {}};
    ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    capi::MessageTemplates templates;
    templates.setApplId(1);
    // capi20_register(2, 7, 2048, ...) as libcapi20 sends it, and a LISTEN_REQ.
    auto frames = test::concat(
        {test::hexBytes("00 17  00 00 00 00 F2 FF 00 00 00 00 00 00  00 08 02 00 07 00 00 08 02"),
         rcapi::messageFrame(templates.listenReq(capi::ListenMask::Calls))});
    ASSERT_EQ(send(client, frames.data(), frames.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(frames.size()));
    rcapi::FrameReader reader;
    auto bodies = [&] {  // every frame the server has sent since
        uint8_t buffer[4096];
        for (ssize_t n; (n = recv(client, buffer, sizeof buffer, MSG_DONTWAIT)) > 0;) {
            reader.append(std::span<const uint8_t>(buffer, static_cast<size_t>(n)));
        }
        std::vector<std::vector<uint8_t>> got;
        while (auto body = reader.next()) {
            got.push_back(*body);
        }
        return got;
    };
    size_t answers = 0;  // the registration, LISTEN_CONF
    for (int turn = 0; turn < 100 && answers < 2; ++turn) {
        server.runOnce(20ms);
        answers += bodies().size();
    }
    ASSERT_EQ(answers, 2u);

    uint64_t one = 1;
    ASSERT_EQ(write(wake, &one, sizeof one), static_cast<ssize_t>(sizeof one));
    server.runOnce(60s);  // returns at once, with the hook's indication sent
    auto after = bodies();
    ASSERT_EQ(after.size(), 1u);
    EXPECT_TRUE(capi::readHeader(after[0])->is(capi::Command::Connect, capi::Subcommand::Ind));
    close(client);
    server.runOnce(0ms);
    close(wake);
}

}  // namespace
}  // namespace tellmaro::exchange
