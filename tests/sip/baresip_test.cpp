// baresip, a real phone, calls the line: it is presented, answered, its
// keys (RFC 4733) arrive once each, its audio arrives, and its hang-up ends
// the call. baresip is driven through its ctrl_tcp module.

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "exchange/sip/g711.h"
#include "exchange/sip/sip_causes.h"
#include "sip/sip_peer.h"

namespace tellmaro::test {
namespace {

constexpr const char* kBaresip = "/usr/bin/baresip";

// Connects to baresip's ctrl_tcp port and sends netstring-framed commands.
class BaresipControl {
  public:
    explicit BaresipControl(uint16_t port) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            fd_ = socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(port);
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
                return;
            }
            close(fd_);
            fd_ = -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    ~BaresipControl() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    bool connected() const { return fd_ >= 0; }
    void command(const std::string& name, const std::string& params) {
        std::string json =
            "{\"command\":\"" + name + "\",\"params\":\"" + params + "\",\"token\":\"t\"}";
        std::string frame = std::to_string(json.size()) + ":" + json + ",";
        ssize_t sent = send(fd_, frame.data(), frame.size(), MSG_NOSIGNAL);
        (void)sent;
    }

  private:
    int fd_ = -1;
};

TEST(Baresip, RealPhoneCallsKeysTalksAndHangsUp) {
    if (access(kBaresip, X_OK) != 0) {
        GTEST_SKIP() << "baresip is not installed";
    }
    auto dir = scratchDir();
    // Two seconds of a 1 kHz tone as baresip's microphone.
    {
        std::ofstream wav(dir / "tone.wav", std::ios::binary);
        auto put = [&](uint32_t value, int bytes) {
            for (int i = 0; i < bytes; ++i) {
                wav.put(static_cast<char>((value >> (8 * i)) & 0xFF));
            }
        };
        const uint32_t samples = 16000;
        wav << "RIFF";
        put(36 + samples * 2, 4);
        wav << "WAVEfmt ";
        put(16, 4), put(1, 2), put(1, 2), put(8000, 4), put(16000, 4), put(2, 2), put(16, 2);
        wav << "data";
        put(samples * 2, 4);
        for (uint32_t i = 0; i < samples; ++i) {
            put(static_cast<uint16_t>(static_cast<int16_t>(8000 * std::sin(2 * M_PI * i / 8.0))),
                2);
        }
    }
    uint16_t sipPort = freeUdpPort();
    uint16_t controlPort = freeUdpPort();
    std::ofstream(dir / "config") << "poll_method epoll\n"
                                  << "sip_listen 127.0.0.1:" << sipPort << "\n"
                                  << "audio_player aubridge,nil\n"
                                  << "audio_source aufile," << (dir / "tone.wav").string() << "\n"
                                  << "audio_alert aubridge,nil\n"
                                  << "module_path /usr/lib/baresip/modules\n"
                                  << "module g711.so\nmodule aufile.so\nmodule aubridge.so\n"
                                  << "module_app account.so\nmodule_app menu.so\n"
                                  << "module_app ctrl_tcp.so\n"
                                  << "ctrl_tcp_listen 127.0.0.1:" << controlPort << "\n";
    std::ofstream(dir / "accounts") << "\"Bob\" <sip:01701234567@127.0.0.1>;regint=0;"
                                       "audio_codecs=PCMA\n";

    LineUnderTest line(LineUnderTest::account(freeUdpPort()));
    line.start();
    ChildProcess phone({kBaresip, "-f", dir.string(), "-n", "127.0.0.1"},
                       (dir / "baresip.out").string());
    BaresipControl control(controlPort);
    ASSERT_TRUE(control.connected()) << phone.output();
    control.command("dial", "sip:030555@127.0.0.1:" + std::to_string(line.line().sipPort()));

    auto call = line.waitFor<sip::IncomingCall>();
    ASSERT_TRUE(call) << phone.output() << line.logText();
    EXPECT_EQ(call->calling, (sip::CallingParty{sip::NumberType::National,
                                                sip::Presentation::Allowed, "1701234567"}));
    line.line().alert(call->id);
    line.line().answer(call->id);
    ASSERT_TRUE(line.waitFor<sip::Answered>()) << phone.output();
    for (const char* key : {"1", "2", "#"}) {
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        control.command("sndcode", key);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    control.command("hangup", "");
    auto ended = line.waitFor<sip::Ended>();
    ASSERT_TRUE(ended) << phone.output();
    EXPECT_EQ(ended->cause, sip::cause::kNormalClearing);
    EXPECT_NE(ended->reason.find("BYE"), std::string::npos) << ended->reason;

    std::string keys;
    for (const auto& dtmf : line.all<sip::Dtmf>()) {
        keys += dtmf.key;
    }
    EXPECT_EQ(keys, "12#") << phone.output();
    size_t loud = 0;
    auto blocks = line.all<sip::AudioBlock>();
    for (const auto& block : blocks) {
        for (uint8_t byte : block.bytes) {
            loud += std::abs(sip::alawToLinear(sip::capiToPcma(byte))) > 4000 ? 1 : 0;
        }
    }
    EXPECT_GE(blocks.size(), 4u);
    EXPECT_GT(loud, sip::kBlockSize) << "the tone did not come through";
    phone.stop();
}

}  // namespace
}  // namespace tellmaro::test
