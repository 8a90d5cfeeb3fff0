// tellmaro-console for real: a copy of the program directory, libcapi20 and
// tellmaro-sim in a process of its own.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "data/call_dir_file.h"
#include "data/mobile_number_file.h"
#include "data/settings_file.h"
#include "data/windows1252.h"
#include "support/child_process.h"
#include "support/simulator_process.h"

namespace tellmaro::test {
namespace {

using namespace std::chrono_literals;

// A fresh copy of build/bin, configured for the scenarios below.
class ProgramDirectory {
  public:
    ProgramDirectory() {
        std::random_device random;
        root_ = std::filesystem::temp_directory_path() /
                ("tellmaro-console-" + std::to_string(random()) + std::to_string(random()));
        std::filesystem::create_directories(root_ / "run");
        std::filesystem::copy(TELLMARO_PROGRAM_DIR, dir(),
                              std::filesystem::copy_options::recursive);
        // The single-instance lock of these programs stays in here.
        setenv("XDG_RUNTIME_DIR", (root_ / "run").c_str(), 1);
    }
    ~ProgramDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }

    std::filesystem::path dir() const { return root_ / "program"; }
    std::filesystem::path log() const { return root_ / "Handy.log"; }

    void configure() {
        data::SettingsRecord settings;
        settings.logEnabled = true;
        settings.logFilePath = data::utf8ToWindows1252(log().string()).text.value_or("");
        settings.logFileName = "Handy.log";
        settings.ownNumber = "07115550000000000000";
        settings.ownNumberLength = 10;
        std::ofstream(log()).flush();
        ASSERT_TRUE(data::SaveSettings(dir(), settings).ok);
        ASSERT_TRUE(data::SaveMobileNumber(dir(), "01711234567").ok);
        data::PhoneBook book;
        ASSERT_TRUE(book.append({"42", "0301234567", "Alice"}));
        ASSERT_TRUE(data::SaveCallDir(dir(), book).ok);
    }

    ChildProcess start(const std::string& name) const {
        return ChildProcess({(dir() / "tellmaro-console").string()},
                            (root_ / (name + ".out")).string());
    }

    std::string callLog() const {
        std::ifstream in(log(), std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return data::windows1252ToUtf8(text.str());
    }

  private:
    std::filesystem::path root_;
};

constexpr const char* kCallScenario = R"(line 0711555000
party mobile 01711234567
party alice 0301234567 answer=1s hangup=4s
at 500ms mobile call
at 2500ms mobile keys #
at 3500ms mobile keys 42#
at 11s mobile hangup
expect alice heard mobile
expect mobile heard alice
expect idle
expect clean
end 12s
)";

TEST(ConsoleProgram, RelaysASpeedDialCallAndShutsDownOnSigterm) {
    ProgramDirectory program;
    program.configure();
    SimulatorProcess sim(TELLMARO_SIM_PATH, kCallScenario);
    ASSERT_TRUE(sim.spawned());
    ChildProcess console = program.start("console");
    ASSERT_TRUE(console.spawned());

    // Stopped while the line is still there: when the simulator goes away,
    // the relay reports the lost driver and ends by itself.
    const std::string readyAgain =
        "tray: handyyel.ico \"Aktive Verbindung\"\n"
        "tray: handygrn.ico \"Tellmaro ist betriebsbereit\"\n";
    ASSERT_TRUE(console.waitForOutput(readyAgain, 15s)) << console.output();
    EXPECT_EQ(console.stop(SIGTERM), 0);
    EXPECT_EQ(sim.wait(), 0) << sim.output();
    EXPECT_EQ(console.output(),
              "tray: handyred.ico \"Der Tellmaro wird gestartet\"\n"
              "tray: handygrn.ico \"Tellmaro ist betriebsbereit\"\n"
              "tray: handyyel.ico \"Aktive Verbindung\"\n"
              "tray: handygrn.ico \"Tellmaro ist betriebsbereit\"\n");
    std::string log = program.callLog();
    EXPECT_NE(log.find("Anrufende Nummer       : 1711234567\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("   Gewählte Nummer     : 0301234567\r\n"), std::string::npos) << log;
    // Four seconds of talk in real time cross three to five second boundaries.
    const std::string talk = "   Gesprächsdauer      : ";
    auto at = log.find(talk);
    ASSERT_NE(at, std::string::npos) << log;
    char seconds = log[at + talk.size()];
    EXPECT_TRUE(seconds >= '3' && seconds <= '5') << log;
    EXPECT_EQ(log.substr(at + talk.size() + 1, 4), " s\r\n") << log;
    EXPECT_NE(log.find("Verbindungsdauer       : "), std::string::npos) << log;
}

TEST(ConsoleProgram, RefusesToRunUnconfiguredOrTwice) {
    ProgramDirectory program;
    SimulatorProcess sim(TELLMARO_SIM_PATH, "end 60s\n");
    ASSERT_TRUE(sim.spawned());
    const std::string notConfigured =
        "message (critical): \" Tellmaro Fehler !!\" \"Das Programm ist noch nicht "
        "Konfiguriert!\\n\\rBitte stellen Sie die gewünschten Parameter ein!\"\n";

    // A first start: no settings at all.
    ChildProcess first = program.start("first");
    EXPECT_EQ(first.wait(), 2);
    EXPECT_NE(first.output().find(notConfigured), std::string::npos) << first.output();
    EXPECT_EQ(std::filesystem::file_size(program.dir() / "tellmaro.ini"), 0u);

    // Settings but no registered mobile number.
    program.configure();
    std::filesystem::remove(program.dir() / "tellmaro.mob");
    ChildProcess noMobile = program.start("no-mobile");
    EXPECT_EQ(noMobile.wait(), 2);
    EXPECT_NE(noMobile.output().find(notConfigured), std::string::npos) << noMobile.output();

    // Configured: runs; a second instance is turned away and the first goes on.
    program.configure();
    ChildProcess running = program.start("running");
    ASSERT_TRUE(running.waitForOutput("Tellmaro ist betriebsbereit", 5s)) << running.output();
    ChildProcess second = program.start("second");
    EXPECT_EQ(second.wait(), 1);
    EXPECT_EQ(second.output(),
              "message (exclamation): \"Tellmaro Hinweis !!\" \"Der Tellmaro ist bereits "
              "gestartet. Bitte verwenden Sie diese Instanz!\"\n");
    EXPECT_TRUE(running.running());
    EXPECT_EQ(running.stop(SIGINT), 0);
}

}  // namespace
}  // namespace tellmaro::test
