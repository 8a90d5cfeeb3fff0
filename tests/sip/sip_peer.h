#pragma once
// What the SIP line tests share: a SipLine on 127.0.0.1 with free ports,
// waiting for its events, and SIPp as the far end in a process of its own.

#include <poll.h>

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
// a busy machine can take seconds).
inline bool waitForUdpPort(uint16_t port) {
    char bound[32];
    std::snprintf(bound, sizeof bound, ":%04X 00000000", port);  // remote any, v4 or v6
    return waitUntil(
        [&] {
            return (readFile("/proc/net/udp") + readFile("/proc/net/udp6")).find(bound) !=
                   std::string::npos;
        },
        std::chrono::seconds(10));
}

inline std::string scenario(const std::string& name) {
    return std::string(TELLMARO_SIP_SCENARIOS) + "/" + name;
}

inline std::filesystem::path scratchDir() {
    return freshFolder("tellmaro-sip-");
}

// SIPp running `scenarioFile` with keys in `dir`; its messages logged for the checks.
class Sipp {
  public:
    Sipp(const std::filesystem::path& dir, const std::string& name, const std::string& scenarioFile,
         uint16_t port, std::vector<std::pair<std::string, std::string>> keys,
         std::vector<std::string> extra = {})
        : messages_((dir / (name + ".msg")).string()) {
        std::vector<std::string> argv = {kSipp,
                                         "-sf",
                                         scenario(scenarioFile),
                                         "-p",
                                         std::to_string(port),
                                         "-message_file",
                                         messages_,
                                         "-i",
                                         "127.0.0.1",
                                         "-mp",
                                         std::to_string(freeUdpPort()),
                                         "-nostdin",
                                         "-timeout",
                                         "60s",
                                         "-trace_msg"};
        for (const auto& [key, value] : keys) {
            argv.insert(argv.end(), {"-key", key, value});
        }
        argv.insert(argv.end(), extra.begin(), extra.end());
        process_ =
            std::make_unique<ChildProcess>(argv, (dir / (name + ".out")).string(), dir.string());
        waitForUdpPort(port);  // SIPp says nothing when its sockets are open
    }
    std::string messages() const { return readFile(messages_); }
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
    // It traces SIP in its log.
    explicit LineUnderTest(sip::SipAccount account, bool registerAccount = false,
                           std::chrono::seconds noAnswer = std::chrono::seconds(60)) {
        sip::SipLineOptions options;
        options.noAnswerTimeout = noAnswer;
        options.verbose = true;
        options.account = std::move(account);
        options.registerAccount = registerAccount;
        options.log = [this](std::string_view line) {
            std::lock_guard lock(logMutex_);
            (log_ += line) += "\n";
        };
        line_ = std::make_unique<sip::SipLine>(std::move(options));
    }
    ~LineUnderTest() { line_.reset(); }  // the line stops (and logs) before the log goes

    static sip::SipAccount account(uint16_t registrarPort) {
        sip::SipAccount account;
        account.registrar = account.domain = "127.0.0.1:" + std::to_string(registrarPort);
        account.user = account.authUser = "4930123456";
        account.password = "s3cret#1";
        account.realms = {"tellmaro.test"};  // the SIPp registrar's
        account.listenAddress = "127.0.0.1";
        account.localPort = 0;
        account.rtpPortMin = static_cast<uint16_t>(20000 + std::random_device()() % 40000);
        account.rtpPortMax = static_cast<uint16_t>(account.rtpPortMin + 40);
        account.rtpTimeout = std::chrono::seconds(0);
        return account;
    }

    sip::SipLine& line() { return *line_; }
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
