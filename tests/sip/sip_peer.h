#pragma once
// What the SIP line tests share: a SipLine on 127.0.0.1 with free ports,
// waiting for its events, and SIPp as the far end in a process of its own.

#include <poll.h>

#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <variant>

#include "exchange/sip/sip_line.h"
#include "support/child_process.h"
#include "support/loopback_udp.h"

namespace tellmaro::test {

inline constexpr const char* kSipp = "/usr/bin/sipp";

inline bool haveSipp() {
    return access(kSipp, X_OK) == 0;
}

#define SKIP_WITHOUT_SIPP()                                           \
    if (!::tellmaro::test::haveSipp()) {                              \
        GTEST_SKIP() << "SIPp (package sip-tester) is not installed"; \
    }

inline size_t occurrences(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

// Waits until something has bound UDP `port` (a child process starting up on
// a busy machine can take seconds); false after `timeout`.
inline bool waitForUdpPort(uint16_t port,
                           std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    char bound[32];
    std::snprintf(bound, sizeof bound, ":%04X 00000000:0000", port);
    return waitUntil([&] { return readFile("/proc/net/udp").find(bound) != std::string::npos; },
                     timeout);
}

// The tests' own folder for scenario files.
inline std::string scenario(const std::string& name) {
    return std::string(TELLMARO_SIP_SCENARIOS) + "/" + name;
}

inline std::filesystem::path scratchDir() {
    return freshFolder("tellmaro-sip-");
}

// The records of SIPp's PCMA capture (16-byte record header, Ethernet frame).
inline std::vector<std::string> captureRecords() {
    const std::string capture = readFile("/usr/share/sip-tester/g711a.pcap");
    std::vector<std::string> records;
    for (size_t at = 24; at + 16 <= capture.size();) {
        uint32_t length = 0;
        std::memcpy(&length, capture.data() + at + 8, 4);
        records.push_back(capture.substr(at, 16 + length));
        at += 16 + length;
    }
    return records;
}

// An injection file for caller.xml: "From;called;header;header;payload types" rows.
inline std::string callerRows(const std::filesystem::path& dir, const std::string& name,
                              const std::vector<std::string>& rows) {
    auto path = dir / (name + ".csv");
    std::ofstream out(path);
    out << "SEQUENTIAL\n";
    for (const auto& row : rows) {
        out << row << "\n";
    }
    return path.string();
}

// SIPp running `scenarioFile` with keys; its messages logged for the checks.
// It runs in `dir`, where a scenario finds files named without a folder.
class Sipp {
  public:
    Sipp(const std::filesystem::path& dir, const std::string& name, const std::string& scenarioFile,
         uint16_t port, std::vector<std::pair<std::string, std::string>> keys,
         std::vector<std::string> extra = {})
        : messages_((dir / (name + ".msg")).string()) {
        // caller.xml's talk.pcap, which SIPp opens when it loads any scenario.
        std::error_code missing;
        std::filesystem::copy_file("/usr/share/sip-tester/g711a.pcap", dir / "talk.pcap",
                                   std::filesystem::copy_options::skip_existing, missing);
        std::vector<std::string> argv = {
            kSipp,           "-sf",    scenario(scenarioFile), "-p", std::to_string(port),
            "-message_file", messages_};
        argv.insert(argv.end(), {"-i", "127.0.0.1", "-mp", std::to_string(freeUdpPort()),
                                 "-nostdin", "-timeout", "60s", "-trace_msg"});
        for (const auto& [key, value] : keys) {
            argv.insert(argv.end(), {"-key", key, value});
        }
        argv.insert(argv.end(), extra.begin(), extra.end());
        process_ =
            std::make_unique<ChildProcess>(argv, (dir / (name + ".out")).string(), dir.string());
        // SIPp says nothing when its sockets are open: watch for its port.
        waitForUdpPort(port);
    }
    ChildProcess& process() { return *process_; }
    std::string messages() const { return readFile(messages_); }
    // How often `text` occurs in the message log.
    size_t count(const std::string& text) const { return occurrences(messages(), text); }
    // Waits for the scenario's end; SIPp's exit status (0: every call succeeded).
    int finish(std::chrono::seconds timeout = std::chrono::seconds(30)) {
        waitUntil([this] { return !process_->running(); }, timeout);
        return process_->running() ? process_->stop(SIGKILL) : process_->wait();
    }

  private:
    std::string messages_;
    std::unique_ptr<ChildProcess> process_;
};

// A SipLine with its events collected as they come.
class LineUnderTest {
  public:
    explicit LineUnderTest(sip::SipAccount account, bool registerAccount = false,
                           std::chrono::seconds noAnswer = std::chrono::seconds(60),
                           bool verbose = false) {
        sip::SipLineOptions options;
        options.noAnswerTimeout = noAnswer;
        options.verbose = verbose;
        options.account = std::move(account);
        options.registerAccount = registerAccount;
        options.log = [this](std::string_view line) {
            std::lock_guard lock(logMutex_);
            (log_ += line) += "\n";
        };
        line_ = std::make_unique<sip::SipLine>(std::move(options));
    }

    // The line stops (and logs) before the log goes.
    ~LineUnderTest() { line_.reset(); }
    LineUnderTest(const LineUnderTest&) = delete;
    LineUnderTest& operator=(const LineUnderTest&) = delete;

    static sip::SipAccount account(uint16_t registrarPort) {
        sip::SipAccount account;
        account.registrar = "127.0.0.1:" + std::to_string(registrarPort);
        account.domain = "127.0.0.1:" + std::to_string(registrarPort);
        account.user = "4930123456";
        account.authUser = account.user;
        account.password = "s3cret#1";
        account.listenAddress = "127.0.0.1";
        account.localPort = 0;
        std::random_device random;
        account.rtpPortMin = static_cast<uint16_t>(20000 + random() % 40000);
        account.rtpPortMax = static_cast<uint16_t>(account.rtpPortMin + 40);
        account.rtpTimeout = std::chrono::seconds(0);
        return account;
    }

    sip::SipLine& line() { return *line_; }
    // Throws when the line cannot start (a test fails with the reason).
    void start() {
        std::string error;
        if (!line_->start(error)) {
            throw std::runtime_error("SIP line did not start: " + error);
        }
    }

    // Collects events until one not taken before satisfies `match` (taken), or times out.
    template <typename T>
    std::optional<T> waitFor(std::function<bool(const T&)> match = {},
                             std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        for (auto deadline = std::chrono::steady_clock::now() + timeout;;) {
            for (auto& [event, taken] : events_) {
                auto* typed = std::get_if<T>(&event);
                if (typed && !taken && (!match || match(*typed))) {
                    taken = true;
                    return *typed;
                }
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                return std::nullopt;
            }
            pollfd fd{line_->eventFd(), POLLIN, 0};
            poll(&fd, 1, 100);
            all<T>();
        }
    }
    // Every event of type T so far.
    template <typename T>
    std::vector<T> all() {
        for (auto& event : line_->takeEvents()) {
            events_.emplace_back(std::move(event), false);
        }
        std::vector<T> found;
        for (auto& [event, taken] : events_) {
            if (auto* typed = std::get_if<T>(&event)) {
                found.push_back(*typed);
            }
        }
        return found;
    }
    std::string logText() {
        std::lock_guard lock(logMutex_);
        return log_;
    }

  private:
    std::unique_ptr<sip::SipLine> line_;
    std::vector<std::pair<sip::SipEvent, bool>> events_;  // and whether waitFor took it
    std::mutex logMutex_;
    std::string log_;
};

}  // namespace tellmaro::test
