#pragma once
// What a call's SIP headers and SDP say, read outside the SIP thread so the
// mapping can be tested with tables and fuzzed: the calling party from
// P-Asserted-Identity, From and Privacy; the codec, event payload type and
// media address from an SDP body; and the SDP this side sends.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "exchange/sip/phone_numbers.h"
#include "exchange/sip/sip_events.h"

namespace tellmaro::sip {

struct AddressParts {
    std::string display;
    std::string scheme;  // "sip", "sips", "tel"
    std::string user;    // percent-decoded, without parameters or password
    std::string host;
};

// A name-addr or addr-spec header value: "\"Bob\" <sip:+49170@h;user=phone>;tag=1".
std::optional<AddressParts> parseAddress(std::string_view value);

struct CallerHeaders {
    std::string_view from;
    std::string_view assertedIdentity;  // P-Asserted-Identity, may list several
    std::string_view privacy;
};

// The calling party an exchange would present. With P-Asserted-Identity
// present, only it counts: its first entry that holds a number, network
// provided; without such an entry the call is withheld, never taken from
// From. Without it, From's number, user provided. Withheld for Privacy
// id/header/user, "anonymous", or no number at all.
CallingParty callingPartyOf(const CallerHeaders& headers, const NumberPlan& plan);

enum class AudioCodec { Pcma, Pcmu };

// The direction a side writes for itself (a=sendrecv, a=sendonly, ...).
enum class MediaDirection { SendRecv, SendOnly, RecvOnly, Inactive };

struct MediaOffer {
    std::string address;  // c= of the audio stream
    uint16_t port = 0;
    AudioCodec codec = AudioCodec::Pcma;
    int audioPayloadType = 8;
    int eventPayloadType = -1;                            // telephone-event, -1 when not offered
    unsigned packetTime = 20;                             // a=ptime, ms
    MediaDirection direction = MediaDirection::SendRecv;  // as the peer wrote it
    bool secureProfile = false;       // RTP/SAVP or RTP/SAVPF: only SRTP will do
    std::vector<std::string> crypto;  // the stream's a=crypto values, in the peer's order

    // A peer that puts us on hold sends nothing or takes nothing.
    bool peerSends() const {
        return direction == MediaDirection::SendRecv || direction == MediaDirection::SendOnly;
    }
    bool peerReceives() const {
        return direction == MediaDirection::SendRecv || direction == MediaDirection::RecvOnly;
    }
};

// The usable audio stream of an SDP body, read by libre (sdp_media.cpp): the
// first audio m= line over RTP/AVP (or RTP/SAVP, with its crypto attributes), with its port and the
// address of its c= or the session's; PCMA preferred over PCMU (8000 Hz only), the first
// telephone-event, a=ptime, the direction of the stream or else the session.
// Nothing when the body is no SDP, or offers neither codec.
std::optional<MediaOffer> chooseMedia(std::string_view sdp);

// Our SDP: an offer lists PCMA, PCMU and telephone-event 101; an answer the
// chosen codec, the peer's event payload type and the mirror of its direction.
// `crypto`: our a=crypto values; `secureProfile` writes RTP/SAVP for RTP/AVP.
struct SdpCrypto {
    bool secureProfile = false;
    std::vector<std::string> attributes;
};
std::string buildSdp(std::string_view address, uint16_t port, uint64_t sessionId,
                     const MediaOffer* answerTo, const SdpCrypto& crypto = {});

}  // namespace tellmaro::sip
