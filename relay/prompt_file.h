#pragma once
// A voice prompt file read record by record: 2049-byte records of which the
// first 2048 bytes are heard.

#include <array>
#include <cstdio>
#include <filesystem>

#include "relay/relay_state.h"

namespace tellmaro::relay {

// A-law silence in the bit order of the CAPI interface.
inline constexpr uint8_t kLineSilence = 0xAB;

using PromptRecord = std::array<uint8_t, kPromptRecordLength>;

class PromptFile {
  public:
    PromptFile() = default;
    ~PromptFile() { close(); }
    PromptFile(const PromptFile&) = delete;
    PromptFile& operator=(const PromptFile&) = delete;

    // False when the file cannot be opened; the prompt then counts as ended.
    bool open(const std::filesystem::path& file);
    void close();
    bool isOpen() const { return file_ != nullptr; }

    // The end is reached only once a read has failed to fill a whole record:
    // after the last whole record of a file it is not yet seen.
    bool atEnd() const { return atEnd_; }

    // Reads the next record into `record`; what the read cannot fill becomes
    // silence, never the audio of an earlier record.
    void readRecord(PromptRecord& record);

  private:
    std::FILE* file_ = nullptr;
    bool atEnd_ = false;
};

}  // namespace tellmaro::relay
