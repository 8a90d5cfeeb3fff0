#pragma once
// A call's SRTP on its RTP socket: libre's contexts, one per direction,
// hooked in as a UDP helper below libre's RTP decoding. Sent packets are
// encrypted on their way out; received ones are checked and decrypted
// before libre reads their header, and one that fails is dropped there.
// Without keys (a plain call) packets pass unchanged. SIP thread only.

#include <cstdint>
#include <functional>

#include "exchange/sip/sdes_keys.h"

struct rtp_sock;
struct srtp;
struct udp_helper;
struct sa;
struct mbuf;

namespace tellmaro::sip {

class SrtpStreams {
  public:
    // Whether a packet from `source` with `ssrc` may be decrypted at all: a
    // stranger's packets never touch the contexts.
    using Gate = std::function<bool(const struct sa& source, uint32_t ssrc)>;

    SrtpStreams() = default;
    ~SrtpStreams();
    SrtpStreams(const SrtpStreams&) = delete;
    SrtpStreams& operator=(const SrtpStreams&) = delete;

    int attach(struct rtp_sock* rtp, Gate gate);
    // Before the socket goes: libre frees a socket's helpers with it.
    void detach();
    // Keys both directions; a direction whose key is unchanged keeps its
    // context (and so its packet counters). After a failure nothing is sent
    // or taken until the next key() or plain().
    int key(const SdesKey& send, const SdesKey& receive);
    void plain();
    // Packets dropped for failing authentication.
    uint64_t refused() const { return refused_; }

  private:
    static bool sendHandler(int* err, struct sa* dst, struct mbuf* mb, void* arg);
    static bool receiveHandler(struct sa* src, struct mbuf* mb, void* arg);

    Gate gate_;
    struct udp_helper* helper_ = nullptr;
    struct srtp* send_ = nullptr;
    struct srtp* receive_ = nullptr;
    SdesKey sendKey_;
    SdesKey receiveKey_;
    uint64_t refused_ = 0;
    bool keyed_ = false;      // from key() to plain(): nothing passes unchecked
    bool heardPeer_ = false;  // a packet passed the receive context's check
};

}  // namespace tellmaro::sip
