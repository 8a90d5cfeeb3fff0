// tellmaro-sip after mutated SIP and RTP from the provider's address and others: registered, the
// owner's call taken while the application dials (both call slots), no sanitizer report or leak.

#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "capi/libcapi20_driver.h"
#include "capi/parameter_records.h"
#include "sip/sip_peer.h"
#include "support/simulator_process.h"

namespace tellmaro::test {
namespace {

using namespace std::chrono_literals;
using capi::Command, capi::Subcommand;
const std::string kPc = "0711555000", kOwner = "1711234567";
// ASan's quarantine keeps freed memory (256 MB by default) and its allocator gives pages back
// now and then: a small quarantine (a use after free is still caught for the last megabyte
// freed) and a quick release, so that the resident size follows what is in use.
constexpr const char* kAsanOptions =
    "detect_leaks=1:abort_on_error=1:quarantine_size_mb=1:allocator_release_to_os_interval_ms=100";

std::string replace(std::string text, const std::string& key, const std::string& value) {
    for (size_t at = 0; (at = text.find(key, at)) != text.npos; at += value.size()) {
        text.replace(at, key.size(), value);
    }
    return text;
}
// One to three of: a bit flipped, bytes put in or taken out, a line doubled, a huge header
// value, a long number, the rest cut off.
std::string mutate(std::string m, std::mt19937& random) {
    for (auto count = 1 + random() % 3; count-- > 0;) {
        const size_t at = random() % (m.size() + 1), end = std::min(m.find("\r\n", at), m.size());
        const size_t from = m.rfind('\n', at) + 1;  // 0 without one
        const std::function<void()> mutations[] = {
            [&] { m.empty() ? void() : void(m[at % m.size()] ^= char(1 << random() % 8)); },
            [&] { m.insert(at, 1 + random() % 8, static_cast<char>(random())); },
            [&] { m.erase(at, 1 + random() % 40); },
            [&] { m.insert(from, m.substr(from, end + 2 - from)); },
            [&] { m.insert(end, replace(std::string(500 + random() % 2000, 'a'), "aaaa", "a a")); },
            [&] { m = replace(m, kOwner, std::string(20 + random() % 300, '7')); },
            [&] { m.resize(at); }};
        mutations[random() % 7]();
    }
    return m;
}
TEST(NetworkFuzz, LineWholeAfterMutatedSipAndRtpFromAnywhere) {
    const char* seedText = std::getenv("TELLMARO_NETFUZZ_SEED");
    const unsigned seed = seedText ? std::stoul(seedText) : 20261205;
    std::mt19937 random(seed);
    const auto dir = freshFolder("tellmaro-netfuzz-");
    const uint16_t capiPort = freeUdpPort(), sipPort = freeUdpPort(), provider = freeUdpPort(),
                   callee = freeUdpPort(), rtp = 20000 + std::random_device()() % 20000 * 2;
    uint16_t port = 0;
    std::vector<int> from(9);  // 127.0.0.9 .. 127.0.0.1, the provider's address
    std::generate(from.begin(), from.end(), [&, host = INADDR_LOOPBACK + 9]() mutable {
        return bindLoopbackUdp(port, --host);
    });
    auto text = replace(readFile(TELLMARO_SIP_RELAY_DIR "/network_fuzz_seeds.txt"), "\n", "\r\n");
    text = replace(replace(text, "@SIP@", "127.0.0.1:" + std::to_string(sipPort)), "@US@",
                   "127.0.0.1:" + std::to_string(port));
    std::vector<std::string> seeds;  // between "%%" lines
    for (size_t at = 0, next = 0; at < text.size(); at = next + 4) {
        next = std::min(text.find("%%\r\n", at), text.size());
        seeds.push_back(replace(text.substr(at, next - at), "@USPORT@", std::to_string(port)));
    }
    Sipp registrar(dir, "registrar", "sip/registrar.xml", provider,
                   {{"auth_user", kPc}, {"auth_password", "s"}, {"grant", "3"}});
    std::ofstream(dir / "sip.conf")
        << "user = " << kPc << "\npassword = s\nregistrar = 127.0.0.1:" << provider
        << "\ndomain = 127.0.0.1:" << callee << "\nlisten = 127.0.0.1\nport = " << sipPort
        << "\nrtp_ports = " << rtp << "-" << rtp + 4
        << "\nrtp_timeout = 2\nrealm = tellmaro.test\n";
    chmod((dir / "sip.conf").c_str(), 0600);
    setenv("ASAN_OPTIONS", kAsanOptions, 1);
    ChildProcess sip({TELLMARO_PROGRAM_DIR "/tellmaro-sip", "--config", dir / "sip.conf", "--port",
                      std::to_string(capiPort)},
                     dir / "tellmaro-sip.out");
    ASSERT_TRUE(sip.waitForOutput("registration registered", 20s)) << sip.output();
    useRemoteCapi(dir, capiPort);
    capi::LibCapi20Driver driver;
    capi::MessageTemplates t;
    uint32_t appl = 0, dialled = 0;
    std::set<uint32_t> open, active;  // PLCIs: answered or dialled until cleared; connected
    auto put = [&](capi::MessageTemplates::Bytes bytes) { driver.putMessage(appl, bytes); };
    ASSERT_EQ(driver.registerApplication({3072, 2, 7, 2048}, appl), 0u);
    t.setApplId(static_cast<uint16_t>(appl));
    put(t.listenReq(capi::ListenMask::Calls));
    auto serve = [&] {  // the application: it answers the owner's calls and refuses others
        for (std::span<const uint8_t> m; driver.getMessage(appl, m) == capi::kCapiOk;) {
            const auto h = *capi::readHeader(m);
            const uint32_t plci = capi::readU32(m, 8);
            const bool owner = std::string(m.begin(), m.end()).find(kOwner) != kOwner.npos;
            if (h.is(Command::Connect, Subcommand::Ind)) {
                put(owner ? t.connectRespAnswer(plci, kPc)
                          : t.connectRespRefuse(h.messageNumber, plci));
                owner ? void(open.insert(plci)) : void();
            } else if (h.is(Command::Connect, Subcommand::Conf)) {
                open.insert(dialled = plci);
            } else if (h.is(Command::ConnectActive, Subcommand::Ind)) {
                put(t.connectActiveResp(plci)), active.insert(plci);
            } else if (h.is(Command::Disconnect, Subcommand::Ind)) {
                put(t.disconnectResp(h.messageNumber, plci)), open.erase(plci), active.erase(plci);
            }
        }
    };
    auto rss = [&, status = "/proc/" + std::to_string(sip.pid()) + "/status"] {
        return std::stol(readFile(status).substr(readFile(status).find("VmRSS:") + 6));
    };
    // Two storms of 12,000 SIP datagrams and 3,000 RTP packets (PCMA, PCMU, events or any type)
    // to the range, 3,000 a second, half from the provider's address (whose INVITEs are taken).
    // The resident size right after each: libre keeps a transaction 32 s and no allocator gives
    // its peak back, so the second, begun when the first one's are gone, shows what it left.
    std::vector<long> resident = {rss()};
    int mutated = 0;
    for (auto start = std::chrono::steady_clock::now(); resident.size() < 3;
         start = std::chrono::steady_clock::now()) {
        for (int i = 0; i < 15000; ++i) {
            const bool media = i % 5 == 4;
            auto bytes = replace(seeds[random() % seeds.size()], "@NEW@", std::to_string(random()));
            bytes =
                replace(bytes, "@LEN@", std::to_string(bytes.size() - bytes.find("\r\n\r\n") - 4));
            mutated += !media && random() % 8 ? (bytes = mutate(bytes, random), 1) : 0;
            const char type = random() % 4 ? "\x08\x00\x65"[random() % 3] : random() & 0x7f;
            bytes = media ? std::string{'\x80', type} + std::string(random() % 400, char(random()))
                          : bytes;
            const uint16_t to = media ? rtp + i / 5 % 4 : sipPort;
            sockaddr_in address{AF_INET, htons(to), {htonl(INADDR_LOOPBACK)}, {}};
            sendto(from[i % 2 ? random() % 8 : 8], bytes.data(), bytes.size(), 0,
                   reinterpret_cast<sockaddr*>(&address), sizeof address);
            std::this_thread::sleep_until(start + i * 333us);
            serve();
        }
        resident.push_back(rss());
        waitUntil([&] { return serve(), resident.size() > 2; }, 28s);
    }
    const size_t registered = registrar.count("SIP/2.0 200 OK");
    EXPECT_GE(mutated, 20000);
    EXPECT_LE(resident[2], resident[1] + 2048);
    EXPECT_TRUE(waitUntil([&] { return serve(), open.empty(); }, 10s));  // the storms' calls end
    // The owner calls from the provider's address; answered, the application dials.
    Sipp far(dir, "callee", "sip/callee_answer.xml", callee, {{"rtp_port", "9"}}, {"-m", "1"});
    std::ofstream(dir / "owner.csv")
        << "SEQUENTIAL\n<sip:0" << kOwner << "@127.0.0.1>;" << kPc << ";X-A: 1;X-B: 1;8 101\n";
    Sipp owner(dir, "owner", "sip/caller.xml", freeUdpPort(), {},
               {"-inf", dir / "owner.csv", "-m", "1", "127.0.0.1:" + std::to_string(sipPort)});
    EXPECT_TRUE(waitUntil([&] { return serve(), active.size() == 1; }, 8s));
    put(t.connectReqToNumber("0899999", kPc));
    EXPECT_TRUE(waitUntil([&] { return serve(), active.size() == 2; }, 5s));
    put(t.disconnectReq(capi::DisconnectReqNumber::SendDisconnectReq, dialled));
    EXPECT_TRUE(waitUntil([&] { return serve(), active.empty(); }, 10s));
    EXPECT_TRUE(waitUntil([&] { return registrar.count("SIP/2.0 200 OK") > registered; }, 5s));
    std::printf("| netfuzz seed %u | 24,000 SIP (%d mutated), 6,000 RTP | %ld, %ld, %ld kB |\n",
                seed, mutated, resident[0], resident[1], resident[2]);
    driver.release(appl);
    EXPECT_EQ(sip.stop(SIGTERM), 0);
    for (const char* report : {"ERROR: AddressSanitizer", "runtime error:", "LeakSanitizer"}) {
        EXPECT_EQ(sip.output().find(report), std::string::npos) << sip.output();
    }
    HasFailure() ? void() : void(std::filesystem::remove_all(dir));
}

}  // namespace
}  // namespace tellmaro::test
