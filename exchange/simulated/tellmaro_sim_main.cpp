// tellmaro-sim: a simulated ISDN line served to libcapi20 over remote CAPI.
//   tellmaro-sim [--port PORT] [--allow-user USER]... [SCENARIO]
// Without a scenario it serves an idle line until stopped; with one it plays
// it in real time, traces every message and exits 0 only when every
// expectation held.
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
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
    "usage: tellmaro-sim [--port PORT] [--allow-user USER]... [SCENARIO]\n"
    "Serves one CAPI 2.0 controller on 127.0.0.1:PORT (default 2662) for libcapi20,\n"
    "to the user who runs it and each USER (a name or a uid) given with --allow-user.\n"
    "Without a scenario the line stays idle until SIGINT or SIGTERM; with one it is\n"
    "played in real time and the exit status says whether its expectations held:\n"
    "0 held, 1 failed, 2 bad usage or scenario, 3 the port cannot be served.\n";

int usage(const char* why) {
    std::fprintf(stderr, "tellmaro-sim: %s\n%s", why, kUsage);
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

std::optional<std::string> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

int main(int argc, char** argv) {
    uint16_t port = kDefaultPort;
    std::optional<std::string> scenarioPath;
    std::vector<uid_t> allowedUsers;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--port" && i + 1 < argc) {
            auto value = parsePort(argv[++i]);
            if (!value) {
                return usage(("'" + std::string(argv[i]) +
                              "' is not a port: give a whole number from 0 to 65535")
                                 .c_str());
            }
            port = *value;
        } else if (arg == "--allow-user" && i + 1 < argc) {
            auto uid = userId(argv[++i]);
            if (!uid) {
                return usage(
                    ("there is no user '" + std::string(argv[i]) + "' on this machine").c_str());
            }
            allowedUsers.push_back(*uid);
        } else if (arg == "--help" || arg == "-h") {
            std::printf("tellmaro-sim: a simulated ISDN line for libcapi20\n%s", kUsage);
            return kExitOk;
        } else if (arg == "--version") {
            std::printf("tellmaro-sim %s\n", TELLMARO_VERSION);
            return kExitOk;
        } else if (!arg.starts_with("-") && !scenarioPath) {
            scenarioPath = arg;
        } else {
            return usage(("unexpected argument '" + arg + "'").c_str());
        }
    }

    std::optional<Scenario> scenario;
    if (scenarioPath) {
        auto text = readFile(*scenarioPath);
        if (!text) {
            return usage(("cannot read scenario " + *scenarioPath).c_str());
        }
        auto parsed = parseScenario(*text);
        if (!parsed.scenario) {
            return usage((*scenarioPath + ": " + parsed.error).c_str());
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
