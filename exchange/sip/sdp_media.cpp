// chooseMedia (call_fields.h) on libre's SDP module: libre reads the body and
// matches the peer's formats against the three we take; what is chosen from
// them is decided here.

#include <re.h>

#include <charconv>
#include <cstring>
#include <memory>

#include "exchange/sip/call_fields.h"

namespace tellmaro::sip {

namespace {

constexpr uint32_t kRate = 8000;
constexpr int kLastPayloadType = 127;
constexpr size_t kMostCryptoAttributes = 16;  // more are not read

struct Deref {
    void operator()(void* object) const { mem_deref(object); }
};
template <typename T>
using Held = std::unique_ptr<T, Deref>;

// libre keeps a stream's direction as what the peer's attribute lets us do
// (its sendonly is our recvonly); MediaOffer keeps what the peer wrote.
MediaDirection asThePeerWroteIt(enum sdp_dir ours) {
    switch (ours) {
        case SDP_RECVONLY:
            return MediaDirection::SendOnly;
        case SDP_SENDONLY:
            return MediaDirection::RecvOnly;
        case SDP_INACTIVE:
            return MediaDirection::Inactive;
        case SDP_SENDRECV:
            break;
    }
    return MediaDirection::SendRecv;
}

// A session with the one audio stream we take: PCMA, PCMU and
// telephone-event at 8000 Hz, over RTP/AVP (or RTP/AVPF, its feedback
// profile), or their SRTP profiles RTP/SAVP and RTP/SAVPF.
Held<struct sdp_session> ourSession(struct sdp_media*& audio) {
    struct sa any;
    sa_init(&any, AF_INET);
    struct sdp_session* session = nullptr;
    if (sdp_session_alloc(&session, &any) != 0) {
        return nullptr;
    }
    Held<struct sdp_session> held(session);
    const char* formats[][2] = {{"8", "PCMA"}, {"0", "PCMU"}, {"101", "telephone-event"}};
    if (sdp_media_add(&audio, session, sdp_media_audio, 0, sdp_proto_rtpavp) != 0 ||
        sdp_media_set_alt_protos(audio, 4, sdp_proto_rtpavp, "RTP/AVPF", sdp_proto_rtpsavp,
                                 "RTP/SAVPF") != 0) {
        return nullptr;
    }
    for (const auto& [id, name] : formats) {
        if (sdp_format_add(nullptr, audio, false, id, name, kRate, 1, nullptr, nullptr, nullptr,
                           false, nullptr) != 0) {
            return nullptr;
        }
    }
    return held;
}

}  // namespace

std::optional<MediaOffer> chooseMedia(std::string_view sdp) {
    struct sdp_media* audio = nullptr;
    auto session = ourSession(audio);
    // SDP ends every line with CRLF; a body cut after its last line is read anyway.
    std::string text(sdp);
    if (!text.empty() && text.back() != '\n') {
        text += "\r\n";
    }
    Held<struct mbuf> body(mbuf_alloc(text.size() + 1));
    if (!session || !body ||
        mbuf_write_mem(body.get(), reinterpret_cast<const uint8_t*>(text.data()), text.size()) !=
            0) {
        return std::nullopt;
    }
    body->pos = 0;
    // Read as an offer: each m= line then finds the stream of ours it fits,
    // and the first audio one is ours.
    const struct sa* address = sdp_media_raddr(audio);
    if (sdp_decode(session.get(), body.get(), true) != 0 || sdp_media_rport(audio) == 0 ||
        !sa_isset(address, SA_ADDR)) {
        return std::nullopt;
    }
    MediaOffer offer;
    char host[64] = {};
    sa_ntop(address, host, sizeof host);
    offer.address = host;
    offer.port = sdp_media_rport(audio);
    offer.direction = asThePeerWroteIt(sdp_media_rdir(audio));
    offer.secureProfile = std::strncmp(sdp_media_proto(audio), "RTP/SAVP", 8) == 0;
    sdp_media_rattr_apply(
        audio, "crypto",
        [](const char*, const char* value, void* arg) {
            auto* crypto = static_cast<std::vector<std::string>*>(arg);
            if (value && crypto->size() < kMostCryptoAttributes) {
                crypto->emplace_back(value);
            }
            return false;
        },
        &offer.crypto);
    if (const char* ptime = sdp_media_rattr(audio, sdp_attr_ptime)) {
        unsigned value = 0;
        const char* end = ptime + std::strlen(ptime);
        if (std::from_chars(ptime, end, value).ptr == end && value >= 10 && value <= 200) {
            offer.packetTime = value;
        }
    }
    // The peer's order: its first PCMA, else its first PCMU, and its first
    // telephone-event. A static payload type needs no rtpmap.
    int pcma = -1;
    int pcmu = -1;
    for (struct le* le = sdp_media_format_lst(audio, false)->head; le; le = le->next) {
        const auto* format = static_cast<const struct sdp_format*>(le->data);
        if (!format->sup || format->pt < 0 || format->pt > kLastPayloadType) {
            continue;
        }
        const bool mapped = format->name != nullptr;
        const char* name = mapped ? format->name : format->pt == 8 ? "PCMA" : "PCMU";
        if (mapped && format->srate != kRate) {
            continue;
        }
        if (!str_casecmp(name, "PCMA") && pcma < 0) {
            pcma = format->pt;
        } else if (!str_casecmp(name, "PCMU") && pcmu < 0) {
            pcmu = format->pt;
        } else if (!str_casecmp(name, "telephone-event") && offer.eventPayloadType < 0) {
            offer.eventPayloadType = format->pt;
        }
    }
    if (pcma < 0 && pcmu < 0) {
        return std::nullopt;
    }
    offer.codec = pcma >= 0 ? AudioCodec::Pcma : AudioCodec::Pcmu;
    offer.audioPayloadType = pcma >= 0 ? pcma : pcmu;
    return offer;
}

}  // namespace tellmaro::sip
