// Bad input to the real programs, one row each: what the user did wrong or
// what is missing, the message that says what to do, and the exit status.
// After every row, each file that was there before still holds its bytes,
// where it was or in the copy that was set aside.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "support/child_process.h"
#include "support/program_directory.h"
#include "support/simulator_process.h"

namespace tellmaro::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

std::string bytesOf(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::map<fs::path, std::string> filesUnder(const fs::path& dir) {
    std::map<fs::path, std::string> files;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(dir, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (it->is_regular_file()) {
            files[it->path()] = bytesOf(it->path());
        }
    }
    return files;
}

// One program run: a program folder of its own, configured or not, a HOME
// whose .capi20rc names an idle line (or nothing), and the user's data folder
// under that HOME.
struct Setting {
    ProgramDirectory program{TELLMARO_PROGRAM_DIR};
    std::unique_ptr<SimulatorProcess> line;
    fs::path home;

    Setting() {
        home = program.dir().parent_path() / "home";
        fs::create_directories(home);
        setenv("HOME", home.c_str(), 1);
        unsetenv("XDG_CONFIG_HOME");
    }
    // An idle line; its .capi20rc is written into our HOME.
    void startLine(const std::string& scenario = "end 60s\n") {
        line = std::make_unique<SimulatorProcess>(TELLMARO_SIM_PATH, scenario);
        fs::copy_file(line->dir() / ".capi20rc", home / ".capi20rc");
        setenv("HOME", home.c_str(), 1);
    }
    void capi20rc(const std::string& text) const { std::ofstream(home / ".capi20rc") << text; }
    fs::path scenario(const std::string& text) const {
        std::ofstream(home / "bad.scenario") << text;
        return home / "bad.scenario";
    }
    // The settings record cut short; a phone book that announces more
    // entries than it holds.
    void damage(const std::string& name) const {
        const fs::path file = program.dir() / name;
        if (name == "tellmaro.ini") {
            fs::resize_file(file, fs::file_size(file) - 1);
        } else {
            std::fstream(file, std::ios::binary | std::ios::in | std::ios::out).put(5);
        }
    }
};

struct Row {
    const char* what;
    std::function<void(Setting&)> prepare;
    std::function<std::vector<std::string>(Setting&)> command;
    int exit;
    std::vector<std::string> says;
    // When set, the program runs until it prints this, then gets SIGTERM.
    const char* runsUntil = nullptr;
};

std::vector<std::string> console(Setting& r, std::vector<std::string> args = {}) {
    args.insert(args.begin(), (r.program.dir() / "tellmaro-console").string());
    return args;
}

std::vector<std::string> sim(Setting& r, std::vector<std::string> args) {
    args.insert(args.begin(), (r.program.dir() / "tellmaro-sim").string());
    return args;
}

const char* const kDriver = "'libcapi20.so.3' ihrer ISDN-Karte ist nicht richtig installiert!";

const Row kRows[] = {
    {"--help starts no relay",
     [](Setting&) {},
     [](Setting& r) { return console(r, {"--help"}); },
     0,
     {"Aufruf: tellmaro-console", "set SCHLUESSEL=WERT"}},
    {"the desktop program's --version needs no desktop",
     [](Setting&) {},
     [](Setting& r) {
         return std::vector<std::string>{(r.program.dir() / "tellmaro").string(), "--version"};
     },
     0,
     {"tellmaro 1.2"}},
    {"tellmaro-sim --version",
     [](Setting&) {},
     [](Setting& r) { return sim(r, {"--version"}); },
     0,
     {"tellmaro-sim 1.2"}},
    {"a first start names the file and the command",
     [](Setting& r) { r.startLine(); },
     [](Setting& r) { return console(r); },
     2,
     {"noch nicht Konfiguriert", "/.config/tellmaro/tellmaro.ini",
      "tellmaro-console set own-number="}},
    {"no .capi20rc",
     [](Setting& r) { r.program.configure(); },
     [](Setting& r) { return console(r); },
     1,
     {kDriver, "Weder ~/.capi20rc noch /etc/capi20.conf"}},
    {"a closed port",
     [](Setting& r) {
         r.program.configure();
         r.capi20rc("REMOTE rcapi 127.0.0.1 9\n");
     },
     [](Setting& r) { return console(r); },
     1,
     {kDriver, "REMOTE rcapi 127.0.0.1:9", "weist die Verbindung ab"}},
    {"a .capi20rc without its final newline",
     [](Setting& r) {
         r.program.configure();
         r.capi20rc("REMOTE rcapi 127.0.0.1 99");
     },
     [](Setting& r) { return console(r); },
     1,
     {kDriver, "127.0.0.1:9)", "endet ohne Zeilenumbruch"}},
    {"a damaged tellmaro.ini",
     [](Setting& r) {
         r.program.configure();
         r.damage("tellmaro.ini");
         r.startLine();
     },
     [](Setting& r) { return console(r); },
     2,
     {"Die Datei tellmaro.ini ist beschädigt", ".bad aufbewahrt",
      "Die Einstellungen müssen neu eingegeben werden."}},
    {"a damaged tellmaro.dir",
     [](Setting& r) {
         r.program.configure();
         r.damage("tellmaro.dir");
         r.startLine();
     },
     [](Setting& r) { return console(r); },
     0,
     {"Die Datei tellmaro.dir ist beschädigt", "Das Telefonbuch ist leer."},
     "Tellmaro ist betriebsbereit"},
    {"no place for the settings",
     [](Setting&) { setenv("XDG_CONFIG_HOME", "/dev/null/config", 1); },
     [](Setting& r) { return console(r, {"show"}); },
     1,
     {"/dev/null/config/tellmaro", "kann nicht angelegt werden"}},
    {"set refuses a number with a letter",
     [](Setting& r) { r.program.configure(); },
     [](Setting& r) {
         return console(r, {"set", "mode=direct", "own-number=0711a"});
     },
     2,
     {"Bitte geben Sie nur Ziffern als Rufnummer ein!"}},
    {"set refuses an unknown key",
     [](Setting& r) { r.program.configure(); },
     [](Setting& r) {
         return console(r, {"set", "colour=red"});
     },
     2,
     {"Unbekannte Einstellung \"colour=red\"", "own-number"}},
    {"a speed-dial code that is taken",
     [](Setting& r) { r.program.configure(); },
     [](Setting& r) {
         return console(r, {"phonebook", "add", "42", "0301"});
     },
     2,
     {"Die eingegebene Kurzwahl existiert bereits!"}},
    {"tellmaro-sim --port abc",
     [](Setting&) {},
     [](Setting& r) {
         return sim(r, {"--port", "abc"});
     },
     2,
     {"'abc' is not a port"}},
    {"tellmaro-sim --port 3000x",
     [](Setting&) {},
     [](Setting& r) {
         return sim(r, {"--port", "3000x"});
     },
     2,
     {"'3000x' is not a port"}},
    {"a scenario with an event after end",
     [](Setting&) {},
     [](Setting& r) {
         return sim(r, {"--port", "0", r.scenario("line 1\nend 5s\nexpect idle\n").string()});
     },
     2,
     {"line 3: 'expect' after the 'end' statement"}},
    {"a scenario with two ends",
     [](Setting&) {},
     [](Setting& r) {
         return sim(r, {"--port", "0", r.scenario("end 5s\nend 6s\n").string()});
     },
     2,
     {"a second 'end' statement"}},
    {"a scenario with parties but no line",
     [](Setting&) {},
     [](Setting& r) {
         return sim(r, {"--port", "0", r.scenario("party a 1\nend 5s\n").string()});
     },
     2,
     {"no 'line' statement"}},
};

TEST(BadInput, EveryRowSaysWhatToDoAndLosesNothing) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.what);
        Setting r;
        row.prepare(r);
        const auto before = filesUnder(r.program.dir().parent_path());
        ChildProcess child(row.command(r), (r.home / "out.txt").string());
        ASSERT_TRUE(child.spawned());
        if (row.runsUntil) {
            EXPECT_TRUE(child.waitForOutput(row.runsUntil, 10s)) << child.output();
            EXPECT_EQ(child.stop(SIGTERM), row.exit) << child.output();
        } else {
            EXPECT_EQ(child.wait(), row.exit) << child.output();
        }
        for (const std::string& text : row.says) {
            EXPECT_NE(child.output().find(text), std::string::npos) << text << "\n"
                                                                    << child.output();
        }
        const auto after = filesUnder(r.program.dir().parent_path());
        for (const auto& [file, bytes] : before) {
            // Where it was (a log may have grown), or set aside beside it.
            bool kept = std::any_of(after.begin(), after.end(), [&](const auto& now) {
                return (now.first == file && now.second.starts_with(bytes)) ||
                       (now.first.string().starts_with(file.string() + ".") && now.second == bytes);
            });
            EXPECT_TRUE(kept) << file << " lost bytes";
        }
    }
}

}  // namespace
}  // namespace tellmaro::test
