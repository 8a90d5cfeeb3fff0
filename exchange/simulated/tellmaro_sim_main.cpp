// tellmaro-sim: a simulated ISDN line served to libcapi20 over remote CAPI.
//   tellmaro-sim [--port PORT] [--allow-user USER]... [SCENARIO]
// Without a scenario it serves an idle line until stopped; with one it plays
// it in real time, traces every message and exits 0 only when every
// expectation held.
#include <getopt.h>
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "exchange/rcapi/controller_backend.h"
#include "exchange/rcapi/peer_user.h"
#include "exchange/rcapi/rcapi_server.h"
#include "exchange/simulated/line_simulator.h"
#include "exchange/simulated/scenario.h"
#include "exchange/simulated/scenario_runner.h"

namespace {

using namespace tellmaro::exchange;

volatile std::sig_atomic_t stopRequested = 0;

void onSignal(int) {
    stopRequested = 1;
}

constexpr int kExitOk = 0;
constexpr int kExitExpectationsFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitCannotServe = 3;
constexpr uint16_t kDefaultPort = 2662;

constexpr const char* kUsage =
    "usage: tellmaro-sim [--port PORT] [--allow-user USER]... [--] [SCENARIO]\n"
    "Serves one CAPI 2.0 controller on 127.0.0.1:PORT (default 2662) for libcapi20,\n"
    "to the user who runs it and each USER (a name or a uid) given with --allow-user.\n"
    "Without a scenario the line stays idle until SIGINT or SIGTERM; with one it is\n"
    "played in real time and the exit status says whether its expectations held:\n"
    "0 held, 1 failed, 2 bad usage or scenario, 3 the port cannot be served.\n";

int usage(const std::string& why) {
    std::fprintf(stderr, "tellmaro-sim: %s (tellmaro-sim --help shows the usage)\n", why.c_str());
    return kExitUsage;
}

// A whole number from 0 to 65535 and nothing else: "abc" and "3000x" are
// typing errors, not port 0 and port 3000.
std::optional<uint16_t> parsePort(const char* text) {
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0 || value < 0 || value > 65535 ||
        !std::isdigit(static_cast<unsigned char>(text[0]))) {
        return std::nullopt;
    }
    return static_cast<uint16_t>(value);
}

// The scenario's text, or why it cannot be read.
std::optional<std::string> readFile(const std::string& path, std::string& why) {
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
        why = "is a directory";
        return std::nullopt;
    }
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    if (!in || !(text << in.rdbuf())) {
        why = errno != 0 ? std::strerror(errno) : "cannot be read";
        return std::nullopt;
    }
    return text.str();
}

}  // namespace

int main(int argc, char** argv) {
    uint16_t port = kDefaultPort;
    std::optional<std::string> scenarioPath;
    std::vector<uid_t> allowedUsers;
    static const option kOptions[] = {{"port", required_argument, nullptr, 'p'},
                                      {"allow-user", required_argument, nullptr, 'u'},
                                      {"help", no_argument, nullptr, 'h'},
                                      {"version", no_argument, nullptr, 'V'},
                                      {}};
    opterr = 0;  // its messages would not say what to do
    for (int opt; (opt = getopt_long(argc, argv, ":h", kOptions, nullptr)) != -1;) {
        const std::string word = argv[optind - 1];
        if (opt == 'p') {
            auto value = parsePort(optarg);
            if (!value) {
                return usage("'" + std::string(optarg) +
                             "' is not a port: give a whole number from 0 to 65535");
            }
            port = *value;
        } else if (opt == 'u') {
            auto uid = userId(optarg);
            if (!uid) {
                return usage("there is no user '" + std::string(optarg) + "' on this machine");
            }
            allowedUsers.push_back(*uid);
        } else if (opt == 'h') {
            std::printf("tellmaro-sim: a simulated ISDN line for libcapi20\n%s", kUsage);
            return kExitOk;
        } else if (opt == 'V') {
            std::printf("tellmaro-sim %s\n", TELLMARO_VERSION);
            return kExitOk;
        } else if (opt == ':') {
            return usage("option '" + word + "' needs a value");
        } else {
            return usage("unknown option '" +
                         (word.starts_with("--") ? word : "-" + std::string(1, char(optopt))) +
                         "'");
        }
    }
    if (optind < argc) {
        scenarioPath = argv[optind++];
    }
    if (optind < argc) {
        return usage("unexpected argument '" + std::string(argv[optind]) + "'");
    }

    std::optional<Scenario> scenario;
    if (scenarioPath) {
        std::string why;
        auto text = readFile(*scenarioPath, why);
        if (!text) {
            std::fprintf(stderr, "tellmaro-sim: cannot read the scenario %s: %s\n",
                         scenarioPath->c_str(), why.c_str());
            return kExitUsage;
        }
        auto parsed = parseScenario(*text);
        if (!parsed.scenario) {
            std::fprintf(stderr, "tellmaro-sim: %s: %s\n", scenarioPath->c_str(),
                         parsed.error.c_str());
            return kExitUsage;
        }
        scenario = std::move(parsed.scenario);
    }

    SteadyClock clock;
    LineConfig config;
    adaptToRemoteCapi(config);
    if (scenario) {
        config = scenarioLineConfig(*scenario, config);
    }
    LineSimulator line(clock, config);
    line.setTraceHook([](const TraceEntry& entry) { std::cout << formatTrace(entry) << '\n'; });
    std::optional<ScenarioRunner> runner;
    if (scenario) {
        runner.emplace(line, clock, std::move(*scenario));
    }

    ControllerBackend backend(line.controller());
    RcapiServer server(backend, clock);
    for (uid_t uid : allowedUsers) {
        server.allowUser(uid);
    }
    server.setLog([&clock](const std::string& text) {
        std::cout << formatTrace(TraceEntry{clock.now(), TraceDirection::Note, 0, {}, text})
                  << '\n';
    });
    std::string error;
    if (!server.listen(port, error)) {
        std::fprintf(stderr, "tellmaro-sim: %s\n", error.c_str());
        return kExitCannotServe;
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGPIPE, SIG_IGN);
    std::cout << "tellmaro-sim: serving line " << config.lineNumber
              << " on 127.0.0.1:" << server.port() << std::endl;

    while (!stopRequested && !(runner && runner->finished())) {
        server.runOnce(std::chrono::milliseconds(100));
        if (runner) {
            runner->poll();
        }
        std::cout.flush();
    }
    if (!runner) {
        return kExitOk;
    }
    auto outcome = runner->check();
    for (const auto& line : outcome.lines) {
        std::cout << line << '\n';
    }
    std::cout << (outcome.ok ? "scenario passed" : "scenario FAILED") << std::endl;
    return outcome.ok ? kExitOk : kExitExpectationsFailed;
}
