#include "data/call_dir_file.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "data/atomic_file.h"
#include "data/file_access.h"

namespace tellmaro::data {

namespace {

// Record 1 holds the entry count N (16-bit signed, little-endian) and
// filler; record k + 2 holds entry k, for k = 0..N.
constexpr size_t kCountRecords = 1;
constexpr size_t kCountBytes = 2;

struct EntryField {
    std::string_view name;  // the phone book window's column, for the error texts
    std::string CallDirEntry::*member;
};

// An entry inside its record: each field as a 16-bit length and its bytes,
// packed from offset 0; the rest of the record is filler, written as zeros.
constexpr std::array<EntryField, 3> kEntryLayout{{
    {"Kurzwahl", &CallDirEntry::shortdial},
    {"Nummer", &CallDirEntry::number},
    {"Bemerkung", &CallDirEntry::comment},
}};

constexpr size_t kLengthBytes = 2;

size_t recordOffset(size_t entryIndex) {
    return (kCountRecords + entryIndex) * kCallDirRecordSize;
}

std::string entryName(size_t index) {
    return "Eintrag " + std::to_string(index);
}

std::string encodeEntry(size_t index, const CallDirEntry& entry, uint8_t* record) {
    size_t needed = 0;
    std::string sum = std::to_string(kEntryLayout.size() * kLengthBytes);
    for (const EntryField& field : kEntryLayout) {
        needed += kLengthBytes + (entry.*field.member).size();
        sum += " + " + std::to_string((entry.*field.member).size());
    }
    if (needed > kCallDirRecordSize) {
        return entryName(index) + " passt nicht in seinen 128-Byte-Datensatz: " + sum + " = " +
               std::to_string(needed) + " Bytes";
    }
    Bytes data;
    for (const EntryField& field : kEntryLayout) {
        const std::string& text = entry.*field.member;
        appendU16(data, static_cast<uint16_t>(text.size()));
        appendText(data, text);
    }
    std::copy(data.begin(), data.end(), record);
    return {};
}

std::string decodeEntry(size_t index, std::span<const uint8_t> record, CallDirEntry& entry) {
    const char* limit = record.size() == kCallDirRecordSize ? "das Ende seines 128-Byte-Datensatzes"
                                                            : "das Dateiende";
    ByteReader in(record);
    for (const EntryField& field : kEntryLayout) {
        const size_t start = in.offset();
        const auto length = in.u16();
        auto text = length ? in.text(*length) : std::nullopt;
        if (!text) {
            return entryName(index) + " (Datensatz " + std::to_string(index + kCountRecords + 1) +
                   "): das Feld " + std::string(field.name) + " an Byte " + std::to_string(start) +
                   " reicht über " + limit + " hinaus";
        }
        entry.*field.member = std::move(*text);
    }
    return {};
}

}  // namespace

EncodeCallDirResult encodeCallDir(const PhoneBook& phoneBook) {
    const auto& entries = phoneBook.callDir();
    Bytes bytes(recordOffset(entries.size()), 0);
    const auto count = static_cast<uint16_t>(phoneBook.callDirCount());
    bytes[0] = static_cast<uint8_t>(count & 0xFF);
    bytes[1] = static_cast<uint8_t>(count >> 8);
    for (size_t k = 0; k < entries.size(); ++k) {
        std::string problem = encodeEntry(k, entries[k], bytes.data() + recordOffset(k));
        if (!problem.empty()) {
            return {false, {}, std::move(problem)};
        }
    }
    return {true, std::move(bytes), {}};
}

DecodeCallDirResult decodeCallDir(std::span<const uint8_t> bytes) {
    if (bytes.size() < kCountBytes) {
        return {std::nullopt, "die Datei ist zu kurz für die Zahl der Einträge"};
    }
    const auto count = static_cast<int16_t>(bytes[0] | bytes[1] << 8);
    if (count < 0) {
        return {std::nullopt, "die Zahl der Einträge " + std::to_string(count) + " ist negativ"};
    }
    const size_t recordsPresent = (bytes.size() + kCallDirRecordSize - 1) / kCallDirRecordSize;
    const size_t recordsNeeded = kCountRecords + 1 + static_cast<size_t>(count);
    if (recordsPresent != recordsNeeded) {
        // More records than announced would be dropped by the next save.
        return {std::nullopt, "die Zahl der Einträge " + std::to_string(count) + " braucht " +
                                  std::to_string(recordsNeeded) + " Datensätze, die Datei hat " +
                                  std::to_string(recordsPresent)};
    }
    std::optional<PhoneBook> phoneBook;
    for (size_t k = 0; k <= static_cast<size_t>(count); ++k) {
        const size_t offset = recordOffset(k);
        const auto record =
            bytes.subspan(offset, std::min(kCallDirRecordSize, bytes.size() - offset));
        CallDirEntry entry;
        std::string problem = decodeEntry(k, record, entry);
        if (!problem.empty()) {
            return {std::nullopt, std::move(problem)};
        }
        if (!phoneBook) {
            phoneBook.emplace(std::move(entry));
        } else if (!phoneBook->append(std::move(entry))) {
            return {std::nullopt, "zu viele Einträge"};  // unreachable: count is at most 32767
        }
    }
    return {std::move(phoneBook), {}};
}

LoadCallDirResult LoadCallDir(const std::filesystem::path& dataDir, LocalTime now) {
    const std::filesystem::path file = dataDir / kCallDirFileName;
    ReadFileResult read = readWholeFile(file);
    if (read.status == ReadStatus::missing) {
        return {PhoneBook{}, createFileIfMissing(file).error, std::nullopt};
    }
    if (read.status == ReadStatus::failed) {
        return {PhoneBook{}, std::move(read.error), std::nullopt};
    }
    if (read.bytes.empty()) {
        return {};
    }
    DecodeCallDirResult decoded = decodeCallDir(read.bytes);
    if (decoded.phoneBook) {
        return {std::move(*decoded.phoneBook), {}, std::nullopt};
    }
    return {PhoneBook{}, {}, setAsideCorruptFile(file, "kein Telefonbuch: " + decoded.error, now)};
}

ReadCallDirResult readCallDir(const std::filesystem::path& dataDir) {
    const std::filesystem::path file = dataDir / kCallDirFileName;
    ReadFileResult read = readWholeFile(file);
    if (read.status == ReadStatus::failed) {
        return {PhoneBook{}, std::move(read.error)};
    }
    if (read.status == ReadStatus::missing || read.bytes.empty()) {
        return {};
    }
    DecodeCallDirResult decoded = decodeCallDir(read.bytes);
    if (!decoded.phoneBook) {
        return {PhoneBook{}, file.string() + " is not a phone book: " + decoded.error};
    }
    return {std::move(*decoded.phoneBook), {}};
}

FileResult SaveCallDir(const std::filesystem::path& dataDir, const PhoneBook& phoneBook) {
    const EncodeCallDirResult encoded = encodeCallDir(phoneBook);
    if (!encoded.ok) {
        return FileResult::failure(encoded.error);
    }
    return replaceFileAtomically(dataDir / kCallDirFileName, encoded.bytes);
}

}  // namespace tellmaro::data
