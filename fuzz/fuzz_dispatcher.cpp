// The engine's dispatcher fed arbitrary received messages in a phase (see replayDispatcherInput).
#include <cstdint>
#include <span>

#include "engine_rig.h"

using namespace tellmaro::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static ProgramFolder folder;
    replayDispatcherInput(folder.path, std::span(data, size));
    return 0;
}
