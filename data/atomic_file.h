#pragma once
// Saving without ever leaving a half-written file behind.

#include <cstdint>
#include <filesystem>
#include <span>

#include "data/file_result.h"

namespace tellmaro::data {

// Writes the bytes to a temporary file in the target's directory, syncs it
// and renames it over the target, so that readers see either the old file or
// the complete new one, also after a crash or power loss. On failure the
// temporary file is removed and the target is left as it was. A new file is
// readable by the user alone (0600); a replaced one keeps its mode. A target
// that is a symbolic link stays one: the file it leads to is replaced.
FileResult replaceFileAtomically(const std::filesystem::path& target,
                                 std::span<const uint8_t> bytes);

}  // namespace tellmaro::data
