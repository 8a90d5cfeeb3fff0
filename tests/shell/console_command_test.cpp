// tellmaro-console's commands in-process, one row each: status, message, and the files the
// data folder holds afterwards ("-": there is no folder). A refused command leaves none behind.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <sstream>

#include "shell/console_program.h"
#include "support/child_process.h"

namespace tellmaro::test {
namespace {

namespace fs = std::filesystem;

struct Row {
    bool configured;    // own number 0711555000, mobile 01711234567
    const char* setup;  // a shell line; $D is the data folder
    const char* args;   // split at spaces, $D as above
    int status;
    const char* says;
    const char* files;
};

const Row kRows[] = {
    {false, "", "set log=", 2, "Für log gibt es nur einen Pfad, on oder off.", "-"},
    {false, "", "set own-number=0711555000123456789012345 mobile=0171", 2,
     "Die Rufnummer des Computers hat höchstens 20 Ziffern.", "-"},
    {false, "", "set own-number=0711 mobile=0171 line-access=on", 2,
     "Ohne Zeichen für die Amtsholung gibt es keine automatische Amtsholung", "-"},
    {false, "", "set own-number=0711 mobile=0171 line-access-digits=25", 0,
     "line-access-digits=25 ist gespeichert und wirkt, sobald line-access=on ist.",
     "tellmaro.ini tellmaro.mob"},
    {false, "", "set own-number=0711 mobile=0171a log=on", 2,
     "Bitte geben Sie nur Ziffern als Handynummer ein!", "-"},
    {true, "", "set log=$D/tellmaro.ini", 2, "ist eine Datei des Tellmaro selbst",
     "tellmaro.ini tellmaro.mob"},
    {true, "ln -s $D/../tellmaro/tellmaro.dir $D/../link", "set log=$D/../link", 2,
     "ist eine Datei des Tellmaro selbst", "tellmaro.ini tellmaro.mob"},
    {true, "printf x >$D/tellmaro.mob", "show", 0, "tellmaro.mob ist beschädigt",
     "tellmaro.ini tellmaro.mob"},
    {false, "", "bogus", 2, "Unbekannter Befehl \"bogus\"", "-"},
    {false, "", "--bogus show", 2, "Unbekannte Option \"--bogus\"", "-"},
    {false, "", "-- show", 0, "(noch nicht eingerichtet)", ""},
};

std::string filesIn(const fs::path& dir) {
    std::error_code error;
    std::set<std::string> names;
    for (auto it = fs::directory_iterator(dir, error); !error && it != fs::directory_iterator();
         it.increment(error)) {
        names.insert(it->path().filename().string());
    }
    std::string text = error ? "-" : "";
    for (const std::string& name : names) {
        text += (text.empty() ? "" : " ") + name;
    }
    return text;
}

TEST(ConsoleCommands, EachEdgeCaseSaysWhatItDidAndARefusalCreatesNothing) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.args);
        const fs::path root = freshFolder("tellmaro-console-");
        const std::string dataDir = (root / "config" / "tellmaro").string();
        setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
        auto run = [&](const std::string& line, std::FILE* out) {
            std::vector<std::string> args;
            std::istringstream words(line);
            for (std::string word; words >> word;) {
                if (auto at = word.find("$D"); at != std::string::npos) {
                    word.replace(at, 2, dataDir);
                }
                args.push_back(word);
            }
            return shell::runConsoleProgram(args, {out, out});
        };
        std::FILE* output = std::tmpfile();
        ASSERT_TRUE(!row.configured ||
                    run("set own-number=0711555000 mobile=01711234567", stderr) == 0);
        ASSERT_EQ(std::system(("D=" + dataDir + "; " + row.setup).c_str()), 0);
        EXPECT_EQ(run(row.args, output), row.status);
        std::rewind(output);
        std::string said(4096, '\0');
        said.resize(std::fread(said.data(), 1, said.size(), output));
        std::fclose(output);
        EXPECT_NE(said.find(row.says), std::string::npos) << said;
        EXPECT_EQ(filesIn(dataDir), row.files);
        fs::remove_all(root);
    }
}

}  // namespace
}  // namespace tellmaro::test
