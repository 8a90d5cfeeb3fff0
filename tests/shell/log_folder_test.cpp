// The logs an earlier version kept beside the settings move once; a move that cannot be made
// loses nothing.
#include "shell/log_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "data/settings_file.h"
#include "support/child_process.h"

namespace tellmaro::test {
namespace {

TEST(LogFolder, OldLogsMoveOnceAndTheSettingsFollowTheCallLog) {
    const std::filesystem::path root = freshFolder("logs"), old = root / "config",
                                logs = root / "state/tellmaro";
    const shell::DataFolder folder{old, false, {}, logs};
    std::filesystem::create_directories(old);
    auto oldLogs = [&](const char* calls) {
        data::SettingsRecord settings;
        settings.logFilePath = (old / "Handy.log").string();
        ASSERT_TRUE(data::SaveSettings(old, settings).ok);
        std::ofstream(old / "Handy.log") << calls;
    };
    auto settle = [&] {
        shell::DataFolder settled = folder;
        return shell::settleLogFolder(settled);
    };
    auto callLog = [&] { return data::LoadSettings(old).settings->logFilePath; };
    oldLogs("calls");
    std::ofstream(old / "error.log") << "errors";

    EXPECT_EQ(settle().size(), 2u);
    EXPECT_EQ(readFile(logs / "error.log") + readFile(logs / "Handy.log"), "errorscalls");
    EXPECT_FALSE(exists(old / "error.log") || exists(old / "Handy.log"));
    EXPECT_EQ(callLog(), logs / "Handy.log");
    struct stat status {};
    EXPECT_TRUE(stat(logs.c_str(), &status) == 0 && (status.st_mode & 0777) == 0700);
    EXPECT_TRUE(settle().empty());

    oldLogs("older calls");  // the new place is taken: both files and the settings stay
    EXPECT_NE(settle().at(0).find("bleibt"), std::string::npos);
    EXPECT_EQ(readFile(old / "Handy.log") + readFile(logs / "Handy.log"), "older callscalls");
    EXPECT_EQ(callLog(), old / "Handy.log");
    std::filesystem::remove_all(root);
}

}  // namespace
}  // namespace tellmaro::test
