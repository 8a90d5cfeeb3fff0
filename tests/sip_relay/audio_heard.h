#pragma once
// What a phone heard, from its recording (baresip's sndfile module writes
// 16-bit WAV): how much of a voice prompt, found sample for sample (the path
// from the prompt file to the phone is lossless G.711), and how much of a
// tone (Goertzel), each with when it was first heard.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tellmaro::test {

struct Heard {
    double seconds = 0;  // 20 ms frames heard
    double firstAt = 0;  // seconds into the recording
};

// The samples of a 16-bit mono WAV file; nothing when it is not one.
std::optional<std::vector<int16_t>> readWav(const std::string& path);

// The samples a prompt file (A-law in CAPI bit order, 2049-byte records)
// sounds as.
std::vector<int16_t> promptSamples(const std::string& pdtPath);

Heard heardPrompt(const std::vector<int16_t>& recording, const std::vector<int16_t>& prompt);
Heard heardTone(const std::vector<int16_t>& recording, double hertz);

// Checks `items` against a recording, in order: "FILE.pdt:SECONDS" or
// "HERTZ:SECONDS", each heard at least that long, and first heard no earlier
// than the item before. One line per item in `report`.
bool heardInOrder(const std::vector<int16_t>& recording, const std::vector<std::string>& items,
                  std::string& report);

}  // namespace tellmaro::test
