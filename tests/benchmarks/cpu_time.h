#pragma once
// CPU seconds used by this process, by its reaped children, or by a
// process that still runs.

#include <sys/resource.h>
#include <unistd.h>

#include <fstream>
#include <optional>
#include <sstream>
#include <string>

namespace tellmaro::bench {

inline double cpuSeconds(int who = RUSAGE_SELF) {
    rusage usage{};
    getrusage(who, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// User plus system CPU of a live process, from /proc.
inline std::optional<double> processCpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::ostringstream text;
    text << in.rdbuf();
    std::string stat = text.str();
    auto end = stat.rfind(')');
    if (end == std::string::npos) {
        return std::nullopt;
    }
    // After the command name: state, ppid, ... utime and stime are the 12th
    // and 13th fields from there.
    std::istringstream fields(stat.substr(end + 2));
    std::string field;
    unsigned long long ticks = 0;
    for (int i = 1; i <= 13 && fields >> field; ++i) {
        if (i == 12 || i == 13) {
            ticks += std::stoull(field);
        }
    }
    return static_cast<double>(ticks) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

}  // namespace tellmaro::bench
