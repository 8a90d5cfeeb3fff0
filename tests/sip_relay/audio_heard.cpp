// audio_heard RECORDING.wav ITEM...: whether a phone's recording (16-bit WAV
// from baresip's sndfile) holds the items in order, for scripts/demo-sip:
// "FILE.pdt:SECONDS", a voice prompt found sample for sample (the path from
// the prompt file to the phone is lossless G.711), or "HERTZ:SECONDS", a tone
// (Goertzel); each heard at least that long and first heard no earlier than
// the item before. Exit 0 if so.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <numbers>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "exchange/sip/g711.h"
#include "support/child_process.h"

namespace {

constexpr size_t kFrame = 160;  // 20 ms at 8 kHz
constexpr size_t kKey = 8;      // samples that index a prompt position
using Samples = std::vector<int16_t>;

// The samples of a 16-bit mono PCM WAV file; none if it is not one. A
// recording still being written may claim less than it holds.
Samples readWav(const std::string& path) {
    const std::string bytes = tellmaro::test::readFile(path);
    const auto fmt = bytes.find("fmt "), data = bytes.find("data");
    const char pcm16Mono[] = {1, 0, 1, 0};
    if (bytes.compare(0, 4, "RIFF") != 0 || fmt == std::string::npos || data == std::string::npos ||
        data < fmt + 24 || data + 8 > bytes.size() ||
        bytes.compare(fmt + 8, 4, pcm16Mono, 4) != 0 || bytes[fmt + 22] != 16) {
        return {};
    }
    Samples samples((bytes.size() - data - 8) / 2);
    std::memcpy(samples.data(), bytes.data() + data + 8, samples.size() * 2);
    return samples;
}

size_t keyOf(const int16_t* samples) {
    return std::hash<std::string_view>{}({reinterpret_cast<const char*>(samples), kKey * 2});
}

// How long (s) and from when (s into the recording) `frameHolds` held for
// frames that are not silence.
std::pair<double, double> heard(const Samples& recording,
                                const std::function<bool(const int16_t*)>& frameHolds) {
    size_t frames = 0;
    double firstAt = 0;
    for (size_t at = 0; at + kFrame <= recording.size(); at += kFrame) {
        double magnitude = 0;
        for (size_t i = 0; i < kFrame; ++i) {
            magnitude += std::abs(recording[at + i]);
        }
        if (magnitude / kFrame > 100.0 && frameHolds(&recording[at])) {
            firstAt = frames++ == 0 ? at / 8000.0 : firstAt;
        }
    }
    return {frames * 0.02, firstAt};
}

std::pair<double, double> heardPrompt(const Samples& recording, const std::string& pdtPath) {
    const std::string bytes = tellmaro::test::readFile(pdtPath);
    Samples prompt;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i % 2049 != 2048) {  // each block's trailing byte is not audio
            prompt.push_back(tellmaro::sip::alawToLinear(
                tellmaro::sip::capiToPcma(static_cast<uint8_t>(bytes[i]))));
        }
    }
    std::unordered_multimap<size_t, size_t> positions;
    for (size_t at = 0; at + kFrame <= prompt.size(); ++at) {
        positions.emplace(keyOf(&prompt[at]), at);
    }
    return heard(recording, [&](const int16_t* frame) {
        auto [first, last] = positions.equal_range(keyOf(frame));
        return std::any_of(first, last, [&](const auto& position) {
            return std::equal(frame, frame + kFrame, &prompt[position.second]);
        });
    });
}

std::pair<double, double> heardTone(const Samples& recording, double hertz) {
    const double coefficient = 2 * std::cos(2 * std::numbers::pi * hertz / 8000);
    return heard(recording, [&](const int16_t* frame) {
        double s1 = 0, s2 = 0, energy = 0;
        for (size_t i = 0; i < kFrame; ++i) {
            const double s0 = frame[i] + coefficient * s1 - s2;
            s2 = s1;
            s1 = s0;
            energy += double(frame[i]) * frame[i];
        }
        // A pure tone puts all its energy in its bin: power = N/2 * energy.
        return s1 * s1 + s2 * s2 - coefficient * s1 * s2 > 0.5 * (kFrame / 2.0) * energy;
    });
}

}  // namespace

int main(int argc, char** argv) {
    const Samples recording = argc < 3 ? Samples{} : readWav(argv[1]);
    if (recording.empty()) {
        std::fprintf(stderr,
                     "usage: audio_heard RECORDING.wav FILE.pdt:SECONDS|HERTZ:SECONDS...\n"
                     "(the recording a 16-bit mono WAV file)\n");
        return 2;
    }
    bool ok = true;
    double after = 0;
    for (int i = 2; i < argc; ++i) {
        const std::string item = argv[i], what = item.substr(0, item.rfind(':'));
        const double wanted = what == item ? 1.0 : std::atof(item.c_str() + what.size() + 1);
        const bool prompt = what.ends_with(".pdt");
        const auto [seconds, firstAt] =
            prompt ? heardPrompt(recording, what) : heardTone(recording, std::atof(what.c_str()));
        const bool held = seconds >= wanted && firstAt >= after;
        ok = ok && held;
        after = seconds > 0 ? firstAt : after;
        std::printf(
            "%s%s: %.2f s from %.2f s (wanted %.2f s)\n", held ? "heard " : "NOT heard ",
            prompt ? std::filesystem::path(what).filename().c_str() : (what + " Hz").c_str(),
            seconds, firstAt, wanted);
    }
    return ok ? 0 : 1;
}
