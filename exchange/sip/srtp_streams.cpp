#include "exchange/sip/srtp_streams.h"

#include <re.h>

namespace tellmaro::sip {

namespace {

// Above libre's own RTP handling, as baresip's SRTP does.
constexpr int kHelperLayer = 10;
constexpr size_t kRtpHeader = 12;

enum srtp_suite libreSuite(SrtpSuite suite) {
    return suite == SrtpSuite::AesCm128Sha1_32 ? SRTP_AES_CM_128_HMAC_SHA1_32
                                               : SRTP_AES_CM_128_HMAC_SHA1_80;
}

bool sameKey(const SdesKey& a, const SdesKey& b) {
    return a.suite == b.suite && a.key == b.key;
}

// (Re)makes `context` for `key` unless it already runs with it.
int rekey(struct srtp*& context, SdesKey& current, const SdesKey& key) {
    if (context && sameKey(current, key)) {
        return 0;
    }
    context = static_cast<struct srtp*>(mem_deref(context));
    current = key;
    return srtp_alloc(&context, libreSuite(key.suite), key.key.data(), key.key.size(), 0);
}

}  // namespace

SrtpStreams::~SrtpStreams() {
    detach();
    plain();
}

int SrtpStreams::attach(struct rtp_sock* rtp, Gate gate) {
    gate_ = std::move(gate);
    return udp_register_helper(&helper_, static_cast<struct udp_sock*>(rtp_sock(rtp)), kHelperLayer,
                               sendHandler, receiveHandler, this);
}

void SrtpStreams::detach() {
    helper_ = static_cast<struct udp_helper*>(mem_deref(helper_));
}

int SrtpStreams::key(const SdesKey& send, const SdesKey& receive) {
    int err = rekey(send_, sendKey_, send);
    if (!err && !(receive_ && sameKey(receiveKey_, receive))) {
        heardPeer_ = false;
        err = rekey(receive_, receiveKey_, receive);
    }
    // A context that could not be made leaves its direction shut, never plain.
    keyed_ = true;
    return err;
}

void SrtpStreams::plain() {
    keyed_ = false;
    send_ = static_cast<struct srtp*>(mem_deref(send_));
    receive_ = static_cast<struct srtp*>(mem_deref(receive_));
    sendKey_ = {};
    receiveKey_ = {};
}

bool SrtpStreams::sendHandler(int* err, struct sa*, struct mbuf* mb, void* arg) {
    auto* streams = static_cast<SrtpStreams*>(arg);
    if (streams->keyed_) {
        // An error keeps the packet from the socket.
        *err = streams->send_ ? srtp_encrypt(streams->send_, mb) : EPROTO;
    }
    return false;
}

bool SrtpStreams::receiveHandler(struct sa* src, struct mbuf* mb, void* arg) {
    auto* streams = static_cast<SrtpStreams*>(arg);
    if (!streams->keyed_) {
        return false;  // a plain call: libre's RTP reads it
    }
    const uint8_t* packet = mbuf_buf(mb);
    if (!streams->receive_ || mbuf_get_left(mb) < kRtpHeader || (packet[0] >> 6) != 2) {
        ++streams->refused_;
        return true;
    }
    const uint32_t ssrc = static_cast<uint32_t>(packet[8]) << 24 |
                          static_cast<uint32_t>(packet[9]) << 16 |
                          static_cast<uint32_t>(packet[10]) << 8 | packet[11];
    if (!streams->gate_(*src, ssrc)) {
        return false;  // the call drops and counts it, as a stranger's
    }
    if (srtp_decrypt(streams->receive_, mb) != 0) {
        ++streams->refused_;
        // libre keeps state for every SSRC it is shown, before checking (8 at
        // most): until the peer's first good packet fixes the one SSRC that
        // gets here, forged ones must not use up that room.
        if (!streams->heardPeer_) {
            streams->receive_ = static_cast<struct srtp*>(mem_deref(streams->receive_));
            const SdesKey key = streams->receiveKey_;
            rekey(streams->receive_, streams->receiveKey_, key);
        }
        return true;
    }
    streams->heardPeer_ = true;
    return false;
}

}  // namespace tellmaro::sip
