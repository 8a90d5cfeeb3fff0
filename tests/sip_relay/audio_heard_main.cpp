// audio_heard RECORDING.wav ITEM...: whether a phone's recording holds the
// items in order (see heardInOrder); for scripts/demo-sip. Exit 0 if so.
#include <cstdio>

#include "sip_relay/audio_heard.h"

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
