#pragma once
// Inside the SIP thread: the libre objects of the line and of each call.
// Only sip_thread.cpp and sip_call.cpp include this (and so libre); every
// function here runs on the SIP thread.

#include <re.h>
#include <rem.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "exchange/sip/audio_fifos.h"
#include "exchange/sip/call_barring.h"
#include "exchange/sip/call_fields.h"
#include "exchange/sip/direct_bridge.h"
#include "exchange/sip/dtmf_keys.h"
#include "exchange/sip/media_source.h"
#include "exchange/sip/sdes_keys.h"
#include "exchange/sip/sip_line.h"
#include "exchange/sip/sip_registration.h"
#include "exchange/sip/sip_tls.h"
#include "exchange/sip/srtp_streams.h"

namespace tellmaro::sip {

class Engine;

// Every value of a header that may come more than once, as one comma-separated list.
std::string headerList(const struct sip_msg* msg, enum sip_hdrid id);

// What the error number of libre or the system means (str_error: thread-safe).
std::string errorText(int err);

// An address and port as a log line shows it ("192.0.2.1:5060").
std::string describeAddress(const struct sa& address);

// What other threads ask of the SIP thread.
struct Command {
    enum class Kind { Dial, Alert, Answer, Reject, HangUp, Block, Media, Stop };
    explicit Command(Kind what, CallId call = 0) : kind(what), id(call) {}
    Kind kind;
    CallId id = 0;
    std::string number;
    uint16_t status = 0;
    Block block{};
    RelayMedia media = RelayMedia::Started;
};

// The side of the line shared between threads: commands in, events out.
class LineShared {
  public:
    LineShared(SipLineOptions options);
    ~LineShared();

    const SipLineOptions& options() const { return options_; }
    void log(const std::string& line) const;

    // SIP thread -> user. An audio block or a key beyond the bound of waiting
    // ones is dropped (false): the user takes them far more often than a
    // peer can key or send. The user's thread runs no libre main loop, and
    // libre's mqueue is read only by one (its pipe is not ours to poll), so
    // these wait in a vector behind an eventfd the user polls
    // (RcapiServer::watch).
    bool emit(SipEvent event);
    std::vector<SipEvent> take();
    int eventFd() const { return eventFd_; }

    // User -> SIP thread, as messages of libre's mqueue: each names the slot
    // its command waits in. Beyond the slots a command is dropped, counted
    // and logged once: the SIP thread is stuck then anyway. Without a queue
    // (no SIP thread) a command is dropped: nothing could act on it.
    void push(Command command);
    // The command of a message's slot, which is free again (SIP thread).
    std::optional<Command> takeCommand(int slot);
    // The running engine's queue, or nullptr once it goes, which drops the
    // commands still waiting (the queue's messages go with it).
    void setQueue(struct mqueue* queue);
    CallId newId() { return nextId_++; }

  private:
    static constexpr size_t kMostWaitingBlocks = 16;
    static constexpr size_t kMostWaitingKeys = 32;
    static constexpr size_t kMostWaitingCommands = 64;
    SipLineOptions options_;
    int eventFd_ = -1;
    mutable std::mutex mutex_;
    std::vector<SipEvent> events_;
    size_t waitingBlocks_ = 0;
    size_t waitingKeys_ = 0;
    std::mutex commandMutex_;
    std::array<std::optional<Command>, kMostWaitingCommands> commands_;
    std::vector<int> freeSlots_;
    uint64_t droppedCommands_ = 0;
    struct mqueue* queue_ = nullptr;
    std::atomic<CallId> nextId_{1};
};

class Call;

// What a call's digest handler may reach. libre holds it (reference-counted)
// as long as the session, which may outlive the call and the engine.
struct AuthContext {
    Engine* engine;  // nobody once the engine has gone
    Call* call;      // nobody once the call has ended
    CallId id;
};

class Call {
  public:
    enum class State { Offered, Accepted, Calling, Established, Ended };

    Call(Engine& engine, CallId id, bool incoming);
    ~Call();
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

    int openMedia();  // the RTP socket
    // Incoming: the INVITE arrived with `offer` (none: we offer in the 200).
    int acceptIncoming(const struct sip_msg* msg, const MediaOffer* offer);
    int dial(const std::string& number);
    void alert();
    void answer();
    void reject(uint16_t status);
    void hangUp();
    void sendBlock(std::span<const uint8_t> bytes);
    // Bytes the other call received, passed on directly by the bridge.
    void passOn(std::span<const uint8_t> bytes);
    void restartSending() { send_.clear(); }
    void setRelayMedia(bool on) { relayMedia_ = on; }
    bool relayMedia() const { return relayMedia_ && state_ != State::Ended; }
    // Connected and not on hold either way.
    bool talking() const {
        return state_ == State::Established && remote_ && remote_->peerSends() &&
               remote_->peerReceives();
    }

    CallId id() const { return id_; }
    State state() const { return state_; }
    // Whether an in-dialog request of this call's dialog came from where the
    // dialog was set up (or from a trusted proxy); nothing when `msg` is not
    // of this call.
    std::optional<bool> inDialogFromPeer(const struct sip_msg* msg) const;
    // Who called whom, for the one status line written when the call ends.
    void describe(std::string description) { description_ = std::move(description); }
    uint16_t rtpPort() const;

  private:
    static int offerHandler(struct mbuf** descp, const struct sip_msg* msg, void* arg);
    static int answerHandler(const struct sip_msg* msg, void* arg);
    static void progressHandler(const struct sip_msg* msg, void* arg);
    static void establishedHandler(const struct sip_msg* msg, void* arg);
    static void infoHandler(struct sip* sip, const struct sip_msg* msg, void* arg);
    static void closeHandler(int err, const struct sip_msg* msg, void* arg);
    static void rtpHandler(const struct sa* src, const struct rtp_header* hdr, struct mbuf* mb,
                           void* arg);
    static void tickHandler(void* arg);
    static void ringTimeoutHandler(void* arg);
    static void longestCallHandler(void* arg);
    static void inbandHandler(char digit, void* arg);
    // Digest credentials for this call's own INVITE only, never in the dialog.
    static int authHandler(char** user, char** password, const char* realm, void* arg);
    AuthContext* authContext();
    void forgetAuthContext();

    // `answersOurs`: the SDP answers our offer. False when it is refused.
    bool takeRemoteMedia(const struct sip_msg* msg, bool answersOurs);
    // Keys the call's SRTP from the peer's SDP under the account's policy;
    // false (logged) when the SDP is refused.
    bool applyKeying(const MediaOffer& offer, bool overTls, bool answersOurs);
    void setRemoteMedia(const MediaOffer& offer, const struct sa& address);
    // Where in-dialog requests may come from: the source of the message that
    // set the dialog up and its Contact.
    void notePeer(const struct sip_msg* msg);
    bool fromPeer(const struct sa& rtpSource, const struct rtp_header& header);
    struct mbuf* sdpBody(bool answer);
    void startMedia();
    void sendFrames();
    void key(char key, KeySource source);
    // Hands the received blocks to the user, and tells the bridge.
    void emitBlocks();
    // Reports the end once, frees the session and has the engine drop the call.
    void end(uint8_t cause, uint16_t sipStatus, const std::string& reason);

    Engine& engine_;
    CallId id_;
    bool incoming_;
    State state_;
    std::string description_;
    std::optional<std::chrono::steady_clock::time_point> connectedAt_;
    bool alerted_ = false;
    struct sipsess* session_ = nullptr;
    AuthContext* auth_ = nullptr;
    struct rtp_sock* rtp_ = nullptr;
    struct dtmf_dec* inband_ = nullptr;
    struct tmr tick_ {};
    struct tmr ringTimer_ {};
    struct tmr longestCall_ {};
    std::optional<MediaOffer> remote_;
    struct sa remoteAddress_ {};
    std::vector<struct sa> peers_;  // signalling addresses of the dialog
    MediaSourceLock mediaSource_;
    // This leg's own SRTP: our keys as offered, our key when answering, the
    // peer's key, and why the peer's last SDP was refused.
    SrtpStreams srtp_;
    std::vector<SdesKey> offeredKeys_;
    std::optional<SdesKey> answerKey_;
    std::optional<SdesKey> peerKey_;
    std::string keyingRefusal_;
    ReportedSources foreignMedia_;
    uint64_t unadmittedPackets_ = 0;
    uint64_t sessionId_ = 0;

    ReceiveFifo receive_;
    SendFifo send_;
    std::optional<FramePace> pace_;
    uint32_t sendTimestamp_ = 0;
    bool firstFrame_ = true;
    uint64_t framesSent_ = 0;
    uint64_t blocksDropped_ = 0;
    bool relayMedia_ = false;
    std::chrono::steady_clock::time_point lastRtp_{};
    TelephoneEvents telephoneEvents_;
    KeyDeduplicator keys_;
};

class Engine {
  public:
    Engine(LineShared& shared, const SipAccount& account);
    ~Engine();

    int start(std::string& error);  // sockets, registration
    void stopping();                // hangs up and unregisters; re_cancel follows
    void handle(Command& command);

    LineShared& shared() { return shared_; }
    const SipAccount& account() const { return account_; }
    struct sip* stack() {
        return sip_;
    }
    struct sipsess_sock* sessions() {
        return sessions_;
    }
    const std::string& localAddress() const { return localAddress_; }
    // Where the registrar sees us, when it is not our own address and of its family.
    const struct sa* publicAddress() const;
    // The address for SDP: the public one, else our own.
    std::string mediaAddress() const;
    uint16_t sipPort() const { return sipPort_; }
    const NumberPlan& plan() const { return plan_; }
    std::vector<const char*> routes() const;
    // A call's Contact: the user alone (libre adds the socket's address), or
    // behind a NAT the whole URI at the address the registrar sees.
    std::string contactUser() const;
    std::string fromUri() const {
        return account_.scheme() + account_.user + "@" + account_.domain;
    }
    // The transport parameter of the URIs we send to: none for UDP and for sips: URIs.
    std::string uriTransport() const;
    // The account's credentials for `realm`, if it is one of the account's;
    // a refusal is logged with `what` asked.
    int credentials(char** user, char** password, const char* realm, const std::string& what);
    // The registrar, the proxy or a configured INVITE source.
    bool trusted(const struct sa& source) const;
    // A request from `source` refused with 403, logged once per source.
    void refused(const struct sa& source, const std::string& what, const std::string& why);

    // A call that ended: destroyed from a timer, outside libre's callbacks.
    void retire(CallId id);
    // The direct bridge between two calls the relay joins (direct_bridge.h).
    DirectBridge& bridge() { return bridge_; }
    // A call's relay media, state or remote media changed.
    void legsChanged(const std::string& why);
    // Bytes `from` received: to the bridged call, if any.
    void passOn(CallId from, size_t offset, std::span<const uint8_t> bytes);
    // Keeps a call's digest context until libre lets go of it too.
    void keep(AuthContext* context);
    // A status line; a trace line only with --verbose.
    void log(const std::string& line) { shared_.log(line); }
    void trace(const std::string& line) {
        if (shared_.options().verbose) {
            shared_.log(line);
        }
    }

  private:
    static void connectHandler(const struct sip_msg* msg, void* arg);
    void registered(int err, const struct sip_msg* msg);
    static void retryHandler(void* arg);
    static void keepAliveHandler(void* arg);
    static void keepAliveAnswer(int err, const struct sip_msg* msg, void* arg);
    static void flowLost(int err, void* arg);
    // Where the registrar or a keep-alive's answer says it sees us; a change
    // registers again with it as the Contact.
    void noteSeenAddress(const struct sip_msg* msg);
    // The route toward the registrar now leaves from another local address:
    // listens there and registers again.
    void checkRoute();
    int listen(std::string& error);
    static void reapHandler(void* arg);
    static void traceHandler(bool tx, enum sip_transp tp, const struct sa* src,
                             const struct sa* dst, const uint8_t* pkt, size_t len, void* arg);
    static void exitHandler(void* arg);
    static void commandHandler(int id, void* data, void* arg);
    static int registrationAuthHandler(char** user, char** password, const char* realm, void* arg);
    // Before the sessions: in-dialog requests only from the dialog's peer.
    static bool dialogGuard(const struct sip_msg* msg, void* arg);
    // After everything else: what nobody took is answered without a word on
    // stderr, where libre would write a line for each.
    static bool leftoverRequest(const struct sip_msg* msg, void* arg);
    static bool leftoverResponse(const struct sip_msg* msg, void* arg);

    int startRegistration();
    // Registers again now, saying why in a status line.
    void registerAgain(const std::string& why, uint64_t afterMs = 0);
    void registrationChanged(RegistrationState state, const std::string& reason,
                             std::vector<std::string> facts = {});

    LineShared& shared_;
    SipAccount account_;
    NumberPlan plan_;
    CallBarring barring_;
    DirectBridge bridge_;
    std::string localAddress_;
    uint16_t sipPort_ = 0;
    std::string registrarText_;
    std::string proxyRoute_;
    bool autoLocalAddress_ = false;  // chosen by the route, not by sip.conf
    struct sa public_ {};            // where the registrar sees us, if not at our own address
    std::string seenAt_;             // as the registrar last said, for --check
    struct sip_dialog* keepAliveDialog_ = nullptr;
    struct sip_request* keepAliveRequest_ = nullptr;
    struct sip_keepalive* flowKeepAlive_ = nullptr;  // CRLF pings on a connection
    TlsClient tls_;
    struct {
        std::vector<struct sa> addresses;
        std::vector<bool> portMatters;
    } inviteSources_;

    struct dnsc* dns_ = nullptr;
    struct sip* sip_ = nullptr;
    struct sipsess_sock* sessions_ = nullptr;
    struct sip_lsnr* dialogGuard_ = nullptr;
    struct sip_lsnr* leftoverRequests_ = nullptr;
    struct sip_lsnr* leftoverResponses_ = nullptr;
    ReportedSources refusedSources_;
    std::unique_ptr<Registration> registration_;
    struct mqueue* queue_ = nullptr;
    struct tmr retryTimer_ {};
    struct tmr keepAliveTimer_ {};
    struct tmr reapTimer_ {};
    unsigned failures_ = 0;
    std::string refusedRealm_;  // of the registrar's last challenge, when it was not ours
    std::optional<RegistrationState> registrationState_;
    std::string lastRegistrationReason_;
    std::map<CallId, std::unique_ptr<Call>> calls_;
    std::vector<CallId> retired_;
    std::vector<AuthContext*> authContexts_;
    bool stopping_ = false;
    friend class Call;
};

}  // namespace tellmaro::sip
