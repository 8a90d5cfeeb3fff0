// tellmaro-console's commands in-process, one row each: status, message, and the files the
// data folder holds afterwards ("-": there is no folder). A refused command leaves none behind.
#include <gtest/gtest.h>

#include <cstdlib>
#include <iterator>
#include <sstream>

#include "shell/console_program.h"
#include "support/child_process.h"

namespace tellmaro::test {
namespace {

namespace fs = std::filesystem;

struct Row {
    const char* setup;  // a shell line; $D is the data folder
    const char* args;   // split at spaces, $D as above
    int status;
    const char* says;
    const char* files;
};

const Row kRows[] = {
    {"", "set log=", 2, "Für log gibt es nur einen Pfad, on oder off.", "-"},
    {"", "set own-number=0711555000123456789012345 mobile=0171", 2,
     "Die Rufnummer des Computers hat höchstens 20 Ziffern.", "-"},
    {"", "set own-number=0711 mobile=0171 line-access=on", 2,
     "Ohne Zeichen für die Amtsholung gibt es keine automatische Amtsholung", "-"},
    {"", "set own-number=0711 mobile=0171 line-access-digits=25", 0,
     "line-access-digits=25 ist gespeichert und wirkt, sobald line-access=on ist.",
     "tellmaro.ini tellmaro.mob"},
    {"", "set own-number=0711 mobile=0171a log=on", 2,
     "Bitte geben Sie nur Ziffern als Handynummer ein!", "-"},
    {"mkdir -p $D; ln -s $D/../tellmaro/tellmaro.dir $D/../link",
     "set own-number=0711 mobile=0171 log=$D/../link", 2, "ist eine Datei des Tellmaro selbst", ""},
    {"mkdir -p $D; printf x >$D/tellmaro.mob", "show", 0, "tellmaro.mob ist beschädigt",
     "tellmaro.mob"},
    {"mkdir -p $D; printf xyz >$D/tellmaro.dir", "phonebook", 1,
     "Das Telefonbuch konnte nicht gelesen werden", "tellmaro.dir"},
    {"", "bogus", 2, "Unbekannter Befehl \"bogus\"", "-"},
    {"", "--bogus show", 2, "Unbekannte Option \"--bogus\"", "-"},
    {"", "-- show", 0, "(noch nicht eingerichtet)", ""},
};

TEST(ConsoleCommands, EachEdgeCaseSaysWhatItDidAndARefusalCreatesNothing) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.args);
        const fs::path root = freshFolder("tellmaro-console-");
        const std::string dataDir = (root / "config" / "tellmaro").string();
        setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
        ASSERT_EQ(std::system(("D=" + dataDir + "; " + row.setup).c_str()), 0);
        std::string line = row.args;
        for (size_t at; (at = line.find("$D")) != std::string::npos;) {
            line.replace(at, 2, dataDir);
        }
        std::istringstream words(line);
        const fs::path said = root / "said";
        std::FILE* output = std::fopen(said.c_str(), "w");
        EXPECT_EQ(shell::runConsoleProgram({std::istream_iterator<std::string>(words), {}},
                                           {output, output}),
                  row.status);
        std::fclose(output);
        EXPECT_NE(readFile(said).find(row.says), std::string::npos) << readFile(said);
        const std::string files = (root / "files").string();
        ASSERT_EQ(std::system(("(ls -A " + dataDir + " || echo -) 2>&- | xargs >" + files).c_str()),
                  0);
        EXPECT_EQ(readFile(files), row.files + std::string("\n"));
        fs::remove_all(root);
    }
}

}  // namespace
}  // namespace tellmaro::test
