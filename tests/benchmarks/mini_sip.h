#pragma once
// Just enough SIP over UDP on 127.0.0.1 for the far ends of a benchmark
// call: a caller that INVITEs, ACKs and hangs up, and a callee that rings,
// answers and takes the BYE. Each runs on a thread of its own and answers
// any other request with 200. Messages are built as text; only the headers
// a dialog needs are read back. No retransmission timers beyond the 200's:
// nothing is lost on the loopback interface.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support/loopback_udp.h"

namespace tellmaro::bench {

using SipClock = std::chrono::steady_clock;

struct SipMessage {
    std::string text;
    uint16_t sourcePort = 0;

    std::string_view firstLine() const {
        return std::string_view(text).substr(0, text.find("\r\n"));
    }
    bool isResponse() const { return text.rfind("SIP/2.0 ", 0) == 0; }
    int status() const { return isResponse() ? std::atoi(text.c_str() + 8) : 0; }
    std::string method() const { return std::string(firstLine().substr(0, firstLine().find(' '))); }
    // Every value of a header, long or compact name, in order.
    std::vector<std::string> headers(std::string_view name, std::string_view compact) const {
        std::vector<std::string> values;
        std::string_view head = std::string_view(text).substr(0, text.find("\r\n\r\n"));
        size_t at = head.find("\r\n");
        while (at != std::string_view::npos) {
            size_t next = head.find("\r\n", at + 2);
            std::string_view line = head.substr(
                at + 2, next == std::string_view::npos ? std::string_view::npos : next - at - 2);
            size_t colon = line.find(':');
            if (colon != std::string_view::npos) {
                std::string_view key = line.substr(0, colon);
                while (!key.empty() && key.back() == ' ') {
                    key.remove_suffix(1);
                }
                if (sameName(key, name) || sameName(key, compact)) {
                    std::string_view value = line.substr(colon + 1);
                    while (!value.empty() && value.front() == ' ') {
                        value.remove_prefix(1);
                    }
                    values.emplace_back(value);
                }
            }
            at = next;
        }
        return values;
    }
    std::string header(std::string_view name, std::string_view compact) const {
        auto values = headers(name, compact);
        return values.empty() ? std::string() : values.front();
    }
    std::string callId() const { return header("Call-ID", "i"); }
    std::string body() const {
        size_t at = text.find("\r\n\r\n");
        return at == std::string::npos ? std::string() : text.substr(at + 4);
    }
    // The port of the first m=audio line of the SDP body, 0 without one.
    uint16_t audioPort() const {
        std::string sdp = body();
        size_t at = sdp.find("m=audio ");
        return at == std::string::npos ? 0 : static_cast<uint16_t>(std::atoi(sdp.c_str() + at + 8));
    }

  private:
    static bool sameName(std::string_view a, std::string_view b) {
        if (a.size() != b.size()) {
            return false;
        }
        for (size_t i = 0; i < a.size(); ++i) {
            if (std::tolower(static_cast<unsigned char>(a[i])) !=
                std::tolower(static_cast<unsigned char>(b[i]))) {
                return false;
            }
        }
        return true;
    }
};

inline std::string randomToken() {
    static std::mt19937_64 random{std::random_device{}()};
    std::ostringstream text;
    text << std::hex << random();
    return text.str();
}

// An offer or answer: PCMA and RFC 4733 events on `rtpPort`.
inline std::string audioSdp(uint16_t rtpPort) {
    std::string port = std::to_string(rtpPort);
    return "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\n"
           "m=audio " +
           port +
           " RTP/AVP 8 101\r\na=rtpmap:8 PCMA/8000\r\na=rtpmap:101 telephone-event/8000\r\n"
           "a=fmtp:101 0-15\r\na=ptime:20\r\na=sendrecv\r\n";
}

// A UDP socket on 127.0.0.1 with a thread that hands each message to
// `handle` and calls `tick` every 10 ms.
class SipEndpoint {
  public:
    SipEndpoint() { fd_ = test::bindLoopbackUdp(port_); }
    virtual ~SipEndpoint() { close(fd_); }
    SipEndpoint(const SipEndpoint&) = delete;
    SipEndpoint& operator=(const SipEndpoint&) = delete;

    uint16_t port() const { return port_; }

  protected:
    // Derived classes start the thread once they are complete, and stop it
    // in their destructor.
    void startThread() {
        thread_ = std::thread([this] { run(); });
    }
    void stopThread() {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    void send(uint16_t port, const std::string& text) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sendto(fd_, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
    // A response to `request` that copies its Via, From, To, Call-ID and CSeq.
    std::string response(const SipMessage& request, const std::string& status,
                         const std::string& toTag, const std::string& sdp = {}) const {
        std::string text = "SIP/2.0 " + status + "\r\n";
        for (const auto& via : request.headers("Via", "v")) {
            text += "Via: " + via + "\r\n";
        }
        std::string to = request.header("To", "t");
        if (!toTag.empty() && to.find(";tag=") == std::string::npos) {
            to += ";tag=" + toTag;
        }
        text += "From: " + request.header("From", "f") + "\r\nTo: " + to +
                "\r\nCall-ID: " + request.callId() + "\r\nCSeq: " + request.header("CSeq", "") +
                "\r\nContact: <sip:peer@127.0.0.1:" + std::to_string(port_) + ">\r\n";
        return text + withBody(sdp);
    }
    static std::string withBody(const std::string& sdp) {
        return (sdp.empty() ? "" : "Content-Type: application/sdp\r\n") +
               std::string("Content-Length: ") + std::to_string(sdp.size()) + "\r\n\r\n" + sdp;
    }
    virtual void handle(const SipMessage& message) = 0;
    virtual void tick() {}

  private:
    void run() {
        while (!stop_) {
            pollfd fd{fd_, POLLIN, 0};
            if (poll(&fd, 1, 10) > 0) {
                char buffer[8192];
                sockaddr_in source{};
                socklen_t length = sizeof source;
                ssize_t got = recvfrom(fd_, buffer, sizeof buffer, 0,
                                       reinterpret_cast<sockaddr*>(&source), &length);
                std::string text(buffer, got > 0 ? static_cast<size_t>(got) : 0);
                // CRLF keep-alives carry no message.
                if (text.find_first_not_of("\r\n") != std::string::npos) {
                    handle(SipMessage{std::move(text), ntohs(source.sin_port)});
                }
            }
            tick();
        }
    }

    int fd_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The called party: rings for `ring`, then answers with its RTP port;
// retransmits the 200 until the ACK comes; hangs up when asked.
class SipCallee final : public SipEndpoint {
  public:
    SipCallee(uint16_t rtpPort, std::chrono::milliseconds ring) : rtpPort_(rtpPort), ring_(ring) {
        startThread();
    }
    ~SipCallee() override { stopThread(); }

    // The RTP port of the INVITE's offer once the call is answered, else 0.
    uint16_t answeredTo() const { return answeredTo_; }
    // When the first 200 went out.
    SipClock::time_point answeredAt() const {
        std::lock_guard lock(mutex_);
        return answeredAt_;
    }
    // Hangs up the answered call: a BYE to the caller's Contact.
    void hangUp() {
        std::lock_guard lock(mutex_);
        const std::string contact = invite_.header("Contact", "m");
        const size_t open = contact.find('<') + 1, colon = contact.rfind(':', contact.find('>'));
        send(static_cast<uint16_t>(std::atoi(contact.c_str() + colon + 1)),
             "BYE " + contact.substr(open, contact.find('>') - open) +
                 " SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1:" + std::to_string(port()) +
                 ";branch=z9hG4bK" + randomToken() +
                 "\r\nMax-Forwards: 70\r\nFrom: " + invite_.header("To", "t") + ";tag=" + tag_ +
                 "\r\nTo: " + invite_.header("From", "f") + "\r\nCall-ID: " + invite_.callId() +
                 "\r\nCSeq: 1 BYE\r\n" + withBody({}));
        hungUp_ = true;
    }
    bool hungUp() const { return hungUp_; }
    std::string requestUri() const {
        std::lock_guard lock(mutex_);
        return requestUri_;
    }

  private:
    void handle(const SipMessage& message) override {
        if (message.isResponse()) {
            return;
        }
        std::string method = message.method();
        std::lock_guard lock(mutex_);
        if (method == "INVITE" && message.callId() != invite_.callId()) {
            invite_ = message;
            requestUri_ = std::string(message.firstLine());
            callerPort_ = message.sourcePort;
            send(callerPort_, response(invite_, "100 Trying", ""));
            send(callerPort_, response(invite_, "180 Ringing", tag_));
            answerAt_ = SipClock::now() + ring_;
        } else if (method == "INVITE") {
            // A retransmission: the answer goes again.
            if (answerSent_) {
                send(callerPort_, response(invite_, "200 OK", tag_, audioSdp(rtpPort_)));
            }
        } else if (method == "ACK") {
            acked_ = true;
        } else if (method == "BYE") {
            send(message.sourcePort, response(message, "200 OK", tag_));
            hungUp_ = true;
        } else {
            send(message.sourcePort, response(message, "200 OK", tag_));
        }
    }
    void tick() override {
        std::lock_guard lock(mutex_);
        auto now = SipClock::now();
        if (invite_.text.empty() || acked_ || hungUp_ || now < answerAt_) {
            return;
        }
        send(callerPort_, response(invite_, "200 OK", tag_, audioSdp(rtpPort_)));
        if (!answerSent_) {
            answerSent_ = true;
            answeredAt_ = now;
            answeredTo_ = invite_.audioPort();
        }
        answerAt_ = now + std::chrono::milliseconds(500);
    }

    const uint16_t rtpPort_;
    const std::chrono::milliseconds ring_;
    const std::string tag_ = randomToken();
    mutable std::mutex mutex_;
    SipMessage invite_;
    std::string requestUri_;
    uint16_t callerPort_ = 0;
    SipClock::time_point answerAt_{};
    SipClock::time_point answeredAt_{};
    bool answerSent_ = false;
    bool acked_ = false;
    std::atomic<uint16_t> answeredTo_{0};
    std::atomic<bool> hungUp_{false};
};

// The calling party: INVITEs `to` at 127.0.0.1:`port` from `from`, offering
// its RTP port; ACKs the answer; hangs up when asked.
class SipCaller final : public SipEndpoint {
  public:
    SipCaller(std::string from, std::string to, uint16_t port, uint16_t rtpPort)
        : from_("<sip:" + std::move(from) + "@127.0.0.1>;tag=" + randomToken()),
          to_("<sip:" + to + "@127.0.0.1>"),
          uri_("sip:" + to + "@127.0.0.1:" + std::to_string(port)),
          target_(port),
          rtpPort_(rtpPort) {
        startThread();
    }
    ~SipCaller() override { stopThread(); }

    void invite() {
        std::lock_guard lock(mutex_);
        send(target_, request("INVITE", 1, inviteBranch_, audioSdp(rtpPort_)));
    }
    void hangUp() {
        std::lock_guard lock(mutex_);
        send(target_, request("BYE", 2, "z9hG4bK" + randomToken()));
    }

    // The answer's RTP port once answered, else 0.
    uint16_t answeredWith() const { return answeredWith_; }
    // The final status of the INVITE (0 while none came), and of the BYE.
    int finalStatus() const { return finalStatus_; }
    int byeStatus() const { return byeStatus_; }
    bool hungUpByFarEnd() const { return hungUpByFarEnd_; }

  private:
    std::string request(const std::string& method, int cseq, const std::string& branch,
                        const std::string& sdp = {}) const {
        return method + " " + uri_ +
               " SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1:" + std::to_string(port()) +
               ";branch=" + branch + ";rport\r\nMax-Forwards: 70\r\nFrom: " + from_ +
               "\r\nTo: " + to_ + "\r\nCall-ID: " + callId_ + "\r\nCSeq: " + std::to_string(cseq) +
               " " + method + "\r\nContact: <sip:mobile@127.0.0.1:" + std::to_string(port()) +
               ">\r\n" + withBody(sdp);
    }
    void handle(const SipMessage& message) override {
        std::lock_guard lock(mutex_);
        if (!message.isResponse()) {
            if (message.method() == "BYE") {
                hungUpByFarEnd_ = true;
            }
            if (message.method() != "ACK") {
                send(message.sourcePort, response(message, "200 OK", ""));
            }
            return;
        }
        int status = message.status();
        std::string cseq = message.header("CSeq", "");
        if (cseq.find("BYE") != std::string::npos) {
            byeStatus_ = status;
            return;
        }
        if (status < 200) {
            return;
        }
        // The dialog's To carries the far end's tag; ACK every final answer.
        to_ = message.header("To", "t");
        if (status < 300) {
            send(target_, request("ACK", 1, "z9hG4bK" + randomToken()));
            if (answeredWith_ == 0) {
                answeredWith_ = message.audioPort();
            }
        } else {
            send(target_, request("ACK", 1, inviteBranch_));
        }
        finalStatus_ = status;
    }

    const std::string from_;
    std::string to_;
    const std::string uri_;
    const uint16_t target_;
    const uint16_t rtpPort_;
    const std::string callId_ = randomToken() + "@bench";
    const std::string inviteBranch_ = "z9hG4bK" + randomToken();
    std::mutex mutex_;
    std::atomic<uint16_t> answeredWith_{0};
    std::atomic<int> finalStatus_{0};
    std::atomic<int> byeStatus_{0};
    std::atomic<bool> hungUpByFarEnd_{false};
};

}  // namespace tellmaro::bench
