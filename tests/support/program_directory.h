#pragma once
// A fresh copy of the build's program directory for tests that run the real programs.

#include <cstdlib>

#include "data/call_dir_file.h"
#include "data/mobile_number_file.h"
#include "data/settings_file.h"
#include "data/windows1252.h"
#include "support/child_process.h"

namespace tellmaro::test {

class ProgramDirectory {
  public:
    explicit ProgramDirectory(const std::filesystem::path& programDir) {
        std::filesystem::create_directories(root_ / "run");
        // Qt wants a runtime directory that only its owner can enter.
        std::filesystem::permissions(root_ / "run", std::filesystem::perms::owner_all);
        std::filesystem::copy(programDir, dir(), std::filesystem::copy_options::recursive);
        // The single-instance lock of the programs started from here stays in here.
        setenv("XDG_RUNTIME_DIR", (root_ / "run").c_str(), 1);
    }
    ~ProgramDirectory() { std::filesystem::remove_all(root_, ignored_); }
    ProgramDirectory(const ProgramDirectory&) = delete;
    ProgramDirectory& operator=(const ProgramDirectory&) = delete;

    std::filesystem::path dir() const { return root_ / "program"; }
    std::filesystem::path log() const { return root_ / "Handy.log"; }

    // Like a user's: logging on, own number 0711555000, mobile 01711234567, code 42 for Alice.
    bool configure() const {
        data::SettingsRecord settings;
        settings.logEnabled = true;
        settings.logFilePath = data::utf8ToWindows1252(log().string()).text.value_or("");
        settings.logFileName = "Handy.log";
        settings.ownNumber = "07115550000000000000";
        settings.ownNumberLength = 10;
        std::ofstream(log()).flush();
        data::PhoneBook book;
        return book.append({"42", "0301234567", "Alice"}) &&
               data::SaveSettings(dir(), settings).ok &&
               data::SaveMobileNumber(dir(), "01711234567").ok && data::SaveCallDir(dir(), book).ok;
    }

    // A program of this directory, its output in `name`.out.
    ChildProcess start(const std::string& program, const std::string& name) const {
        return ChildProcess({(dir() / program).string()}, (root_ / (name + ".out")).string());
    }
    ChildProcess startConsole(const std::string& name) const {
        return start("tellmaro-console", name);
    }

    std::string callLog() const { return data::windows1252ToUtf8(readFile(log())); }
    std::string errorLog() const { return readFile(dir() / "error.log"); }

  private:
    std::filesystem::path root_ = freshFolder("tellmaro-program-");
    std::error_code ignored_;
};

}  // namespace tellmaro::test
