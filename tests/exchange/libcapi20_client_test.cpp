// The production path for real: Debian's libcapi20 talking remote CAPI to
// tellmaro-sim in another process. A small client registers, reads the
// profile, listens, takes a call, exchanges audio both ways, receives DTMF
// and sees the caller hang up; the simulator checks its scenario.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "capi/byte_order.h"
#include "capi/libcapi20_driver.h"
#include "capi/message_header.h"
#include "capi/message_templates.h"
#include "capi/parameter_records.h"
#include "exchange/audio_block.h"

extern char** environ;

namespace tellmaro::test {
namespace {

using namespace std::chrono_literals;
using capi::Command;
using capi::Subcommand;

constexpr const char* kScenario = R"(line 0711555000
party mobile 01711234567 answer=1s hangup=4s keys=1s:12,1500ms:#
at 300ms mobile call
expect idle
expect clean
end 6s
)";

uint16_t freePort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

bool accepting(uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return ok;
}

std::string readText(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// tellmaro-sim with a scenario, its output in a file, reaped at the end.
class SimulatorProcess {
  public:
    SimulatorProcess(const std::filesystem::path& dir, uint16_t port) : output_(dir / "sim.out") {
        std::ofstream(dir / "scenario.txt") << kScenario;
        std::string portText = std::to_string(port);
        std::string scenario = (dir / "scenario.txt").string();
        const char* argv[] = {TELLMARO_SIM_PATH, "--port", portText.c_str(), scenario.c_str(),
                              nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, output_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        spawned_ = posix_spawn(&pid_, TELLMARO_SIM_PATH, &actions, nullptr,
                               const_cast<char**>(argv), environ) == 0;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~SimulatorProcess() {
        if (pid_ > 0 && !reaped_) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    bool spawned() const { return spawned_; }
    int wait() {
        int status = 0;
        waitpid(pid_, &status, 0);
        reaped_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string output() const { return readText(output_); }

  private:
    std::filesystem::path output_;
    pid_t pid_ = -1;
    bool spawned_ = false;
    bool reaped_ = false;
};

TEST(Libcapi20Client, TakesACallThroughTheRealLibraryAndTheSimulator) {
    std::random_device random;
    auto dir =
        std::filesystem::temp_directory_path() / ("tellmaro-rcapi-" + std::to_string(random()));
    std::filesystem::create_directories(dir);
    uint16_t port = freePort();
    // libcapi20 drops the last character of every line, the last one too.
    std::ofstream(dir / ".capi20rc") << "REMOTE rcapi 127.0.0.1 " << port << "\nTRACELEVEL 0\n";
    setenv("HOME", dir.c_str(), 1);

    SimulatorProcess sim(dir, port);
    ASSERT_TRUE(sim.spawned());
    auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!accepting(port) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
    }

    capi::LibCapi20Driver driver;
    ASSERT_TRUE(driver.loaded()) << driver.loadError();
    ASSERT_EQ(driver.installed(), capi::kCapiOk);
    capi::CapiProfile profile{};
    ASSERT_EQ(driver.getProfile(1, profile), capi::kCapiOk);
    EXPECT_EQ(capi::readU16(profile, 2), 2u);         // B channels
    EXPECT_NE(capi::readU32(profile, 4) & 0x08, 0u);  // DTMF
    capi::ManufacturerName name{};
    ASSERT_EQ(driver.getManufacturer(name), capi::kCapiOk);
    EXPECT_STREQ(name.data(), "Tellmaro line simulator");

    uint32_t applId = 0;
    ASSERT_EQ(driver.registerApplication({3072, 2, 7, 2048}, applId), capi::kCapiOk);
    capi::MessageTemplates templates;
    templates.setApplId(static_cast<uint16_t>(applId));
    ASSERT_EQ(driver.putMessage(applId, templates.listenReq(capi::ListenMask::Calls)),
              capi::kCapiOk);

    std::string keys;
    size_t blocksIn = 0;
    size_t blocksInOrder = 0;
    uint32_t reply = 0;
    bool ended = false;
    auto callDeadline = std::chrono::steady_clock::now() + 10s;
    while (!ended && std::chrono::steady_clock::now() < callDeadline) {
        std::span<const uint8_t> message;
        uint32_t got = driver.getMessage(applId, message);
        if (got == capi::kCapiQueueEmpty) {
            std::this_thread::sleep_for(2ms);
            continue;
        }
        ASSERT_EQ(got, capi::kCapiOk);
        auto header = *capi::readHeader(message);
        uint32_t address = capi::readU32(message, 8);
        auto put = [&](capi::MessageTemplates::Bytes bytes) {
            ASSERT_EQ(driver.putMessage(applId, bytes), capi::kCapiOk);
        };
        if (header.is(Command::Connect, Subcommand::Ind)) {
            put(templates.alertReq(header.messageNumber, address));
            put(templates.connectRespAnswer(address, "0711555000"));
        } else if (header.is(Command::ConnectActive, Subcommand::Ind)) {
            put(templates.connectActiveResp(address));
        } else if (header.is(Command::ConnectB3, Subcommand::Ind)) {
            put(templates.connectB3Resp(address, 0));
        } else if (header.is(Command::ConnectB3Active, Subcommand::Ind)) {
            put(templates.facilityReqDtmfListen(address));
            put(templates.connectB3ActiveResp(address));
        } else if (header.is(Command::DataB3, Subcommand::Ind)) {
            capi::DataB3IndParams block;
            block.fill(message);
            auto origin = exchange::recogniseAudioBlock({block.data(), block.dataLength()});
            if (origin.id && !origin.damaged && origin.id->sequence == blocksIn) {
                ++blocksInOrder;
            }
            ++blocksIn;
            auto answer = exchange::makeAudioBlock({99, reply});
            put(templates.dataB3Req(address, answer.data(), 2048,
                                    static_cast<uint16_t>(reply++ % 200), 0));
            put(templates.dataB3Resp(capi::DataB3RespNumber::OnReceipt, address,
                                     block.dataHandle()));
        } else if (header.is(Command::Facility, Subcommand::Ind)) {
            capi::FacilityIndParams facility;
            facility.fill(message);
            auto parameter = facility.parameter();
            keys.append(parameter.begin() + 1, parameter.begin() + 1 + parameter[0]);
            put(templates.facilityResp(address));
        } else if (header.is(Command::DisconnectB3, Subcommand::Ind)) {
            put(templates.disconnectB3Resp(address));
        } else if (header.is(Command::Disconnect, Subcommand::Ind)) {
            put(templates.disconnectResp(header.messageNumber, address));
            ended = true;
        }
    }
    EXPECT_TRUE(ended);
    EXPECT_EQ(keys, "12#");
    EXPECT_GE(blocksIn, 10u);  // about 4 s of audio at one block per 256 ms
    EXPECT_EQ(blocksInOrder, blocksIn);
    driver.release(applId);

    int status = sim.wait();
    std::string output = sim.output();
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find("scenario passed"), std::string::npos) << output;
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tellmaro::test
