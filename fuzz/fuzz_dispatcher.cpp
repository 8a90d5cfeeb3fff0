// The engine's dispatcher fed arbitrary received messages. The first input
// byte picks the phase a short scripted call on the in-process simulator
// leaves the engine in; the rest is a sequence of messages handed out by
// getMessage one per Timer1 tick (see replayDispatcherInput). From then on
// puts are accepted and checked against what libcapi20 tolerates, but reach
// no line.
#include <cstdint>
#include <span>

#include "engine_rig.h"

using namespace tellmaro::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static ProgramFolder folder;
    replayDispatcherInput(folder.path, std::span(data, size));
    return 0;
}
