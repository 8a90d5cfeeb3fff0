#include "line_harness.h"

#include "capi/byte_order.h"
#include "capi/message_trace.h"
#include "exchange/simulated/virtual_time.h"

namespace tellmaro::exchange::test {

namespace {

constexpr size_t kData32 = 12;
constexpr size_t kData64 = 22;
constexpr size_t kDataLength = 16;
constexpr size_t kDataHandle = 18;

}  // namespace

// A message that failed to arrive reads as zeros, so the test goes on to
// report it instead of crashing.
uint32_t Received::address() const {
    return bytes.size() >= 12 ? capi::readU32(bytes, 8) : 0;
}

uint16_t Received::word(size_t offset) const {
    return bytes.size() >= offset + 2 ? capi::readU16(bytes, offset) : 0;
}

std::string Received::text() const {
    return capi::describeMessage(bytes);
}

LineHarness::LineHarness(LineConfig config) : line(clock, std::move(config)) {
    EXPECT_EQ(driver.registerApplication(capi::RegisterParams{}, appl), 0u);
    relay.setApplId(static_cast<uint16_t>(appl));
}

void LineHarness::putOk(std::span<const uint8_t> message) {
    EXPECT_EQ(put(message), 0u) << capi::describeMessage(message);
}

std::optional<Received> LineHarness::get() {
    std::span<const uint8_t> message;
    if (driver.getMessage(appl, message) != 0) {
        return std::nullopt;
    }
    Received received{{message.begin(), message.end()}, *capi::readHeader(message), {}};
    if (received.header.is(Command::DataB3, Subcommand::Ind)) {
        uint64_t pointer = capi::kDataB3Uses64BitPointer ? capi::readU64(message, kData64)
                                                         : capi::readU32(message, kData32);
        received.block = {reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(pointer)),
                          capi::readU16(message, kDataLength)};
    }
    return received;
}

Received LineHarness::expect(Command command, Subcommand subcommand) {
    auto received = get();
    if (!received) {
        ADD_FAILURE() << "no message, expected " << capi::commandName(static_cast<uint8_t>(command))
                      << "_" << capi::subcommandName(static_cast<uint8_t>(subcommand));
        return {};
    }
    EXPECT_TRUE(received->header.is(command, subcommand))
        << "got " << received->text() << ", expected "
        << capi::commandName(static_cast<uint8_t>(command)) << "_"
        << capi::subcommandName(static_cast<uint8_t>(subcommand));
    return *received;
}

void LineHarness::expectNothing() {
    if (auto received = get()) {
        ADD_FAILURE() << "unexpected " << received->text();
    }
}

void LineHarness::advance(std::chrono::milliseconds step) {
    runLineUntil(line, clock, clock.now() + step);
}

void LineHarness::listen() {
    putOk(relay.listenReq(capi::ListenMask::Calls));
    EXPECT_EQ(expect(Command::Listen, Subcommand::Conf).word(12), 0u);
}

Leg LineHarness::answerCallFrom(PartyId party) {
    line.callPcNow(party);
    Leg leg;
    leg.plci = expect(Command::Connect, Subcommand::Ind).address();
    putOk(relay.connectRespAnswer(leg.plci, kOwnNumber));
    expect(Command::ConnectActive, Subcommand::Ind);
    putOk(relay.connectActiveResp(leg.plci));
    leg.ncci = expect(Command::ConnectB3, Subcommand::Ind).address();
    putOk(relay.connectB3Resp(leg.ncci, 0));
    expect(Command::ConnectB3Active, Subcommand::Ind);
    putOk(relay.connectB3ActiveResp(leg.ncci));
    return leg;
}

Leg LineHarness::callAndConnect(const std::string& number, std::chrono::milliseconds answerWithin) {
    putOk(relay.connectReqToNumber(number, kOwnNumber));
    auto conf = expect(Command::Connect, Subcommand::Conf);
    EXPECT_EQ(conf.word(12), 0u);
    Leg leg{conf.address(), 0};
    advance(answerWithin);
    expect(Command::ConnectActive, Subcommand::Ind);
    putOk(relay.connectActiveResp(leg.plci));
    putOk(relay.connectB3Req(leg.plci));
    leg.ncci = expect(Command::ConnectB3, Subcommand::Conf).address();
    expect(Command::ConnectB3Active, Subcommand::Ind);
    putOk(relay.connectB3ActiveResp(leg.ncci));
    return leg;
}

std::string LineHarness::violations() const {
    std::string text;
    for (const auto& v : line.violations()) {
        text +=
            std::string(violationKindName(v.kind)) + ": " + v.detail + " in " + v.message + "\n";
    }
    return text;
}

}  // namespace tellmaro::exchange::test
