#pragma once
// "tellmaro.ini": the settings record as one packed binary record.

#include <filesystem>
#include <optional>
#include <span>
#include <string>

#include "data/byte_buffer.h"
#include "data/file_access.h"
#include "data/file_result.h"
#include "data/settings_record.h"

namespace tellmaro::data {

inline constexpr const char* kSettingsFileName = "tellmaro.ini";

struct EncodeSettingsResult {
    bool ok = false;
    Bytes bytes;        // exactly the record, 38 bytes plus the three texts
    std::string error;  // names the field that cannot be stored
};

// Refuses texts longer than 65535 bytes and an ownNumber that is not exactly
// 20 characters.
EncodeSettingsResult encodeSettings(const SettingsRecord& settings);

struct DecodeSettingsResult {
    std::optional<SettingsRecord> settings;
    std::string error;  // where the bytes stop making a record; empty when decoded
};

// Accepts exactly one complete record: a buffer that ends inside it, or has
// bytes left over after it, is refused.
DecodeSettingsResult decodeSettings(std::span<const uint8_t> bytes);

struct LoadSettingsResult {
    std::optional<SettingsRecord> settings;  // empty: not configured, keep the current record
    std::string error;                       // set when the file could not be read or created
    std::optional<SetAsideFile> setAside;    // set when a damaged file was set aside

    bool configured() const { return settings.has_value(); }
};

// A missing file is created empty; an empty file means not configured. A
// file that is not exactly one record is set aside (setAsideCorruptFile),
// which leaves the program not configured.
LoadSettingsResult LoadSettings(const std::filesystem::path& dataDir, LocalTime now = localNow());

// Replaces the file atomically with exactly the record; a record that cannot
// be stored leaves the file untouched.
FileResult SaveSettings(const std::filesystem::path& dataDir, const SettingsRecord& settings);

}  // namespace tellmaro::data
