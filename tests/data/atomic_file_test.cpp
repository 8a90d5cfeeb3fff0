#include "data/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "data_test_files.h"
#include "support/byte_compare.h"

namespace tellmaro::data {
namespace {

using test::contains;
using test::fileBytes;
using test::textBytes;
using test::writeFile;

TEST(AtomicFile, ReplacesTheWholeFileAndLeavesNothingElse) {
    test::TempDir dir;
    writeFile(dir / "target", textBytes("an older, longer content"));
    // The temporary file gets descriptor 0 and a stale EEXIST: neither is a failure.
    const int in = ::dup(0);
    ::close(0);
    errno = EEXIST;
    const auto result = replaceFileAtomically(dir / "target", textBytes("new"));
    ::dup2(in, 0);
    ::close(in);
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_BYTES_EQ(textBytes("new"), fileBytes(dir / "target"));
    EXPECT_EQ(std::set<std::string>{"target"}, dir.names());
}

// Writes beyond 100 bytes fail with EFBIG: a disk that fills up in the middle of a save.
TEST(AtomicFile, FailedWriteKeepsTheOldFileAndRemovesTheTemporary) {
    test::TempDir dir;
    writeFile(dir / "target", textBytes("old"));
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const rlimit limited{100, saved.rlim_max};
    setrlimit(RLIMIT_FSIZE, &limited);
    const auto handler = std::signal(SIGXFSZ, SIG_IGN);
    const auto result = replaceFileAtomically(dir / "target", std::vector<uint8_t>(4096, 0x55));
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, handler);
    EXPECT_TRUE(contains(result.error, "Die Datei ist zu groß")) << result.error;
    EXPECT_BYTES_EQ(textBytes("old"), fileBytes(dir / "target"));
    EXPECT_EQ(std::set<std::string>{"target"}, dir.names());
}

// "new" twice: created 0600, then saved over. A link stays a link, also one that leads
// nowhere yet; the file at the end of the links gets the content.
TEST(AtomicFile, NewFilesAreTheUsersAloneReplacedOnesKeepTheirModeLinksStayLinks) {
    test::TempDir dir;
    writeFile(dir / "shared", textBytes("old"));
    ::chmod((dir / "shared").c_str(), 0640);
    std::filesystem::create_symlink("shared", dir / "link");
    std::filesystem::create_symlink(dir / "link", dir / "link-to-link");
    std::filesystem::create_symlink("missing", dir / "dangling");
    const std::tuple<const char*, const char*, int> rows[] = {{"new", "new", 0600},
                                                              {"new", "new", 0600},
                                                              {"shared", "shared", 0640},
                                                              {"link-to-link", "shared", 0640},
                                                              {"dangling", "missing", 0600}};
    for (const auto& [name, holder, mode] : rows) {
        ASSERT_TRUE(replaceFileAtomically(dir / name, textBytes(name)).ok) << name;
        EXPECT_BYTES_EQ(textBytes(name), fileBytes(dir / holder));
        EXPECT_EQ(mode, static_cast<int>(std::filesystem::status(dir / holder).permissions()));
        EXPECT_EQ(std::string(name) != holder, std::filesystem::is_symlink(dir / name)) << name;
    }
}

TEST(AtomicFile, FailedRenameOrMissingDirectoryIsReported) {
    test::TempDir dir;
    std::filesystem::create_directory(dir / "target");
    EXPECT_TRUE(contains(replaceFileAtomically(dir / "target", textBytes("x")).error, "target"));
    EXPECT_EQ(std::set<std::string>{"target"}, dir.names());  // no temporary file left

    writeFile(dir / "file", textBytes("x"));
    const auto result = replaceFileAtomically(dir / "file" / "target", textBytes("x"));
    EXPECT_TRUE(contains(result.error, "Ist kein Verzeichnis")) << result.error;
    std::filesystem::create_symlink("loop", dir / "loop");
    EXPECT_TRUE(contains(replaceFileAtomically(dir / "loop", {}).error, "Zu viele Ebenen"));
}

}  // namespace
}  // namespace tellmaro::data
