// Bad input to the real programs, one row each: the message that says what to do and the
// exit status; every file there before keeps its bytes, in place or in the copy set aside.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

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
            std::ostringstream bytes;
            bytes << std::ifstream(it->path(), std::ios::binary).rdbuf();
            files[it->path()] = bytes.str();
        }
    }
    return files;
}

// One run: a program folder of its own and a HOME for the data folder and .capi20rc.
struct Setting {
    ProgramDirectory program{TELLMARO_PROGRAM_DIR};
    std::unique_ptr<SimulatorProcess> line;
    fs::path home = program.dir().parent_path() / "home";

    Setting() {
        fs::create_directories(home);
        setenv("HOME", home.c_str(), 1);
        unsetenv("XDG_CONFIG_HOME");
        for (const char* desktop : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
            unsetenv(desktop);
        }
    }
};

// What a row sets up, steps separated by ';': "configured", "line" (an idle one named in
// HOME's .capi20rc), "cut FILE" cuts the program folder's FILE by a byte, "env NAME=VALUE",
// "~/FILE=TEXT" writes.
void prepare(Setting& r, const std::string& setup) {
    std::istringstream steps(setup);
    for (std::string step; std::getline(steps, step, ';');) {
        const size_t eq = step.find('=');
        const std::string value = step.substr(eq + 1);
        if (step == "configured") {
            r.program.configure();
        } else if (step == "line") {
            r.line = std::make_unique<SimulatorProcess>(TELLMARO_SIM_PATH, "end 60s\n");
            fs::copy_file(r.line->dir() / ".capi20rc", r.home / ".capi20rc");
            setenv("HOME", r.home.c_str(), 1);  // the simulator pointed it at its own
        } else if (step.starts_with("~/")) {
            std::ofstream(r.home / step.substr(2, eq - 2)) << value;
        } else if (step.starts_with("env ")) {
            setenv(step.substr(4, eq - 4).c_str(), value.c_str(), 1);
        } else if (const fs::path file = r.program.dir() / step.substr(4);
                   step.starts_with("cut ")) {
            fs::resize_file(file, fs::file_size(file) - 1);
        }
    }
}

struct Row {
    const char* setup;
    const char* command;  // a program of the program folder and its arguments; "~/" is HOME
    int exit;
    const char* says;  // what the output holds, in parts separated by " | "
};

const Row kRows[] = {
    {"", "tellmaro-console --help", 0, "Aufruf: tellmaro-console | set SCHLUESSEL=WERT"},
    // Started from an SSH session or a service: a message, not an abort.
    {"", "tellmaro", 1,
     "Tellmaro kann nicht starten: Es gibt keine grafische Oberfläche | als tellmaro-console."},
    {"env DISPLAY=:999", "tellmaro", 1,
     "Tellmaro kann nicht starten: Die grafische Oberfläche ist nicht erreichbar.\nBitte starten"},
    {"line", "tellmaro-console", 2,
     "noch nicht Konfiguriert | /.config/tellmaro/tellmaro.ini | tellmaro-console set own-number="},
    {"configured;~/.capi20rc=REMOTE rcapi 127.0.0.1 9\n", "tellmaro-console", 1,
     "nicht richtig installiert! | REMOTE rcapi 127.0.0.1:9 | weist die Verbindung ab"},
    {"configured;line;cut tellmaro.ini", "tellmaro-console", 2,
     "Die Datei tellmaro.ini ist beschädigt | .bad aufbewahrt | müssen neu eingegeben werden."},
    {"env XDG_CONFIG_HOME=/dev/null/config", "tellmaro-console show", 1,
     "/dev/null/config/tellmaro | kann nicht angelegt werden"},
    {"configured", "tellmaro-console set mode=direct own-number=0711a", 2,
     "Bitte geben Sie nur Ziffern als Rufnummer ein!"},
    {"configured", "tellmaro-console set colour=red", 2,
     "Unbekannte Einstellung \"colour=red\" | own-number"},
    {"configured", "tellmaro-console phonebook add 42 0301", 2,
     "Die eingegebene Kurzwahl existiert bereits!"},
    {"", "tellmaro-sim --port 3000x", 2, "'3000x' is not a port"},
    {"~/bad.scenario=line 1\nend 5s\nexpect idle\n", "tellmaro-sim --port 0 ~/bad.scenario", 2,
     "line 3: 'expect' after the 'end' statement"},
};

TEST(BadInput, EveryRowSaysWhatToDoAndLosesNothing) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(std::string(row.command) + " after \"" + row.setup + "\"");
        Setting r;
        prepare(r, row.setup);
        std::vector<std::string> argv;
        std::istringstream words(row.command);
        for (std::string word; words >> word;) {
            argv.push_back(argv.empty()             ? (r.program.dir() / word).string()
                           : word.starts_with("~/") ? (r.home / word.substr(2)).string()
                                                    : word);
        }
        const auto before = filesUnder(r.program.dir().parent_path());
        ChildProcess child(argv, (r.home / "out.txt").string());
        ASSERT_TRUE(child.spawned());
        EXPECT_EQ(child.wait(), row.exit) << child.output();
        for (size_t start = 0, end = 0; end != std::string::npos; start = end + 3) {
            end = std::string_view(row.says).find(" | ", start);
            const std::string part = std::string(row.says).substr(start, end - start);
            EXPECT_NE(child.output().find(part), std::string::npos) << part << "\n"
                                                                    << child.output();
        }
        const auto after = filesUnder(r.program.dir().parent_path());
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
