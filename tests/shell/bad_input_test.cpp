// Bad input to the real programs, one row each: the message that says what to do and the
// exit status; every file there before keeps its bytes, in place or in the copy set aside.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "support/child_process.h"
#include "support/program_directory.h"
#include "support/simulator_process.h"

namespace tellmaro::test {
namespace {

namespace fs = std::filesystem;

std::map<fs::path, std::string> filesUnder(const fs::path& dir) {
    std::map<fs::path, std::string> files;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(dir, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (it->is_regular_file()) {
            files[it->path()] = readFile(it->path());
        }
    }
    return files;
}

// A program folder of its own, configured or not, with an idle line named in HOME's .capi20rc
// or none; `setup` and `command` are shell lines run there, HOME a folder of its own.
struct Row {
    bool configured, line;
    const char* setup;
    const char* command;
    int exit;
    const char* says;  // what the output holds, in parts separated by " | "
};

const Row kRows[] = {
    {false, false, "", "./tellmaro-console --help", 0,
     "Aufruf: tellmaro-console | set SCHLUESSEL=WERT"},
    // Started from an SSH session or a service: a message, not an abort.
    {false, false, "", "./tellmaro", 1,
     "Tellmaro kann nicht starten: Es gibt keine grafische Oberfläche | als tellmaro-console."},
    {false, false, "", "DISPLAY=:999 ./tellmaro", 1,
     "Tellmaro kann nicht starten: Die grafische Oberfläche ist nicht erreichbar.\nBitte starten"},
    // The data folder is the user's alone and holds the lock when there is no runtime folder.
    {false, true, "",
     "umask 022; env -u XDG_RUNTIME_DIR ./tellmaro-console; e=$?; ls -lR ~/.config; exit $e", 2,
     "noch nicht Konfiguriert | /.config/tellmaro/tellmaro.ini | tellmaro-console set own-number= "
     "| drwx------ | CAPI Message Analyzer V0.1.lock"},
    {false, false, "mkdir -p ~/.config/tellmaro; chmod 755 ~/.config/tellmaro",
     "./tellmaro-console show; ls -ld ~/.config/tellmaro", 0, "drwx------"},
    {true, false, "echo 'REMOTE rcapi 127.0.0.1 9' >~/.capi20rc", "./tellmaro-console", 1,
     "nicht richtig installiert! | REMOTE rcapi 127.0.0.1:9 | weist die Verbindung ab"},
    {false, false, "", "XDG_CONFIG_HOME=/dev/null/config ./tellmaro-console show", 1,
     "/dev/null/config/tellmaro | kann nicht angelegt werden"},
    {true, false, "", "./tellmaro-console set mode=direct own-number=0711a", 2,
     "Bitte geben Sie nur Ziffern als Rufnummer ein!"},
    {true, false, "", "./tellmaro-console phonebook add 42 0301", 2,
     "Die eingegebene Kurzwahl existiert bereits!"},
    {false, false, "", "./tellmaro --bogus", 2, "tellmaro: Unbekannte Option \"--bogus\""},
    {false, false, "", "./tellmaro-sim --port=3000x", 2, "'3000x' is not a port"},
    {false, false, "", "./tellmaro-sip --config", 2, "option '--config' needs a value"},
    {false, false, "", "./tellmaro-sim -- -missing", 2, "-missing: No such file or directory"},
    {false, false, "", "./tellmaro-sim ~", 2, "is a directory"},
    {false, false, "", "./tellmaro-sim --allow-user no-such-user", 2, "no user 'no-such-user'"},
    {false, false, "printf 'line 1\\nend 5s\\nexpect idle\\n' >~/bad.scenario",
     "./tellmaro-sim --port 0 ~/bad.scenario", 2, "line 3: 'expect' after the 'end' statement"},
};

TEST(BadInput, EveryRowSaysWhatToDoAndLosesNothing) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(std::string(row.setup) + " / " + row.command);
        ProgramDirectory program(TELLMARO_PROGRAM_DIR);
        const fs::path home = program.dir().parent_path() / "home";
        fs::create_directories(home);
        std::unique_ptr<SimulatorProcess> line;
        if (row.line) {
            line = std::make_unique<SimulatorProcess>(TELLMARO_SIM_PATH, "end 60s\n");
            fs::copy_file(line->dir() / ".capi20rc", home / ".capi20rc");
        }
        setenv("HOME", home.c_str(), 1);  // the simulator pointed it at its own
        for (const char* name :
             {"XDG_CONFIG_HOME", "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
            unsetenv(name);
        }
        ASSERT_TRUE(!row.configured || program.configure());
        auto shell = [&](const char* text, const char* output) {
            return ChildProcess({"/bin/sh", "-c", text}, (home / output).string(), program.dir());
        };
        ASSERT_EQ(shell(row.setup, "setup.txt").wait(), 0);

        const auto before = filesUnder(program.dir().parent_path());
        ChildProcess child = shell(row.command, "out.txt");
        EXPECT_EQ(child.wait(), row.exit) << child.output();
        for (size_t start = 0, end = 0; end != std::string::npos; start = end + 3) {
            end = std::string_view(row.says).find(" | ", start);
            const std::string part = std::string(row.says).substr(start, end - start);
            EXPECT_NE(child.output().find(part), std::string::npos) << part << "\n"
                                                                    << child.output();
        }
        const auto after = filesUnder(program.dir().parent_path());
        for (const auto& [file, bytes] : before) {
            bool kept = std::any_of(after.begin(), after.end(), [&](const auto& now) {
                return (now.first == file && now.second.starts_with(bytes)) ||
                       (now.first.string().starts_with(file.string() + ".") && now.second == bytes);
            });
            EXPECT_TRUE(kept) << file << " lost bytes";  // a log may have grown
        }
    }
}

}  // namespace
}  // namespace tellmaro::test
