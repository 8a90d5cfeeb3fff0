// Where the logs go, one row per environment.
#include "data/data_folder.h"

#include <gtest/gtest.h>

#include "data_test_files.h"

namespace tellmaro::test {
namespace {

TEST(LogFolder, FollowsAnAbsoluteXdgStateHomeUnlessPortable) {
    // XDG_STATE_HOME ("@" the test's folder, nullptr unset), portable, the log folder there
    const std::tuple<const char*, bool, const char*> rows[] = {
        {nullptr, false, "home/.local/state/tellmaro"},
        {"@/state", false, "state/tellmaro"},
        {"relative/state", false, "home/.local/state/tellmaro"},
        {"@/state", true, "program"},
    };
    for (const auto& [state, portable, logs] : rows) {
        TempDir dir;
        std::filesystem::create_directories(dir / "program");
        if (portable) {
            writeFile(dir / "program/tellmaro.ini", {});
        }
        setenv("HOME", (dir / "home").c_str(), 1);
        const std::string value = state ? state : "";
        state ? setenv("XDG_STATE_HOME",
                       (value[0] == '@' ? (dir / "state").string() : value).c_str(), 1)
              : unsetenv("XDG_STATE_HOME");
        const auto place = data::locateDataFolder(dir / "program", dir / "config");
        EXPECT_EQ(data::locateLogFolder(place, data::stateHome()), dir / logs) << value;
    }
    unsetenv("XDG_STATE_HOME");
}

}  // namespace
}  // namespace tellmaro::test
