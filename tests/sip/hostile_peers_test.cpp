// The line against peers that try to call, key or listen at the owner's
// cost: each row is one way in, with what the line may report at most. The
// peers are raw datagrams from 127.0.0.1 (the trusted registrar's address)
// and 127.0.0.2 (anyone), so that every byte is the attacker's choice.

#include <gtest/gtest.h>

#include <regex>

#include "exchange/sip/start_line_filter.h"
#include "sip/sip_peer.h"

namespace tellmaro::test {
namespace {

using namespace sip;
using namespace std::chrono_literals;

std::string field(const std::string& message, const std::string& pattern) {
    std::smatch match;
    return std::regex_search(message, match, std::regex(pattern)) ? match[1].str() : "";
}

class RawPeer {
  public:
    explicit RawPeer(const char* address, uint16_t port = 0) : fd_(socket(AF_INET, SOCK_DGRAM, 0)) {
        sockaddr_in local{AF_INET, htons(port), {inet_addr(address)}, {}};
        bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local);
        socklen_t length = sizeof local;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length);
        via_ = std::string(address) + ":" + std::to_string(ntohs(local.sin_port));
    }
    ~RawPeer() { close(fd_); }
    const std::string& via() const { return via_; }
    void send(uint16_t port, const std::string& bytes) const {
        sockaddr_in to{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
        sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
    // RFC 4733 events for `keys`, each press ended three times; one A-law frame when empty.
    void rtp(uint16_t port, uint32_t ssrc, const std::string& keys) {
        auto bigEndian = [](uint32_t value, int bytes) {
            std::string out;
            for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8) {
                out += static_cast<char>(value >> shift);
            }
            return out;
        };
        for (char key : keys.empty() ? std::string(1, 'a') : keys) {
            const int event = key == '#' ? 11 : key - '0';
            const uint32_t stamp = sequence_ * 160;  // a press's packets share it
            for (int i = 0; i < 4; ++i, ++sequence_) {
                send(port,
                     "\x80" + std::string(1, keys.empty() ? 8 : 101) + bigEndian(sequence_, 2) +
                         bigEndian(stamp, 4) + bigEndian(ssrc, 4) +
                         (keys.empty() ? std::string(160, '\xD5')
                                       : bigEndian(event << 24 | (i ? 0x8A : 0x0A) << 16 | 80, 4)));
            }
        }
    }
    // The next datagram matching `pattern`; "" when none came in time.
    std::string expect(const std::string& pattern, std::chrono::milliseconds within = 3s) {
        for (auto end = std::chrono::steady_clock::now() + within;
             std::chrono::steady_clock::now() < end;) {
            pollfd ready{fd_, POLLIN, 0};
            char buffer[65536];
            ssize_t got = poll(&ready, 1, 50) > 0 ? recv(fd_, buffer, sizeof buffer, 0) : 0;
            std::string text(buffer, got > 0 ? static_cast<size_t>(got) : 0);
            seen_ += text;
            if (got > 0 && std::regex_search(text, std::regex(pattern))) {
                return text;
            }
        }
        return {};
    }
    const std::string& seen() const { return seen_; }

  private:
    int fd_;
    std::string via_, seen_;
    uint32_t sequence_ = 1;
};

std::string sdp(uint16_t port) {
    return "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\nm=audio " +
           std::to_string(port) + " RTP/AVP 8 101\r\na=rtpmap:101 telephone-event/8000\r\n";
}

std::string withBody(const std::string& extra, const std::string& body) {
    return extra + (body.empty() ? "" : "Content-Type: application/sdp\r\n") +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// A response to `request` from `peer`, its To tagged.
std::string respond(const std::string& request, const std::string& status,
                    const std::string& extra = {}, const std::string& body = {}) {
    std::string head = request.substr(request.find("\r\nVia:") + 2);
    head = std::regex_replace(head.substr(0, head.find("Content-Length")),
                              std::regex("(Contact|Content-Type): [^\r]*\r\n"), "");
    head = std::regex_replace(head, std::regex("(\r\nTo: [^\r]*>)\r\n"), "$1;tag=t9\r\n");
    return "SIP/2.0 " + status + "\r\n" + head + withBody(extra, body);
}

const std::string kOwner = "01711234567";

// One incoming dialog as the caller forges it.
struct Dialog {
    std::string callId = "hostile-" + std::to_string(std::random_device()()), toTag;
    std::string request(const RawPeer& from, const std::string& method, int cseq,
                        const std::string& caller = kOwner, const std::string& extra = {},
                        const std::string& body = {}) const {
        return method + " sip:4930123456@127.0.0.1 SIP/2.0\r\nVia: SIP/2.0/UDP " + from.via() +
               ";branch=z9hG4bK" + std::to_string(std::random_device()()) +
               "\r\nFrom: <sip:" + caller + "@127.0.0.1>;tag=c1\r\nTo: <sip:4930123456@127.0.0.1>" +
               (toTag.empty() ? "" : ";tag=" + toTag) + "\r\nCall-ID: " + callId +
               "\r\nCSeq: " + std::to_string(cseq) + " " + method + "\r\nContact: <sip:c@" +
               from.via() + ">\r\nMax-Forwards: 70\r\n" + withBody(extra, body);
    }
};

using Attack = std::function<void(LineUnderTest&, RawPeer& trusted, RawPeer& anyone, uint16_t)>;

TEST(HostilePeers, NoCallKeyOrCredentialForAnyoneButThePeer) {
    // The owner's call, answered and acknowledged; its RTP port.
    auto answered = [](LineUnderTest& line, RawPeer& trusted, Dialog& dialog, uint16_t port) {
        trusted.send(port, dialog.request(trusted, "INVITE", 1, kOwner, {}, sdp(4000)));
        auto call = line.waitFor<IncomingCall>();
        line.line().answer(call ? call->id : 0);
        auto ok = trusted.expect("^SIP/2.0 200");
        dialog.toTag = field(ok, "\r\nTo: [^\r]*;tag=([^;\r]+)");
        trusted.send(port, dialog.request(trusted, "ACK", 1));
        EXPECT_TRUE(line.waitFor<Answered>()) << line.logText();
        return static_cast<uint16_t>(std::stoi("0" + field(ok, "m=audio (\\d+)")));
    };
    // finding, attack, keys the line may report, calls it takes, calls answered
    const std::tuple<const char*, Attack, const char*, size_t, size_t> rows[] = {
        {"keys and audio only from the caller's address and SSRC",
         [&](LineUnderTest& line, RawPeer& trusted, RawPeer& anyone, uint16_t port) {
             Dialog dialog;
             uint16_t rtp = answered(line, trusted, dialog, port);
             trusted.rtp(rtp, 7, "");    // the caller's audio fixes its source
             anyone.rtp(rtp, 7, "09#");  // a stranger, with the caller's SSRC
             trusted.rtp(rtp, 8, "1");   // the caller's address, another SSRC
             trusted.rtp(rtp, 7, "5");   // the caller
             EXPECT_TRUE(line.waitFor<Dtmf>());
             trusted.send(port, dialog.request(trusted, "BYE", 2));
         },
         "5", 1, 1},
        {"a forged INVITE, never acknowledged, keys nothing and ends",
         [&](LineUnderTest& line, RawPeer& trusted, RawPeer&, uint16_t port) {
             Dialog dialog;
             trusted.send(port, dialog.request(trusted, "INVITE", 1, kOwner, {}, sdp(4002)));
             auto call = line.waitFor<IncomingCall>();
             line.line().answer(call ? call->id : 0);
             auto ok = trusted.expect("^SIP/2.0 200");
             trusted.rtp(static_cast<uint16_t>(std::stoi("0" + field(ok, "m=audio (\\d+)"))), 9,
                         "0900#");
         },
         "", 1, 0},
        {"a call nobody answers ends with 480 after the ringing time",
         [&](LineUnderTest& line, RawPeer& trusted, RawPeer&, uint16_t port) {
             trusted.send(port, Dialog().request(trusted, "INVITE", 1, kOwner, {}, sdp(4004)));
             EXPECT_TRUE(line.waitFor<IncomingCall>());
             EXPECT_NE(trusted.expect("^SIP/2.0 480", 5s), "");
         },
         "", 1, 0},
        {"BYE and re-INVITE of the owner's call from another address are refused",
         [&](LineUnderTest& line, RawPeer& trusted, RawPeer& anyone, uint16_t port) {
             Dialog dialog;
             answered(line, trusted, dialog, port);
             anyone.send(port, dialog.request(anyone, "INVITE", 2, kOwner, {}, sdp(4006)));
             anyone.send(port, dialog.request(anyone, "BYE", 3));
             EXPECT_NE(anyone.expect("^SIP/2.0 403[^]*CSeq: 3 BYE"), "");
             EXPECT_FALSE(line.waitFor<Ended>({}, 500ms));
             trusted.send(port, dialog.request(trusted, "BYE", 4));
         },
         "", 1, 1},
        {"a foreign realm, or a challenge within the dialog, gets no credentials",
         [&](LineUnderTest& line, RawPeer& trusted, RawPeer&, uint16_t port) {
             line.line().dial("0301234567");
             trusted.send(port,
                          respond(trusted.expect("^INVITE "), "407 Proxy Auth",
                                  "Proxy-Authenticate: Digest realm=\"evil\", nonce=\"n\"\r\n"));
             auto id = line.line().dial("0301234567");
             trusted.send(port, respond(trusted.expect("^INVITE "), "200 OK",
                                        "Contact: <sip:c@" + trusted.via() + ">\r\n", sdp(4010)));
             ASSERT_TRUE(line.waitFor<Answered>());
             line.line().hangUp(id);
             trusted.send(port, respond(trusted.expect("^BYE "), "401 Unauthorized",
                                        "WWW-Authenticate: Digest realm=\"127.0.0.1\", "
                                        "nonce=\"m\"\r\n"));
             trusted.expect("^$", 1s);  // whatever would still come
             EXPECT_EQ(trusted.seen().find("Authorization:"), std::string::npos) << trusted.seen();
         },
         "", 2, 1},
        {"a calling number of 4,200 digits is refused, and the line serves on",
         [&](LineUnderTest& line, RawPeer& trusted, RawPeer&, uint16_t port) {
             trusted.send(
                 port, Dialog().request(trusted, "INVITE", 1, std::string(4200, '7'),
                                        "Subject: " + std::string(3000, 'x') + "\r\n", sdp(4008)));
             EXPECT_NE(trusted.expect("^SIP/2.0 484"), "");
             trusted.send(port, Dialog().request(trusted, "INVITE", 1, kOwner, {}, sdp(4008)));
             auto call = line.waitFor<IncomingCall>();
             line.line().reject(call ? call->id : 0, 486);
         },
         "", 1, 0},
    };
    for (const auto& [finding, attack, keys, calls, answers] : rows) {
        const uint16_t registrarPort = freeUdpPort();
        RawPeer trusted("127.0.0.1", registrarPort), anyone("127.0.0.2");
        LineUnderTest line(LineUnderTest::account(registrarPort), false, 2s);
        line.start();
        attack(line, trusted, anyone, line.line().sipPort());
        // Every call has ended: no call slot is left behind.
        EXPECT_TRUE(waitUntil([&] { return line.all<Ended>().size() >= calls; }, 5s))
            << finding << "\n"
            << line.logText();
        std::string keyed;
        for (const auto& dtmf : line.all<Dtmf>()) {
            keyed += dtmf.key;
        }
        EXPECT_EQ(keyed, keys) << finding;
        EXPECT_EQ(line.all<Answered>().size(), answers) << finding;
    }
}

// The SIP socket's filter drops in the kernel what libre would take long to
// find no first line in; every message and keep-alive passes.
TEST(HostilePeers, DatagramsWithoutAnEarlyLineEndNeverReachTheStack) {
    RawPeer line("127.0.0.1"), anyone("127.0.0.2");
    const uint16_t port = std::stoi(line.via().substr(line.via().find(':') + 1));
    ASSERT_TRUE(attachStartLineFilter(udpSocketOn(port)));
    const std::pair<std::string, bool> rows[] = {
        {Dialog().request(anyone, "OPTIONS", 1), true},
        {"\r\n\r\n", true},
        {std::string(kLongestStartLine - 1, 'a') + "\n", true},
        {std::string(kLongestStartLine, 'a') + "\n", false},
        {std::string(8000, 'a'), false},
    };
    for (const auto& [datagram, passes] : rows) {
        anyone.send(port, datagram);
        EXPECT_EQ(line.expect("", 300ms) == datagram, passes) << datagram.substr(0, 40);
    }
}

}  // namespace
}  // namespace tellmaro::test
