// tellmaro-sip: a CAPI 2.0 controller whose line is a SIP account, served
// to libcapi20 over remote CAPI like tellmaro-sim, so that tellmaro and
// tellmaro-console run on it unchanged.
//   tellmaro-sip [--config FILE] [--port PORT] [--listen ADDRESS]
//                [--allow-user USER]... [--verbose]
//   tellmaro-sip --check [--config FILE]
#include <getopt.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "data/data_folder.h"
#include "data/text_rules.h"
#include "exchange/controller/capi_controller.h"
#include "exchange/rcapi/controller_backend.h"
#include "exchange/rcapi/peer_user.h"
#include "exchange/rcapi/rcapi_server.h"
#include "exchange/sip/relay_phone_book.h"
#include "exchange/sip/sip_line.h"
#include "exchange/sip/sip_network.h"
#include "exchange/sip/sip_service.h"

namespace {

using namespace tellmaro;
namespace fs = std::filesystem;

volatile std::sig_atomic_t stopRequested = 0;

void onSignal(int) {
    stopRequested = 1;
}

constexpr int kExitOk = 0;
constexpr int kExitNotRegistered = 1;
constexpr int kExitUsage = 2;
constexpr int kExitCannotServe = 3;
constexpr uint16_t kDefaultPort = 2662;
constexpr auto kCheckTimeout = std::chrono::seconds(20);

constexpr const char* kUsage =
    "usage: tellmaro-sip [--config FILE] [--port PORT] [--listen ADDRESS]\n"
    "                    [--allow-user USER]... [--verbose]\n"
    "       tellmaro-sip --check [--config FILE]\n"
    "Serves one CAPI 2.0 controller whose line is the SIP account of FILE (default\n"
    "$XDG_CONFIG_HOME/tellmaro/sip.conf, else ~/.config/tellmaro/sip.conf) to\n"
    "libcapi20 on 127.0.0.1:PORT (default 2662), for the user who runs it and each\n"
    "USER (a name or a uid) given with --allow-user. --listen serves another address:\n"
    "clients from other machines cannot be checked, so only do that on a network\n"
    "you trust.\n"
    "--check registers once and says what worked. --verbose traces SIP and CAPI.\n"
    "Exit status: 0 stopped (or registered, with --check), 1 not registered,\n"
    "2 bad usage or configuration, 3 the port or the SIP sockets cannot be opened.\n";

int usage(const std::string& why) {
    std::fprintf(stderr, "tellmaro-sip: %s (tellmaro-sip --help shows the usage)\n", why.c_str());
    return kExitUsage;
}

std::optional<uint16_t> parsePort(const std::string& text) {
    if (text.empty() || !data::allDigits(text)) {
        return std::nullopt;
    }
    long value = std::strtol(text.c_str(), nullptr, 10);
    return value <= 65535 ? std::optional<uint16_t>(static_cast<uint16_t>(value)) : std::nullopt;
}

fs::path defaultConfig() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && *xdg && fs::path(xdg).is_absolute()) {
        return fs::path(xdg) / "tellmaro" / "sip.conf";
    }
    const char* home = std::getenv("HOME");
    return fs::path(home ? home : "") / ".config" / "tellmaro" / "sip.conf";
}

// One status line, with the time of day. The SIP thread writes too. Lines
// written before the start-up line wait for it, so that it comes first.
std::mutex statusMutex;
bool startedUp = false;
std::vector<std::string> waitingLines;

void status(std::string_view text) {
    std::time_t now = std::time(nullptr);
    char stamp[16];
    std::strftime(stamp, sizeof stamp, "%H:%M:%S", std::localtime(&now));
    std::lock_guard lock(statusMutex);
    std::string line = std::string(stamp) + " " + std::string(text);
    if (startedUp) {
        std::cout << line << std::endl;
    } else {
        waitingLines.push_back(std::move(line));
    }
}

void startupLine(std::string_view text) {
    status(text);
    std::lock_guard lock(statusMutex);
    startedUp = true;
    auto startup = std::move(waitingLines.back());
    waitingLines.pop_back();
    std::cout << startup << '\n';
    for (const auto& line : waitingLines) {
        std::cout << line << '\n';
    }
    std::cout << std::flush;
    waitingLines.clear();
}

exchange::ControllerConfig controllerConfig(const sip::SipAccount& account) {
    exchange::ControllerConfig config;
    exchange::adaptToRemoteCapi(config);
    exchange::ProfileFields profile;
    profile.bChannels = static_cast<uint16_t>(account.maxCalls);
    config.identity.profile = exchange::makeProfile(profile);
    config.identity.manufacturer = "Tellmaro SIP line";
    config.lineNumber = account.user;
    return config;
}

}  // namespace

int main(int argc, char** argv) {
    fs::path configFile = defaultConfig();
    uint16_t port = kDefaultPort;
    std::string listenAddress = "127.0.0.1";
    bool check = false;
    bool verbose = false;
    std::vector<uid_t> allowedUsers;
    static const option kOptions[] = {{"config", required_argument, nullptr, 'c'},
                                      {"port", required_argument, nullptr, 'p'},
                                      {"listen", required_argument, nullptr, 'l'},
                                      {"allow-user", required_argument, nullptr, 'u'},
                                      {"check", no_argument, nullptr, 'k'},
                                      {"verbose", no_argument, nullptr, 'v'},
                                      {"help", no_argument, nullptr, 'h'},
                                      {"version", no_argument, nullptr, 'V'},
                                      {}};
    opterr = 0;  // its messages would not say what to do
    for (int opt; (opt = getopt_long(argc, argv, ":h", kOptions, nullptr)) != -1;) {
        const std::string word = argv[optind - 1];
        if (opt == 'h') {
            std::printf("tellmaro-sip: a CAPI 2.0 controller on a SIP account\n%s", kUsage);
            return kExitOk;
        } else if (opt == 'V') {
            std::printf("tellmaro-sip %s\n", TELLMARO_VERSION);
            return kExitOk;
        } else if (opt == 'c') {
            configFile = optarg;
        } else if (opt == 'p') {
            auto value = parsePort(optarg);
            if (!value) {
                return usage(std::string("'") + optarg +
                             "' is not a port: give a whole number from 0 to 65535");
            }
            port = *value;
        } else if (opt == 'l') {
            listenAddress = optarg;
        } else if (opt == 'u') {
            auto uid = exchange::userId(optarg);
            if (!uid) {
                return usage(std::string("there is no user '") + optarg + "' on this machine");
            }
            allowedUsers.push_back(*uid);
        } else if (opt == 'k') {
            check = true;
        } else if (opt == 'v') {
            verbose = true;
        } else if (opt == ':') {
            return usage("option '" + word + "' needs a value");
        } else {
            return usage("unknown option '" +
                         (word.starts_with("--") ? word : "-" + std::string(1, char(optopt))) +
                         "'");
        }
    }
    if (optind < argc) {
        return usage("unexpected argument '" + std::string(argv[optind]) + "'");
    }

    // The process holds the SIP password: no core dump may write it to disk,
    // and no other process of the same user may read its memory (ptrace,
    // /proc/PID/mem). Not dumpable, its /proc files belong to root.
    prctl(PR_SET_DUMPABLE, 0);
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    auto loaded = sip::loadSipAccount(configFile.string());
    if (!loaded.account) {
        std::fprintf(stderr, "tellmaro-sip: %s\n", loaded.error.c_str());
        return kExitUsage;
    }
    const sip::SipAccount& account = *loaded.account;
    if (check) {
        startedUp = true;
        auto report = sip::checkAccount(account, kCheckTimeout,
                                        verbose ? sip::LogSink(status) : sip::LogSink{}, verbose);
        // Verbose, they were written as they came.
        for (const auto& line : verbose ? std::vector<std::string>{} : report.lines) {
            std::cout << line << '\n';
        }
        return report.registered ? kExitOk : kExitNotRegistered;
    }

    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGPIPE, SIG_IGN);

    service::ServiceNotifier service;  // systemd: ready, status, watchdog
    sip::SipLine line({.account = account,
                       .log = status,
                       .verbose = verbose,
                       .heartbeat = service.watchdogInterval() / 2});
    exchange::SteadyClock clock;
    // Where the numbers the relay dials end: the keys typed, the relay's
    // phone book, sip.conf's number_lengths.
    sip::NumberEndPolicy numberEnds(
        account.numberLengths, account.lineAccess,
        sip::relayPhoneBook(data::programDirectory(), data::configHome(), status));
    sip::SipExchange exchange(clock, controllerConfig(account), line, std::move(numberEnds));
    if (verbose) {
        exchange.controller.setTraceHook(
            [](const exchange::TraceEntry& entry) { std::cout << formatTrace(entry) << '\n'; });
    }
    exchange::ControllerBackend backend(exchange.controller);
    exchange::RcapiServer server(backend, clock);
    for (uid_t uid : allowedUsers) {
        server.allowUser(uid);
    }
    server.setLog(status);
    std::string error;
    if (!server.listen(port, error, listenAddress)) {
        std::fprintf(stderr, "tellmaro-sip: %s\n", error.c_str());
        return kExitCannotServe;
    }
    if (listenAddress != "127.0.0.1") {
        status("warning: remote CAPI on " + listenAddress + ":" + std::to_string(server.port()) +
               " cannot check clients of other machines: whoever reaches it can call at this "
               "account's cost");
    }
    if (!line.start(error)) {
        std::fprintf(stderr, "tellmaro-sip: %s\n", error.c_str());
        return kExitCannotServe;
    }
    server.watch(line.eventFd(), [&exchange] { exchange.network.pump(); });
    startupLine("serving the SIP account " + account.user + "@" + account.domain +
                " as a CAPI controller on " + listenAddress + ":" + std::to_string(server.port()) +
                "; SIP port " + std::to_string(line.sipPort()) + "/" +
                sip::transportName(account.transport) + ", RTP ports " +
                std::to_string(account.rtpPortMin) + "-" + std::to_string(account.rtpPortMax) +
                ", up to " + std::to_string(account.maxCalls) + " calls");

    service.ready();
    while (!stopRequested) {
        server.runOnce(std::chrono::milliseconds(100));
        sip::reportTurn(service, line, exchange.network);
    }
    service.stopping();
    status("stopping");
    line.stop();
    exchange.network.pump();
    return kExitOk;
}
