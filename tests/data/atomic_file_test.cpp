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
    EXPECT_TRUE(contains(result.error, "File too large")) << result.error;
    EXPECT_BYTES_EQ(textBytes("old"), fileBytes(dir / "target"));
    EXPECT_EQ(std::set<std::string>{"target"}, dir.names());
}

TEST(AtomicFile, FailedRenameOrMissingDirectoryIsReported) {
    test::TempDir dir;
    std::filesystem::create_directory(dir / "target");
    EXPECT_TRUE(contains(replaceFileAtomically(dir / "target", textBytes("x")).error, "target"));
    EXPECT_EQ(std::set<std::string>{"target"}, dir.names());  // no temporary file left

    writeFile(dir / "file", textBytes("x"));
    const auto result = replaceFileAtomically(dir / "file" / "target", textBytes("x"));
    EXPECT_TRUE(contains(result.error, "Not a directory")) << result.error;
}

}  // namespace
}  // namespace tellmaro::data
