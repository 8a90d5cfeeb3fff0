#pragma once
// A SIP account as a telephone line: registration, calls in and out, audio
// as 2048-byte CAPI blocks, DTMF keys. All SIP work runs on one thread of
// its own; every method here may be called from any thread.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "exchange/sip/sip_account.h"
#include "exchange/sip/sip_events.h"

namespace tellmaro::sip {

// One status line (start-up, registration, each call) or, when verbose, a
// SIP message with its credentials redacted. Called on the SIP thread.
using LogSink = std::function<void(std::string_view line)>;

struct SipLineOptions {
    SipAccount account;
    LogSink log;
    bool verbose = false;  // trace every SIP message
    bool registerAccount = true;
    // A call that rings this long without an answer ends (cause 19, or 18 before alerting).
    std::chrono::seconds noAnswerTimeout{120};
    // When set, the SIP thread's loop proves this often that it turns
    // (turnedWithin), for a service watchdog.
    std::chrono::milliseconds heartbeat{0};
};

// What happened to the relay's media (its B3 connection) on a call.
enum class RelayMedia { Started, Stopped, Reset };

class SipLine {
  public:
    explicit SipLine(SipLineOptions options);
    ~SipLine();  // stops
    SipLine(const SipLine&) = delete;
    SipLine& operator=(const SipLine&) = delete;

    // Opens the sockets and starts the SIP thread (and the registration).
    // Only one SipLine may run in a process at a time. False with `error` set
    // when the sockets could not be opened.
    bool start(std::string& error);
    // Ends the calls, unregisters (waiting briefly for the answer) and joins the thread.
    void stop();

    // The SIP port actually listened on (useful when the account says 0).
    uint16_t sipPort() const;
    // Whether the SIP thread's loop ran its heartbeat within `span`.
    bool turnedWithin(std::chrono::milliseconds span) const;

    // Readable while events wait; takeEvents() drains it.
    int eventFd() const;
    std::vector<SipEvent> takeEvents();

    // Commands. Every call, in or out, ends with exactly one Ended event; a
    // command for a call that has ended is ignored.
    //
    // An incoming INVITE has been answered with 183 (no SDP) when IncomingCall
    // is reported, so the caller's CANCEL can find it; Answered follows its ACK.
    // An outgoing call reports Alerting (180), Progress (183) and Answered (200).
    CallId dial(const std::string& number);      // INVITE to number@domain
    void alert(CallId id);                       // 180 Ringing
    void answer(CallId id);                      // 200 OK with SDP
    void reject(CallId id, uint16_t sipStatus);  // e.g. 486, 603, 480; Ended has its cause
    void hangUp(CallId id);                      // CANCEL, BYE or 486 as the state needs
    // 2048 bytes in CAPI bit order; they leave as 20 ms PCMA frames.
    void sendBlock(CallId id, std::span<const uint8_t, kBlockSize> block);
    // The relay's media on the call, which the line's direct bridge follows.
    void relayMedia(CallId id, RelayMedia change);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Registers once and reports in plain words what worked and what did not
// (backs `tellmaro-sip --check`); `verbose` traces the SIP messages to `log`.
// Uses its own SIP thread: no SipLine may run.
struct CheckReport {
    bool registered = false;
    std::string
        seenAt;  // the address the registrar sees, when it says (behind a NAT: the public one)
    std::vector<std::string> lines;
};
CheckReport checkAccount(const SipAccount& account, std::chrono::seconds timeout,
                         const LogSink& log = {}, bool verbose = false);

}  // namespace tellmaro::sip
