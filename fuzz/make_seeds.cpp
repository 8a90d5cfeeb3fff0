// Writes the seeds of the dispatcher and rcapi_frames targets from real
// calls on the simulator: for each scripted phase, the messages the line
// delivered right after it, and the engine's puts as a client's frames.
//   fuzz_make_seeds fuzz/corpus
#include <fstream>
#include <string>

#include "engine_rig.h"
#include "exchange/rcapi/rcapi_frame.h"

using namespace tellmaro;
using namespace tellmaro::fuzz;

namespace {

using Bytes = std::vector<uint8_t>;

void writeFile(const std::filesystem::path& file, const Bytes& bytes) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// The rcapi_frames input format: a size byte (1 to 64) before each piece.
Bytes inPieces(const Bytes& stream) {
    Bytes out;
    size_t at = 0;
    size_t step = 0;
    const size_t sizes[] = {64, 7, 1, 33, 2, 64, 13};
    while (at < stream.size()) {
        const size_t piece = std::min(stream.size() - at, sizes[step++ % std::size(sizes)]);
        out.push_back(static_cast<uint8_t>(piece - 1));
        out.insert(out.end(), stream.begin() + static_cast<long>(at),
                   stream.begin() + static_cast<long>(at + piece));
        at += piece;
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
        return 2;
    }
    const std::filesystem::path corpus = argv[1];
    ProgramFolder folder;
    Bytes frames = {0x00, 0x17, 0x00, 0x00, 0x00, 0x00, 0xF2, 0xFF, 0x00, 0x00, 0x00, 0x00,
                    0x00, 0x00, 0x00, 0x08, 0x02, 0x00, 0x07, 0x00, 0x00, 0x08, 0x02};
    for (uint8_t s = 0; s < scripts().size(); ++s) {
        Rig rig(folder.path, s);
        rig.run.play(false);
        std::printf("%s: %s\n", scripts()[s].name.c_str(),
                    std::string(relay::callPhaseName(rig.h.phase())).c_str());
        Bytes seed = {s};
        size_t messages = 0;
        rig.driver.onReceived = [&](std::span<const uint8_t> message) {
            if (messages++ < 40 && message.size() < 0xFF) {
                seed.push_back(static_cast<uint8_t>(message.size()));
                seed.insert(seed.end(), message.begin(), message.end());
            }
        };
        rig.driver.onPut = [&](std::span<const uint8_t> message) {
            if (frames.size() < 3000) {
                const Bytes block(message.size() >= kLayout64 ? 16 : 0, 0xD5);
                const Bytes frame = exchange::rcapi::messageFrame(message, block);
                frames.insert(frames.end(), frame.begin(), frame.end());
            }
        };
        rig.h.runFor(3s);
        writeFile(corpus / "dispatcher" / scripts()[s].name, seed);
    }
    writeFile(corpus / "rcapi_frames" / "call", inPieces(frames));
    writeFile(corpus / "rcapi_frames" / "register",
              inPieces(Bytes(frames.begin(), frames.begin() + 23)));
    return 0;
}
