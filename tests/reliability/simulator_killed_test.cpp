// tellmaro-console through libcapi20 when tellmaro-sim dies in the middle of
// a relayed call: the lost driver is reported and the program ends by
// itself; nothing hangs.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "data/call_dir_file.h"
#include "data/mobile_number_file.h"
#include "data/settings_file.h"
#include "data/windows1252.h"
#include "support/child_process.h"
#include "support/simulator_process.h"

namespace tellmaro::test {
namespace {

using namespace std::chrono_literals;

// A configured copy of the build's program directory.
class ProgramDirectory {
  public:
    ProgramDirectory() {
        std::random_device random;
        root_ = std::filesystem::temp_directory_path() /
                ("tellmaro-killed-" + std::to_string(random()) + std::to_string(random()));
        std::filesystem::create_directories(root_ / "run");
        std::filesystem::copy(TELLMARO_PROGRAM_DIR, dir(),
                              std::filesystem::copy_options::recursive);
        // The single-instance lock stays in here.
        setenv("XDG_RUNTIME_DIR", (root_ / "run").c_str(), 1);
        data::SettingsRecord settings;
        settings.logEnabled = true;
        settings.logFilePath = data::utf8ToWindows1252(log().string()).text.value_or("");
        settings.logFileName = "Handy.log";
        settings.ownNumber = "07115550000000000000";
        settings.ownNumberLength = 10;
        std::ofstream(log()).flush();
        ok_ = data::SaveSettings(dir(), settings).ok &&
              data::SaveMobileNumber(dir(), "01711234567").ok &&
              data::SaveCallDir(dir(), data::PhoneBook{}).ok;
    }
    ~ProgramDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }

    bool ok() const { return ok_; }
    std::filesystem::path dir() const { return root_ / "program"; }
    std::filesystem::path log() const { return root_ / "Handy.log"; }
    ChildProcess start() const {
        return ChildProcess({(dir() / "tellmaro-console").string()},
                            (root_ / "console.out").string());
    }
    std::string errorLog() const {
        std::ifstream in(dir() / "error.log", std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

  private:
    std::filesystem::path root_;
    bool ok_ = false;
};

// The call would go on for a minute; the simulator is killed long before.
constexpr const char* kLongCall = R"(line 0711555000
party mobile 01711234567
party alice 0301234567 answer=1s
at 500ms mobile call
at 2500ms mobile keys 0301234567#
end 60s
)";

TEST(SimulatorKilled, ConsoleReportsTheLostDriverAndEnds) {
    ProgramDirectory program;
    ASSERT_TRUE(program.ok());
    SimulatorProcess sim(TELLMARO_SIM_PATH, kLongCall);
    ASSERT_TRUE(sim.spawned());
    ChildProcess console = program.start();
    ASSERT_TRUE(console.spawned());
    ASSERT_TRUE(console.waitForOutput("tray: handyyel.ico \"Aktive Verbindung\"\n", 15s))
        << console.output();
    // Into the relayed conversation.
    std::this_thread::sleep_for(2s);
    ASSERT_TRUE(console.running()) << console.output();

    kill(sim.pid(), SIGKILL);
    sim.wait();

    auto deadline = std::chrono::steady_clock::now() + 5s;
    while (console.running() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
    }
    ASSERT_FALSE(console.running()) << "still running after 5 s:\n" << console.output();
    EXPECT_EQ(console.wait(), 1) << console.output();
    EXPECT_NE(console.output().find("Die Treiberdatei 'capi2032.dll' ihrer ISDN-Karte ist "
                                    "nicht richtig installiert!"),
              std::string::npos)
        << console.output();
    EXPECT_NE(program.errorLog().find("CAPI-Fehler"), std::string::npos) << program.errorLog();
}

}  // namespace
}  // namespace tellmaro::test
