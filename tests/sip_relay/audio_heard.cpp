// audio_heard RECORDING.wav ITEM...: whether a phone's recording (baresip's
// sndfile module writes 16-bit WAV) holds the items in order, for
// scripts/demo-sip: "FILE.pdt:SECONDS", a voice prompt found sample for sample
// (the path from the prompt file to the phone is lossless G.711), or
// "HERTZ:SECONDS", a tone (Goertzel); each heard at least that long and first
// heard no earlier than the item before. Exit 0 if so.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numbers>
#include <optional>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

#include "exchange/sip/g711.h"

namespace tellmaro::test {
namespace {

constexpr size_t kFrame = 160;   // 20 ms at 8 kHz
constexpr size_t kKey = 8;       // samples that index a prompt position
constexpr double kLoud = 100.0;  // mean magnitude above which a frame is not silence

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

uint32_t le(const std::string& bytes, size_t at, size_t width) {
    uint32_t value = 0;
    for (size_t i = 0; i < width; ++i) {
        value |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + i])) << (8 * i);
    }
    return value;
}

uint64_t keyOf(const int16_t* samples) {
    uint64_t key = 1469598103934665603ULL;
    for (size_t i = 0; i < kKey; ++i) {
        key = (key ^ static_cast<uint16_t>(samples[i])) * 1099511628211ULL;
    }
    return key;
}

bool loud(const int16_t* samples) {
    double sum = 0;
    for (size_t i = 0; i < kFrame; ++i) {
        sum += std::abs(samples[i]);
    }
    return sum / kFrame > kLoud;
}

struct Heard {
    double seconds = 0;  // 20 ms frames heard
    double firstAt = 0;  // seconds into the recording
};

std::optional<std::vector<int16_t>> readWav(const std::string& path) {
    const std::string bytes = readAll(path);
    if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0) {
        return std::nullopt;
    }
    bool pcm16 = false;
    for (size_t at = 12; at + 8 <= bytes.size();) {
        const std::string id = bytes.substr(at, 4);
        const size_t size = le(bytes, at + 4, 4);
        const size_t body = at + 8;
        if (id == "fmt " && body + 16 <= bytes.size()) {
            pcm16 = le(bytes, body, 2) == 1 && le(bytes, body + 2, 2) == 1 &&
                    le(bytes, body + 14, 2) == 16;
        } else if (id == "data" && pcm16) {
            // A recording still being written may claim less than it holds.
            const size_t count = (bytes.size() - body) / 2;
            std::vector<int16_t> samples(count);
            std::memcpy(samples.data(), bytes.data() + body, count * 2);
            return samples;
        }
        at = body + size + (size & 1);
    }
    return std::nullopt;
}

std::vector<int16_t> promptSamples(const std::string& pdtPath) {
    const std::string bytes = readAll(pdtPath);
    std::vector<int16_t> samples;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i % 2049 != 2048) {
            samples.push_back(sip::alawToLinear(sip::capiToPcma(static_cast<uint8_t>(bytes[i]))));
        }
    }
    return samples;
}

Heard heardPrompt(const std::vector<int16_t>& recording, const std::vector<int16_t>& prompt) {
    std::unordered_multimap<uint64_t, size_t> positions;
    for (size_t at = 0; at + kFrame <= prompt.size(); ++at) {
        positions.emplace(keyOf(&prompt[at]), at);
    }
    Heard heard;
    size_t frames = 0;
    for (size_t at = 0; at + kFrame <= recording.size(); at += kFrame) {
        auto [first, last] = positions.equal_range(keyOf(&recording[at]));
        for (auto it = first; it != last; ++it) {
            const int16_t* candidate = &prompt[it->second];
            if (loud(candidate) &&
                std::equal(candidate, candidate + kFrame, recording.begin() + at)) {
                heard.firstAt = frames++ == 0 ? at / 8000.0 : heard.firstAt;
                break;
            }
        }
    }
    heard.seconds = frames * 0.02;
    return heard;
}

Heard heardTone(const std::vector<int16_t>& recording, double hertz) {
    const double coefficient = 2 * std::cos(2 * std::numbers::pi * hertz / 8000);
    Heard heard;
    size_t frames = 0;
    for (size_t at = 0; at + kFrame <= recording.size(); at += kFrame) {
        double s1 = 0, s2 = 0, energy = 0;
        for (size_t i = 0; i < kFrame; ++i) {
            const double x = recording[at + i];
            const double s0 = x + coefficient * s1 - s2;
            s2 = s1;
            s1 = s0;
            energy += x * x;
        }
        const double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
        // A pure tone puts all its energy in its bin: power = N/2 * energy.
        if (loud(&recording[at]) && power > 0.5 * (kFrame / 2.0) * energy) {
            heard.firstAt = frames++ == 0 ? at / 8000.0 : heard.firstAt;
        }
    }
    heard.seconds = frames * 0.02;
    return heard;
}

bool heardInOrder(const std::vector<int16_t>& recording, const std::vector<std::string>& items,
                  std::string& report) {
    bool ok = true;
    double after = 0;
    std::ostringstream out;
    out.precision(2);
    out << std::fixed;
    for (const auto& item : items) {
        const auto colon = item.rfind(':');
        const std::string what = item.substr(0, colon);
        const double wanted =
            colon == std::string::npos ? 1.0 : std::atof(item.c_str() + colon + 1);
        const bool prompt = what.ends_with(".pdt");
        const Heard heard = prompt ? heardPrompt(recording, promptSamples(what))
                                   : heardTone(recording, std::atof(what.c_str()));
        const bool held = heard.seconds >= wanted && heard.firstAt >= after;
        ok = ok && held;
        after = heard.seconds > 0 ? heard.firstAt : after;
        out << (held ? "heard " : "NOT heard ")
            << (prompt ? std::filesystem::path(what).filename().string() : what + " Hz") << ": "
            << heard.seconds << " s from " << heard.firstAt << " s (wanted " << wanted << " s)\n";
    }
    report = out.str();
    return ok;
}

}  // namespace
}  // namespace tellmaro::test

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr,
                     "usage: audio_heard RECORDING.wav FILE.pdt:SECONDS|HERTZ:SECONDS...\n");
        return 2;
    }
    auto recording = tellmaro::test::readWav(argv[1]);
    if (!recording) {
        std::fprintf(stderr, "audio_heard: %s is not a 16-bit mono WAV file\n", argv[1]);
        return 2;
    }
    std::string report;
    bool ok = tellmaro::test::heardInOrder(*recording, {argv + 2, argv + argc}, report);
    std::fputs(report.c_str(), stdout);
    return ok ? 0 : 1;
}
