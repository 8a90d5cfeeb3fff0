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

namespace tellmaro::sip {

enum class SipTransport { Udp, Tcp };

struct SipAccount {
    std::string registrar;      // host or host:port the REGISTER goes to
    std::string domain;         // of the address of record; default: the registrar's host
    std::string user;           // the user part of the address of record (often the number)
    std::string authUser;       // default: user
    std::string password;       // never logged
    std::string outboundProxy;  // host or host:port; empty: none
    SipTransport transport = SipTransport::Udp;
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
    std::chrono::seconds keepAlive{25};   // CRLF keep-alives to the registrar over UDP; 0: off
    std::chrono::seconds rtpTimeout{30};  // an answered call without RTP this long ends
    std::chrono::seconds retryMin{5};     // first wait after a failed registration; doubles
};

struct SipAccountResult {
    std::optional<SipAccount> account;
    std::string error;  // one line for the administrator; never holds the password
};

// Parses the text of a sip.conf.
SipAccountResult parseSipAccount(std::string_view text);

// Reads and parses `path`; refuses a file readable by group or others.
SipAccountResult loadSipAccount(const std::string& path);

}  // namespace tellmaro::sip
