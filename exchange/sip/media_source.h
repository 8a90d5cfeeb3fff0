#pragma once
// Which RTP packets a call takes: only those of the peer its SDP names. A
// peer behind NAT may send from another port than it signals, so the first
// packet from the signalled address fixes the port; from then on only that
// address, port and SSRC count, until a new SDP starts over. Everything
// else is dropped: keys and audio from anyone else never reach the relay,
// and a stranger's packets do not keep a dead call alive.

#include <cstdint>
#include <optional>
#include <set>
#include <string>

namespace tellmaro::sip {

struct RtpSource {
    std::string address;  // numeric, as the stack prints it
    uint16_t port = 0;
    bool operator==(const RtpSource&) const = default;
};

class MediaSourceLock {
  public:
    // The address and port of the peer's latest SDP.
    void expect(RtpSource signalled);
    // Whether a packet from `source` carrying `ssrc` belongs to the call.
    bool admit(const RtpSource& source, uint32_t ssrc);
    // The same, without fixing port and SSRC: an SRTP packet fixes them only
    // once it has passed authentication.
    bool wouldAdmit(const RtpSource& source, uint32_t ssrc) const;

  private:
    std::optional<RtpSource> signalled_;
    std::optional<RtpSource> locked_;
    std::optional<uint32_t> ssrc_;
};

// Which sources a log has named already: a flood from many addresses writes
// a bounded number of lines, one per source.
class ReportedSources {
  public:
    // True the first time `source` is seen, while fewer than kMost were.
    bool first(const std::string& source);

  private:
    static constexpr size_t kMost = 32;
    std::set<std::string> seen_;
};

}  // namespace tellmaro::sip
