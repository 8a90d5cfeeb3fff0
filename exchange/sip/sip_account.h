#pragma once
// The SIP account the line registers with, as read from `sip.conf`: a small
// "key = value" text file, comments after '#'. It holds the password, so a
// file that group or others may read is refused.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "exchange/sip/secret.h"

namespace tellmaro::sip {

enum class SipTransport { Udp, Tcp, Tls };

// The port a registrar or proxy written without one listens on: 5061 for
// TLS, else 5060.
uint16_t defaultSipPort(SipTransport transport);
// "udp", "tcp" or "tls", as in a URI's transport parameter.
const char* transportName(SipTransport transport);
// What the audio of a call is encrypted with.
enum class MediaEncryption { None, Srtp };

// How SRTP is negotiated (SDES keys in the SDP, RFC 4568). Mandatory
// refuses a peer without it; optional encrypts when the peer offers or takes
// keys and stays plain otherwise; off neither offers nor takes keys.
enum class SrtpPolicy { Off, Optional, Mandatory };

// The prefixes barred when sip.conf names none: the costly number ranges of
// the country (for 49, Germany: premium rate, televoting, directory
// enquiries); none for another country.
std::vector<std::string> defaultBarredPrefixes(std::string_view countryCode);

// How long the numbers that begin with `prefix` are, in digits as dialled
// within the country (number_lengths = 0301:10): where a dialled number
// ends when nothing else tells (number_end_policy.h).
struct NumberLength {
    std::string prefix;
    size_t length = 0;
    bool operator==(const NumberLength&) const = default;
};

struct SipAccount {
    std::string registrar;  // host or host:port the REGISTER goes to
    // Written "sips:host": the account's URIs are sips: (over TLS only),
    // for the providers that want them.
    bool sips = false;
    std::string domain;         // of the address of record; default: the registrar's host
    std::string user;           // the user part of the address of record (often the number)
    std::string authUser;       // default: user
    Secret password;            // never logged
    std::string outboundProxy;  // host or host:port; empty: none
    SipTransport transport = SipTransport::Udp;
    std::string tlsCaFile;  // a provider's or router's own CA, besides the system's
    bool tlsVerify = true;  // off only by tls_verify = no, with a warning at every start
    MediaEncryption mediaEncryption = MediaEncryption::None;
    // Off unless mediaEncryption is Srtp; then mandatory unless sip.conf says otherwise.
    SrtpPolicy srtp = SrtpPolicy::Off;
    std::string listenAddress = "0.0.0.0";  // where the SIP and RTP sockets listen
    uint16_t localPort = 5060;              // 0: any free port
    uint16_t rtpPortMin = 16384;
    uint16_t rtpPortMax = 16482;
    std::string countryCode = "49";
    std::string nationalPrefix = "0";
    std::string internationalPrefix = "00";
    unsigned maxCalls = 2;
    // Addresses ("host" or "host:port") whose INVITEs are taken; empty: the
    // registrar's and the outbound proxy's.
    std::vector<std::string> inviteSources;
    bool inbandDtmf = false;
    std::chrono::seconds registerExpires{600};
    std::chrono::seconds keepAlive{25};   // keep-alives on the registration's flow; 0: off
    std::chrono::seconds rtpTimeout{30};  // an answered call without RTP this long ends
    std::chrono::seconds retryMin{5};     // first wait after a failed registration; doubles
    // Digest realms answered besides the domain and the registrar's host.
    std::vector<std::string> realms;
    // Call barring (call_barring.h). Prefixes as dialled within the country.
    std::vector<std::string> barredPrefixes = defaultBarredPrefixes("49");
    bool barInternational = false;
    std::chrono::minutes maxCallMinutes{240};  // the longest outgoing call; 0: no limit
    unsigned maxCallsPerHour = 20;             // calls placed per rolling hour; 0: no limit
    std::string lineAccess;  // what the registrar (a PBX) takes for an outside line
    std::vector<NumberLength> numberLengths;
    // When the relay joins two calls of this line and passes their audio on
    // unchanged, the line passes it on itself, frame by frame, and drops the
    // relay's copies (direct_bridge.h). Off: every byte played is the relay's.
    bool directBridge = true;

    // "sip:" or "sips:"
    std::string scheme() const { return sips ? "sips:" : "sip:"; }
};

struct SipAccountResult {
    std::optional<SipAccount> account;
    std::string error;  // one line for the administrator; never holds the password
};

// Parses the text of a sip.conf.
SipAccountResult parseSipAccount(std::string_view text);

// Reads and parses `path`; refuses a file readable by group or others.
SipAccountResult loadSipAccount(const std::string& path);

// Whether to answer a digest challenge of `realm`: one of `realms`, the
// domain or the registrar's host, in any case. A digest answer to anyone
// else's challenge would let them guess the password offline.
bool realmAllowed(const SipAccount& account, std::string_view realm);

}  // namespace tellmaro::sip
