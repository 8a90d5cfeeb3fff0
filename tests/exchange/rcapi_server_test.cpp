// The remote-CAPI server's loop as a network on another thread drives it: a
// watched eventfd wakes it, and what the hook feeds into the controller
// reaches the client in the same turn.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "capi/message_header.h"
#include "capi/message_templates.h"
#include "exchange/rcapi/controller_backend.h"
#include "exchange/rcapi/rcapi_server.h"
#include "exchange/simulated/line_simulator.h"
#include "support/byte_compare.h"

namespace tellmaro::exchange {
namespace {

using namespace std::chrono_literals;

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
