// One call on the SIP thread: its SIP session, its RTP socket with the two
// audio FIFOs and the 20 ms pace, and its DTMF keys.

#include <cerrno>
#include <cstring>

#include "exchange/sip/g711.h"
#include "exchange/sip/sip_causes.h"
#include "exchange/sip/sip_engine.h"

namespace tellmaro::sip {

namespace {

std::string text(const struct pl& value) {
    return std::string(value.p ? value.p : "", value.l);
}

std::string body(const struct sip_msg* msg) {
    return std::string(reinterpret_cast<const char*>(mbuf_buf(msg->mb)), mbuf_get_left(msg->mb));
}

std::string numeric(const struct sa& address) {
    char host[64] = {};
    sa_ntop(&address, host, sizeof host);
    return host;
}

}  // namespace

Call::Call(Engine& engine, CallId id, bool incoming)
    : engine_(engine),
      id_(id),
      incoming_(incoming),
      state_(incoming ? State::Offered : State::Calling),
      sessionId_(rand_u32()),
      sendTimestamp_(rand_u32()) {
    tmr_init(&tick_);
    tmr_init(&ringTimer_);
    tmr_init(&longestCall_);
    receive_.setTap([this](size_t offset, std::span<const uint8_t> bytes) {
        engine_.passOn(id_, offset, bytes);
    });
}

Call::~Call() {
    tmr_cancel(&tick_);
    tmr_cancel(&ringTimer_);
    tmr_cancel(&longestCall_);
    forgetAuthContext();
    session_ = static_cast<struct sipsess*>(mem_deref(session_));
    srtp_.detach();
    rtp_ = static_cast<struct rtp_sock*>(mem_deref(rtp_));
    inband_ = static_cast<struct dtmf_dec*>(mem_deref(inband_));
}

uint16_t Call::rtpPort() const {
    return rtp_ ? sa_port(rtp_local(rtp_)) : 0;
}

int Call::openMedia() {
    struct sa local;
    int err = sa_set_str(&local, engine_.localAddress().c_str(), 0);
    if (err) {
        return err;
    }
    const SipAccount& account = engine_.account();
    err = rtp_listen(&rtp_, IPPROTO_UDP, &local, account.rtpPortMin, account.rtpPortMax, false,
                     rtpHandler, nullptr, this);
    if (!err) {
        // Only the call's peer, once connected, reaches the receive context.
        err = srtp_.attach(rtp_, [this](const struct sa& source, uint32_t ssrc) {
            return state_ == State::Established &&
                   mediaSource_.wouldAdmit({numeric(source), sa_port(&source)}, ssrc);
        });
    }
    if (!err && account.inbandDtmf) {
        err = dtmf_dec_alloc(&inband_, 8000, 1, inbandHandler, this);
    }
    return err;
}

struct mbuf* Call::sdpBody(bool answer) {
    const SrtpPolicy policy = engine_.account().srtp;
    SdpCrypto crypto;
    if (answer && remote_) {
        if (peerKey_ && answerKey_) {
            crypto.secureProfile = remote_->secureProfile;
            crypto.attributes.push_back(cryptoAttribute(*answerKey_));
        }
    } else if (policy != SrtpPolicy::Off) {
        // Under optional the offer stays RTP/AVP, which a peer without SRTP
        // still takes (ignoring the keys); under mandatory RTP/SAVP.
        if (offeredKeys_.empty()) {
            offeredKeys_ = {newSdesKey(1, SrtpSuite::AesCm128Sha1_80),
                            newSdesKey(2, SrtpSuite::AesCm128Sha1_32)};
        }
        crypto.secureProfile = policy == SrtpPolicy::Mandatory;
        for (const auto& key : offeredKeys_) {
            crypto.attributes.push_back(cryptoAttribute(key));
        }
    }
    std::string sdp = buildSdp(engine_.mediaAddress(), rtpPort(), sessionId_,
                               answer && remote_ ? &*remote_ : nullptr, crypto);
    struct mbuf* mb = mbuf_alloc(sdp.size());
    if (mb) {
        mbuf_write_str(mb, sdp.c_str());
        mb->pos = 0;
    }
    return mb;
}

bool Call::takeRemoteMedia(const struct sip_msg* msg, bool answersOurs) {
    auto offer = chooseMedia(body(msg));
    struct sa address;
    if (!offer || sa_set_str(&address, offer->address.c_str(), offer->port) != 0 ||
        !applyKeying(*offer, msg->tp == SIP_TRANSP_TLS, answersOurs)) {
        return false;
    }
    setRemoteMedia(*offer, address);
    if (state_ == State::Established) {
        engine_.legsChanged("call " + std::to_string(id_) + ": the remote media changed");
    }
    return true;
}

bool Call::applyKeying(const MediaOffer& offer, bool overTls, bool answersOurs) {
    auto keying = decideKeying(
        engine_.account().srtp, offer, overTls,
        answersOurs ? std::span<const SdesKey>(offeredKeys_) : std::span<const SdesKey>());
    if (keying.outcome == MediaKeying::Outcome::Refused) {
        keyingRefusal_ = "SDP refused: " + keying.refusal;
        engine_.log("call " + std::to_string(id_) + ": " + keyingRefusal_);
        return false;
    }
    keyingRefusal_.clear();
    if (keying.outcome == MediaKeying::Outcome::Plain) {
        peerKey_.reset();
        srtp_.plain();
        return true;
    }
    SdesKey ours;
    if (answersOurs) {
        for (const auto& key : offeredKeys_) {
            if (key.tag == keying.peer.tag) {
                ours = key;
            }
        }
    } else {
        // Our answer keeps its key while the peer keeps the suite.
        if (!answerKey_ || answerKey_->suite != keying.peer.suite) {
            answerKey_ = newSdesKey(keying.peer.tag, keying.peer.suite);
        }
        answerKey_->tag = keying.peer.tag;
        ours = *answerKey_;
    }
    if (srtp_.key(ours, keying.peer) != 0) {
        keyingRefusal_ = "SRTP could not be keyed";
        engine_.log("call " + std::to_string(id_) + ": " + keyingRefusal_);
        return false;
    }
    peerKey_ = keying.peer;
    return true;
}

void Call::setRemoteMedia(const MediaOffer& offer, const struct sa& address) {
    remote_ = offer;
    remoteAddress_ = address;
    mediaSource_.expect({numeric(address), sa_port(&address)});
}

void Call::notePeer(const struct sip_msg* msg) {
    peers_.push_back(msg->src);
    const struct sip_hdr* contact = sip_msg_hdr(msg, SIP_HDR_CONTACT);
    struct sip_addr address;
    struct sa host;
    if (contact && sip_addr_decode(&address, &contact->val) == 0 &&
        sa_set(&host, &address.uri.host, address.uri.port) == 0) {
        peers_.push_back(host);
    }
}

std::optional<bool> Call::inDialogFromPeer(const struct sip_msg* msg) const {
    if (!session_ || !sip_dialog_cmp(sipsess_dialog(session_), msg)) {
        return std::nullopt;
    }
    for (const auto& peer : peers_) {
        if (sa_cmp(&peer, &msg->src, SA_ADDR)) {
            return true;
        }
    }
    return engine_.trusted(msg->src);
}

int Call::acceptIncoming(const struct sip_msg* msg, const MediaOffer* offer) {
    if (offer) {
        struct sa address;
        if (sa_set_str(&address, offer->address.c_str(), offer->port) != 0 ||
            !applyKeying(*offer, msg->tp == SIP_TRANSP_TLS, false)) {
            return EINVAL;
        }
        setRemoteMedia(*offer, address);
    }
    notePeer(msg);
    // 183 without SDP stops the caller's retransmissions and lets a CANCEL
    // find the call; 180 follows only when the user alerts.
    std::string user = engine_.contactUser();
    int err = sipsess_accept(&session_, engine_.sessions(), msg, 183, "Session Progress",
                             user.c_str(), "application/sdp", nullptr, authHandler, authContext(),
                             true, offerHandler, answerHandler, establishedHandler, infoHandler,
                             nullptr, closeHandler, this, nullptr);
    if (!err) {
        // A call that nobody answers, or whose caller never acknowledges the
        // answer, must not hold a call slot for ever.
        tmr_start(&ringTimer_,
                  static_cast<uint64_t>(engine_.shared().options().noAnswerTimeout.count()) * 1000,
                  ringTimeoutHandler, this);
    }
    return err;
}

AuthContext* Call::authContext() {
    if (!auth_) {
        auth_ = static_cast<AuthContext*>(mem_zalloc(sizeof(AuthContext), nullptr));
        if (auth_) {
            *auth_ = {&engine_, this, id_};
            engine_.keep(auth_);
        }
    }
    return auth_;
}

void Call::forgetAuthContext() {
    if (auth_) {
        auth_->call = nullptr;
        auth_ = static_cast<AuthContext*>(mem_deref(auth_));
    }
}

int Call::authHandler(char** user, char** password, const char* realm, void* arg) {
    // libre keeps a session that waits for the answer to our BYE beyond the
    // call, even beyond the engine: the context says who is still there.
    const auto* context = static_cast<const AuthContext*>(arg);
    if (!context->engine) {
        return EAUTH;
    }
    const std::string what = "call " + std::to_string(context->id);
    if (!context->call || context->call->state_ != State::Calling) {
        context->engine->log(what + ": a challenge within the dialog (realm '" +
                             std::string(realm) +
                             "') refused: credentials go only with our own INVITE");
        return EAUTH;
    }
    return context->engine->credentials(user, password, realm, what + "'s INVITE");
}

int Call::dial(const std::string& number) {
    const SipAccount& account = engine_.account();
    std::string to = account.scheme() + number + "@" + account.domain + engine_.uriTransport();
    std::string from = engine_.fromUri();
    std::string user = engine_.contactUser();
    auto routeList = engine_.routes();
    struct mbuf* offer = sdpBody(false);
    int err = sipsess_connect(
        &session_, engine_.sessions(), to.c_str(), nullptr, from.c_str(), user.c_str(),
        routeList.empty() ? nullptr : routeList.data(), static_cast<uint32_t>(routeList.size()),
        "application/sdp", offer, authHandler, authContext(), true, offerHandler, answerHandler,
        progressHandler, establishedHandler, infoHandler, nullptr, closeHandler, this, nullptr);
    mem_deref(offer);
    describe("out to '" + number + "'");
    engine_.trace("call " + std::to_string(id_) + " dialled");
    if (err) {
        end(cause::kTemporaryFailure, 0, std::string("INVITE not sent: ") + errorText(err));
        return err;
    }
    tmr_start(&ringTimer_,
              static_cast<uint64_t>(engine_.shared().options().noAnswerTimeout.count()) * 1000,
              ringTimeoutHandler, this);
    return 0;
}

void Call::alert() {
    if (state_ == State::Offered && !alerted_) {
        alerted_ = true;
        sipsess_progress(session_, 180, "Ringing", nullptr, nullptr);
    }
}

void Call::answer() {
    if (state_ != State::Offered) {
        return;
    }
    struct mbuf* sdp = sdpBody(remote_.has_value());
    int err = sipsess_answer(session_, 200, "OK", sdp, nullptr);
    mem_deref(sdp);
    if (err) {
        end(cause::kTemporaryFailure, 0, std::string("200 OK not sent: ") + errorText(err));
        return;
    }
    state_ = State::Accepted;
    startMedia();
}

void Call::reject(uint16_t status) {
    if (state_ != State::Offered) {
        hangUp();
        return;
    }
    if (status < 300 || status > 699) {
        status = 486;
    }
    std::string phrase = reasonPhrase(status);
    sipsess_reject(session_, status, phrase.empty() ? "Rejected" : phrase.c_str(), nullptr);
    end(causeForSipStatus(status), status, "refused here with " + std::to_string(status));
}

void Call::hangUp() {
    // Freeing the session sends what its state needs: CANCEL, BYE, or 486.
    const char* how = state_ == State::Calling   ? "cancelled here"
                      : state_ == State::Offered ? "refused here"
                                                 : "hung up here";
    end(cause::kNormalClearing, 0, how);
}

void Call::sendBlock(std::span<const uint8_t> bytes) {
    send_.push(bytes, AudioClock::now());
}

void Call::passOn(std::span<const uint8_t> bytes) {
    // Frames come at the other call's pace: a few waiting absorb its jitter,
    // more would be its clock running ahead of ours, and delay. They come a
    // frame at a time, not a block: a frame's time of room for a late one is
    // enough, and every millisecond of it is delay.
    constexpr size_t kMostPassedOn = 5 * kFrameSize;
    constexpr std::chrono::milliseconds kPassedOnPrime{20};
    send_.push(bytes, AudioClock::now(), kMostPassedOn, kPassedOnPrime);
}

void Call::emitBlocks() {
    for (auto& block : receive_.takeBlocks()) {
        if (engine_.shared().emit(AudioBlock{id_, block})) {
            engine_.bridge().indicated(id_, block);
        } else {
            ++blocksDropped_;
        }
    }
}

void Call::startMedia() {
    if (pace_) {
        return;
    }
    auto now = AudioClock::now();
    pace_.emplace(now);
    lastRtp_ = now;
    tmr_start(&tick_, 0, tickHandler, this);
}

void Call::tickHandler(void* arg) {
    auto* call = static_cast<Call*>(arg);
    auto now = AudioClock::now();
    call->sendFrames();
    call->receive_.poll(now);
    call->emitBlocks();
    auto timeout = call->engine_.account().rtpTimeout;
    if (call->remote_ && !call->remote_->peerSends()) {
        call->lastRtp_ = now;  // on hold: silence is expected
    }
    if (timeout.count() > 0 && now - call->lastRtp_ > timeout) {
        call->end(cause::kTemporaryFailure, 0,
                  "no RTP for " + std::to_string(timeout.count()) + " s");
        return;
    }
    tmr_start(&call->tick_,
              static_cast<uint64_t>(call->pace_->untilNext(AudioClock::now()).count()), tickHandler,
              call);
}

void Call::sendFrames() {
    auto now = AudioClock::now();
    auto due = pace_->due(now);
    sendTimestamp_ += static_cast<uint32_t>(due.skipped * kFrameSize);
    // Nothing before the call is established (a forged INVITE's SDP may name
    // anyone's address), nor on hold, when the peer takes nothing.
    bool heard = state_ == State::Established && remote_ && remote_->peerReceives();
    for (unsigned i = 0; i < due.frames; ++i) {
        auto frame = send_.nextFrame(now);
        if (!heard) {
            // On hold: the pace and the FIFO go on, nothing is sent.
            sendTimestamp_ += kFrameSize;
            continue;
        }
        if (remote_ && remote_->codec == AudioCodec::Pcmu) {
            for (auto& byte : frame) {
                byte = pcmaToPcmu(byte);
            }
        }
        struct mbuf* mb = mbuf_alloc(RTP_HEADER_SIZE + kFrameSize);
        if (!mb) {
            return;
        }
        mb->pos = RTP_HEADER_SIZE;
        mb->end = RTP_HEADER_SIZE;
        mbuf_write_mem(mb, frame.data(), frame.size());
        mb->pos = RTP_HEADER_SIZE;
        rtp_send(rtp_, &remoteAddress_, false, firstFrame_,
                 static_cast<uint8_t>(remote_ ? remote_->audioPayloadType : 8), sendTimestamp_, mb);
        mem_deref(mb);
        firstFrame_ = false;
        sendTimestamp_ += kFrameSize;
        ++framesSent_;
    }
}

bool Call::fromPeer(const struct sa& source, const struct rtp_header& header) {
    // Before the answer is acknowledged nobody may key or talk: a forged
    // INVITE never gets that far.
    if (state_ == State::Established &&
        mediaSource_.admit({numeric(source), sa_port(&source)}, header.ssrc)) {
        return true;
    }
    ++unadmittedPackets_;
    if (engine_.shared().options().verbose &&
        foreignMedia_.first(numeric(source) + ":" + std::to_string(sa_port(&source)) + "/" +
                            std::to_string(header.ssrc))) {
        engine_.trace("call " + std::to_string(id_) + ": RTP from " + numeric(source) + ":" +
                      std::to_string(sa_port(&source)) + " (SSRC " + std::to_string(header.ssrc) +
                      ") dropped: not the call's peer, or not connected yet");
    }
    return false;
}

void Call::rtpHandler(const struct sa* source, const struct rtp_header* hdr, struct mbuf* mb,
                      void* arg) {
    auto* call = static_cast<Call*>(arg);
    if (!call->fromPeer(*source, *hdr)) {
        return;
    }
    auto now = AudioClock::now();
    call->lastRtp_ = now;
    std::span<const uint8_t> payload(mbuf_buf(mb), mbuf_get_left(mb));
    int eventType = call->remote_ ? call->remote_->eventPayloadType : -1;
    if (hdr->pt == 8 || hdr->pt == 0) {
        std::vector<uint8_t> capi(payload.size());
        for (size_t i = 0; i < payload.size(); ++i) {
            capi[i] = hdr->pt == 8 ? pcmaToCapi(payload[i]) : pcmuToCapi(payload[i]);
        }
        if (call->inband_) {
            std::vector<int16_t> samples(payload.size());
            for (size_t i = 0; i < payload.size(); ++i) {
                samples[i] = hdr->pt == 8 ? alawToLinear(payload[i]) : ulawToLinear(payload[i]);
            }
            dtmf_dec_probe(call->inband_, samples.data(), samples.size());
        }
        call->receive_.accept(hdr->ssrc, hdr->seq, hdr->ts, capi, now);
        call->emitBlocks();
    } else if (hdr->pt == eventType || (eventType < 0 && hdr->pt == 101)) {
        // Events come with the negotiated type; 101, the usual one, also
        // from a peer that offered none.
        call->receive_.skip(hdr->ssrc, hdr->seq, now);
        if (auto key = call->telephoneEvents_.accept(hdr->ts, payload, now)) {
            call->key(*key, KeySource::Rfc4733);
        }
    }
}

void Call::inbandHandler(char digit, void* arg) {
    static_cast<Call*>(arg)->key(digit, KeySource::InBand);
}

void Call::key(char key, KeySource source) {
    if (keys_.accept(key, source, KeyClock::now())) {
        engine_.shared().emit(Dtmf{id_, key});
    }
}

int Call::offerHandler(struct mbuf** descp, const struct sip_msg* msg, void* arg) {
    // A re-INVITE (hold, new address): take its media and answer in kind.
    auto* call = static_cast<Call*>(arg);
    if (!call->takeRemoteMedia(msg, false)) {
        return EPROTO;
    }
    *descp = call->sdpBody(true);
    return *descp ? 0 : ENOMEM;
}

int Call::answerHandler(const struct sip_msg* msg, void* arg) {
    auto* call = static_cast<Call*>(arg);
    return call->takeRemoteMedia(msg, true) ? 0 : EPROTO;
}

void Call::progressHandler(const struct sip_msg* msg, void* arg) {
    auto* call = static_cast<Call*>(arg);
    if (msg->scode == 180 && !call->alerted_) {
        call->alerted_ = true;
        call->engine_.shared().emit(Alerting{call->id_});
    } else if (msg->scode == 183) {
        if (mbuf_get_left(msg->mb) > 0 && call->takeRemoteMedia(msg, true)) {
            call->lastRtp_ = AudioClock::now();
        }
        call->engine_.shared().emit(Progress{call->id_});
    }
}

void Call::establishedHandler(const struct sip_msg* msg, void* arg) {
    auto* call = static_cast<Call*>(arg);
    tmr_cancel(&call->ringTimer_);
    const auto longest = call->engine_.account().maxCallMinutes;
    if (!call->incoming_) {
        call->notePeer(msg);  // the answer: from the far end's proxy, naming its Contact
        if (longest.count() > 0) {
            tmr_start(&call->longestCall_,
                      static_cast<uint64_t>(std::chrono::milliseconds(longest).count()),
                      longestCallHandler, call);
        }
    }
    call->state_ = State::Established;
    call->connectedAt_ = std::chrono::steady_clock::now();
    call->startMedia();
    call->engine_.trace("call " + std::to_string(call->id_) + " connected");
    call->engine_.legsChanged("call " + std::to_string(call->id_) + " connected");
    call->engine_.shared().emit(Answered{call->id_});
}

void Call::infoHandler(struct sip* sip, const struct sip_msg* msg, void* arg) {
    auto* call = static_cast<Call*>(arg);
    std::string type = text(msg->ctyp.type) + "/" + text(msg->ctyp.subtype);
    auto key = keyOfInfo(type, body(msg));
    if (!key) {
        sip_reply(sip, msg, 415, "Unsupported Media Type");
        return;
    }
    sip_reply(sip, msg, 200, "OK");
    call->key(*key, KeySource::Info);
}

void Call::ringTimeoutHandler(void* arg) {
    auto* call = static_cast<Call*>(arg);
    if (call->state_ == State::Offered) {
        sipsess_reject(call->session_, 480, "Temporarily Unavailable", nullptr);
    }
    call->end(call->alerted_ ? cause::kNoAnswer : cause::kNoUserResponding, 0,
              "no answer within " +
                  std::to_string(call->engine_.shared().options().noAnswerTimeout.count()) + " s");
}

void Call::longestCallHandler(void* arg) {
    auto* call = static_cast<Call*>(arg);
    call->end(cause::kNormalClearing, 0,
              "the longest call of " +
                  std::to_string(call->engine_.account().maxCallMinutes.count()) +
                  " minutes (max_call_minutes) is over");
}

void Call::closeHandler(int err, const struct sip_msg* msg, void* arg) {
    auto* call = static_cast<Call*>(arg);
    if (msg && msg->scode >= 300) {
        std::string status = std::to_string(msg->scode) + " " + text(msg->reason);
        call->end(causeForSipResponse(msg->scode, headerList(msg, SIP_HDR_REASON)), msg->scode,
                  status);
    } else if (err == ECONNRESET) {
        bool offered = call->state_ == State::Offered;
        // An ISDN exchange clears an offered call the caller gave up with 16 too.
        call->end(cause::kNormalClearing, 0,
                  offered ? "the caller gave up (CANCEL)" : "the far end hung up (BYE)");
    } else if (err == ETIMEDOUT) {
        call->end(call->alerted_ ? cause::kNoAnswer : cause::kNoUserResponding, 0,
                  "no answer from the network");
    } else if (err && !call->keyingRefusal_.empty()) {
        call->end(causeForSipStatus(488), 0, call->keyingRefusal_);
    } else if (err) {
        call->end(cause::kTemporaryFailure, 0, std::string("failed: ") + errorText(err));
    } else {
        call->end(cause::kNormalClearing, 0, "ended");
    }
}

void Call::end(uint8_t q850, uint16_t sipStatus, const std::string& reason) {
    if (state_ == State::Ended) {
        return;
    }
    state_ = State::Ended;
    tmr_cancel(&tick_);
    tmr_cancel(&ringTimer_);
    tmr_cancel(&longestCall_);
    forgetAuthContext();
    // Freeing the session sends what its state needs (CANCEL, BYE, 486) unless it is over.
    session_ = static_cast<struct sipsess*>(mem_deref(session_));
    AudioCounters audio;
    audio.framesReceived = receive_.framesReceived();
    audio.framesSent = framesSent_;
    audio.underruns = send_.underruns();
    audio.bytesDropped = send_.bytesDropped();
    audio.timestampGaps = receive_.timestampGaps();
    audio.lostPackets = receive_.lostPackets();
    audio.latePackets = receive_.latePackets();
    audio.blocksDropped = blocksDropped_;
    audio.foreignPackets = unadmittedPackets_ + srtp_.refused();
    // The call's one status line.
    std::string connected = "not connected";
    if (connectedAt_) {
        auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
            std::chrono::steady_clock::now() - *connectedAt_);
        connected = "connected for " + std::to_string(seconds.count()) + " s";
    }
    std::string codec = !remote_ ? "" : remote_->codec == AudioCodec::Pcma ? " (PCMA" : " (PCMU";
    if (remote_) {
        codec += peerKey_ ? std::string(", SRTP ") + suiteName(peerKey_->suite) + ")" : ")";
    }
    engine_.log("call " + std::to_string(id_) + " " + description_ + codec + ": " + connected +
                "; ended: cause " + std::to_string(q850) + ", " + reason + "; audio " +
                std::to_string(audio.framesReceived) + " frames in, " +
                std::to_string(audio.framesSent) + " out, " + std::to_string(audio.lostPackets) +
                " lost, " + std::to_string(audio.latePackets) + " late, " +
                std::to_string(audio.timestampGaps) + " gaps, " + std::to_string(audio.underruns) +
                " underruns, " + std::to_string(audio.foreignPackets) + " from others");
    engine_.shared().emit(Ended{id_, q850, sipStatus, reason, audio});
    engine_.legsChanged("call " + std::to_string(id_) + " ended");
    engine_.retire(id_);
}

}  // namespace tellmaro::sip
