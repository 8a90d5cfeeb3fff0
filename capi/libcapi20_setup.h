#pragma once
// What libcapi20 was told to use and why it found no controller: the line a
// user reads under the driver message. libcapi20 itself only says "not
// installed", whatever went wrong.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace tellmaro::capi {

// The configuration as libcapi20 reads it: "$HOME/.capi20rc", else
// "/etc/capi20.conf". Its parser drops the last character of every line, so
// a last line without a line end loses a character.
struct Libcapi20Config {
    std::filesystem::path home;  // shown as "~"
    std::filesystem::path file;  // empty when neither file exists
    bool finalNewline = true;
    // From a "REMOTE <module> <host> [<port>]" line, as libcapi20 sees it.
    std::optional<std::string> remoteModule;
    std::string host;
    std::string port;  // text: a dropped character can leave it malformed
    std::optional<int> traceLevel;
};

Libcapi20Config readLibcapi20Config(const std::filesystem::path& home,
                                    const std::filesystem::path& systemFile = "/etc/capi20.conf");

// The outcome of trying to reach a remote CAPI server.
enum class Reach { reached, refused, timedOut, unknownHost, badPort, failed };
using Prober = std::function<Reach(const std::string& host, const std::string& port)>;

// A TCP connection attempt of at most one second.
Reach probeTcp(const std::string& host, const std::string& port);

// One German line: the library missing (`loadError` set), or the file read,
// the server and port and whether it answered, a missing final line end, a
// missing kernel device. `answeredBefore`: the server served this program
// until now, so its silence is its own end, not the library's fault.
std::string describeLibcapi20Setup(const std::string& loadError, const Libcapi20Config& config,
                                   const Prober& probe = probeTcp,
                                   const std::filesystem::path& device = "/dev/capi20",
                                   bool answeredBefore = false);

}  // namespace tellmaro::capi
