// Where the logs go: one row per environment, portable or not.
#include "data/data_folder.h"

#include <gtest/gtest.h>

#include "data_test_files.h"

namespace tellmaro::test {
namespace {

struct Row {
    const char* stateHome;  // nullptr: unset
    bool portable;
    const char* logs;  // under the test's folder; "" none, "=program" the program folder
};

TEST(LogFolder, FollowsXdgStateHomeUnlessPortable) {
    const Row rows[] = {
        {nullptr, false, "home/.local/state/tellmaro"},
        {"/STATE", false, "state/tellmaro"},
        {"relative/state", false, "home/.local/state/tellmaro"},
        {"/STATE", true, "=program"},
    };
    for (const Row& row : rows) {
        TempDir dir;
        std::filesystem::create_directories(dir / "program");
        if (row.portable) {
            writeFile(dir / "program/tellmaro.ini", {});
        }
        setenv("HOME", (dir / "home").c_str(), 1);
        const std::string state = row.stateHome ? row.stateHome : "";
        if (row.stateHome) {
            setenv("XDG_STATE_HOME", state == "/STATE" ? (dir / "state").c_str() : row.stateHome,
                   1);
        } else {
            unsetenv("XDG_STATE_HOME");
        }
        const auto place = data::locateDataFolder(dir / "program", dir / "config");
        const std::string logs = row.logs;
        EXPECT_EQ(data::locateLogFolder(place, data::stateHome()),
                  logs == "=program" ? dir / "program" : dir / logs)
            << state;
    }
    unsetenv("XDG_STATE_HOME");
}

}  // namespace
}  // namespace tellmaro::test
