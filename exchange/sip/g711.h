#pragma once
// G.711 between RTP and the CAPI side. PCMA on RTP is plain A-law; the CAPI
// B channel carries A-law with each byte bit-reversed. PCMU is converted
// through linear samples.

#include <cstdint>

namespace tellmaro::sip {

inline constexpr uint8_t kRtpAlawSilence = 0xD5;
inline constexpr uint8_t kCapiAlawSilence = 0xAB;  // 0xD5 bit-reversed

uint8_t bitReversed(uint8_t byte);
int16_t alawToLinear(uint8_t alaw);
int16_t ulawToLinear(uint8_t ulaw);
uint8_t linearToAlaw(int16_t sample);

// One RTP byte of the negotiated codec as a CAPI byte.
inline uint8_t pcmaToCapi(uint8_t alaw) {
    return bitReversed(alaw);
}
uint8_t pcmuToCapi(uint8_t ulaw);
inline uint8_t capiToPcma(uint8_t capi) {
    return bitReversed(capi);
}
// A PCMA byte for a peer that took PCMU.
uint8_t pcmaToPcmu(uint8_t alaw);

}  // namespace tellmaro::sip
