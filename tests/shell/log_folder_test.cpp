// The logs an earlier version kept beside the settings move once, and a
// move that cannot be made loses nothing.
#include "shell/log_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "data/settings_file.h"
#include "support/child_process.h"

namespace tellmaro::test {
namespace {

namespace fs = std::filesystem;

TEST(LogFolder, OldLogsMoveOnceAndTheSettingsFollowTheCallLog) {
    const fs::path root = freshFolder("logs");
    shell::DataFolder folder{root / "config", false, {}, root / "state/tellmaro"};
    const fs::path logs = folder.logs;
    fs::create_directories(folder.path);
    auto prepare = [&](const char* callLog) {
        data::SettingsRecord settings;
        settings.logEnabled = true;
        settings.logFilePath = (folder.path / "Handy.log").string();
        settings.logFileName = "Handy.log";
        ASSERT_TRUE(data::SaveSettings(folder.path, settings).ok);
        std::ofstream(folder.path / "Handy.log") << callLog;
    };
    auto loggedAt = [&] { return data::LoadSettings(folder.path).settings->logFilePath; };
    prepare("calls");
    std::ofstream(folder.path / "error.log") << "errors";

    shell::DataFolder first = folder;
    EXPECT_EQ(shell::settleLogFolder(first).size(), 2u);
    EXPECT_EQ(readFile(logs / "error.log"), "errors");
    EXPECT_EQ(readFile(logs / "Handy.log"), "calls");
    EXPECT_FALSE(fs::exists(folder.path / "error.log") || fs::exists(folder.path / "Handy.log"));
    EXPECT_EQ(loggedAt(), (logs / "Handy.log").string());
    struct stat status {};
    EXPECT_TRUE(stat(logs.c_str(), &status) == 0 && (status.st_mode & 0777) == 0700);

    shell::DataFolder again = folder;
    EXPECT_TRUE(shell::settleLogFolder(again).empty());

    // The new place is taken: both files and the settings stay as they are.
    prepare("older calls");
    shell::DataFolder taken = folder;
    EXPECT_NE(shell::settleLogFolder(taken).at(0).find("bleibt"), std::string::npos);
    EXPECT_EQ(readFile(folder.path / "Handy.log"), "older calls");
    EXPECT_EQ(readFile(logs / "Handy.log"), "calls");
    EXPECT_EQ(loggedAt(), (folder.path / "Handy.log").string());
    fs::remove_all(root);
}

}  // namespace
}  // namespace tellmaro::test
