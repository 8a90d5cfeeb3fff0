#include "data/settings_file.h"

#include <array>
#include <string_view>
#include <variant>

#include "data/atomic_file.h"
#include "data/file_access.h"

namespace tellmaro::data {

namespace {

// Field kinds as stored; each names the member it holds.
struct Flag16 {  // -1 true, 0 false; any non-zero value reads as true
    bool SettingsRecord::*member;
};
struct Byte {
    uint8_t SettingsRecord::*member;
};
struct CountedText {  // 16-bit length, then the bytes
    std::string SettingsRecord::*member;
};
struct FixedText {  // exactly `length` bytes, no length stored
    std::string SettingsRecord::*member;
    size_t length;
};

struct Field {
    std::string_view name;  // as the settings dialog calls it, for the error texts
    std::variant<Flag16, Byte, CountedText, FixedText> kind;
};

// The record on disk: fields in this order, packed, little-endian. Both the
// encoder and the decoder walk this table.
constexpr std::array<Field, 11> kRecordLayout{{
    {"Sterntaste bestätigt", Flag16{&SettingsRecord::starConfirms}},
    {"Log Datei an", Flag16{&SettingsRecord::logEnabled}},
    {"Pfad der Log Datei", CountedText{&SettingsRecord::logFilePath}},
    {"Name der Log Datei", CountedText{&SettingsRecord::logFileName}},
    {"eigene Rufnummer", FixedText{&SettingsRecord::ownNumber, kOwnNumberChars}},
    {"Länge der eigenen Rufnummer", Byte{&SettingsRecord::ownNumberLength}},
    {"kompletter Verbindungsabbau", Flag16{&SettingsRecord::totalDisconnect}},
    {"automatische Amtsholung", Flag16{&SettingsRecord::lineAccessEnabled}},
    {"Ziffernzahl der Amtsholung", Byte{&SettingsRecord::lineAccessDigits}},
    {"Zeichen der Amtsholung", CountedText{&SettingsRecord::lineAccessChars}},
    {"Rückruf", Flag16{&SettingsRecord::callBack}},
}};

constexpr size_t kMaxCountedText = 0xFFFF;

template <class... Handlers>
struct Overloaded : Handlers... {
    using Handlers::operator()...;
};
template <class... Handlers>
Overloaded(Handlers...) -> Overloaded<Handlers...>;

std::string name(const Field& field) {
    return "„" + std::string(field.name) + "“";
}

std::string byteCount(size_t count) {
    return std::to_string(count) + (count == 1 ? " Byte" : " Bytes");
}

// Returns what is wrong with the field, or nothing.
std::string encodeField(const Field& field, const SettingsRecord& in, Bytes& out) {
    return std::visit(Overloaded{
                          [&](Flag16 f) {
                              appendU16(out, in.*f.member ? 0xFFFF : 0x0000);
                              return std::string();
                          },
                          [&](Byte f) {
                              out.push_back(in.*f.member);
                              return std::string();
                          },
                          [&](CountedText f) {
                              const std::string& text = in.*f.member;
                              if (text.size() > kMaxCountedText) {
                                  return name(field) + " ist " + std::to_string(text.size()) +
                                         " Bytes lang; ein gespeicherter Text hat höchstens "
                                         "65535";
                              }
                              appendU16(out, static_cast<uint16_t>(text.size()));
                              appendText(out, text);
                              return std::string();
                          },
                          [&](FixedText f) {
                              const std::string& text = in.*f.member;
                              if (text.size() != f.length) {
                                  return name(field) + " muss genau " + std::to_string(f.length) +
                                         " Zeichen haben, nicht " + std::to_string(text.size());
                              }
                              appendText(out, text);
                              return std::string();
                          },
                      },
                      field.kind);
}

std::string endsInside(const Field& field, const char* part, size_t needed, const ByteReader& in) {
    return "die Datei endet mitten in " + std::string(part) + name(field) + ": an Offset " +
           std::to_string(in.offset()) + " werden " + byteCount(needed) + " gebraucht, " +
           byteCount(in.remaining()) + " sind übrig";
}

std::string runsPast(const Field& field, uint16_t length, const ByteReader& in) {
    return "die Länge " + std::to_string(length) + " von " + name(field) +
           " reicht über das Dateiende hinaus: an Offset " + std::to_string(in.offset()) +
           " sind nur " + byteCount(in.remaining()) + " übrig";
}

std::string decodeField(const Field& field, ByteReader& in, SettingsRecord& out) {
    return std::visit(Overloaded{
                          [&](Flag16 f) {
                              const auto value = in.u16();
                              if (!value) {
                                  return endsInside(field, "", 2, in);
                              }
                              out.*f.member = *value != 0;
                              return std::string();
                          },
                          [&](Byte f) {
                              const auto value = in.u8();
                              if (!value) {
                                  return endsInside(field, "", 1, in);
                              }
                              out.*f.member = *value;
                              return std::string();
                          },
                          [&](CountedText f) {
                              const auto length = in.u16();
                              if (!length) {
                                  return endsInside(field, "der Länge von ", 2, in);
                              }
                              auto text = in.text(*length);
                              if (!text) {
                                  return runsPast(field, *length, in);
                              }
                              out.*f.member = std::move(*text);
                              return std::string();
                          },
                          [&](FixedText f) {
                              auto text = in.text(f.length);
                              if (!text) {
                                  return endsInside(field, "", f.length, in);
                              }
                              out.*f.member = std::move(*text);
                              return std::string();
                          },
                      },
                      field.kind);
}

}  // namespace

EncodeSettingsResult encodeSettings(const SettingsRecord& settings) {
    EncodeSettingsResult result;
    for (const Field& field : kRecordLayout) {
        result.error = encodeField(field, settings, result.bytes);
        if (!result.error.empty()) {
            result.bytes.clear();
            return result;
        }
    }
    result.ok = true;
    return result;
}

DecodeSettingsResult decodeSettings(std::span<const uint8_t> bytes) {
    SettingsRecord settings;
    ByteReader in(bytes);
    for (const Field& field : kRecordLayout) {
        std::string problem = decodeField(field, in, settings);
        if (!problem.empty()) {
            return {std::nullopt, std::move(problem)};
        }
    }
    if (in.remaining() != 0) {
        return {std::nullopt, "nach dem Ende des Datensatzes an Offset " +
                                  std::to_string(in.offset()) + " folgen noch " +
                                  byteCount(in.remaining())};
    }
    return {std::move(settings), {}};
}

LoadSettingsResult LoadSettings(const std::filesystem::path& dataDir, LocalTime now) {
    const std::filesystem::path file = dataDir / kSettingsFileName;
    ReadFileResult read = readWholeFile(file);
    if (read.status == ReadStatus::missing) {
        return {std::nullopt, createFileIfMissing(file).error, std::nullopt};
    }
    if (read.status == ReadStatus::failed) {
        return {std::nullopt, std::move(read.error), std::nullopt};
    }
    if (read.bytes.empty()) {
        return {};
    }
    DecodeSettingsResult decoded = decodeSettings(read.bytes);
    if (decoded.settings) {
        return {std::move(decoded.settings), {}, std::nullopt};
    }
    return {std::nullopt,
            {},
            setAsideCorruptFile(file, "kein Einstellungsdatensatz: " + decoded.error, now)};
}

FileResult SaveSettings(const std::filesystem::path& dataDir, const SettingsRecord& settings) {
    const EncodeSettingsResult encoded = encodeSettings(settings);
    if (!encoded.ok) {
        return FileResult::failure(encoded.error);
    }
    return replaceFileAtomically(dataDir / kSettingsFileName, encoded.bytes);
}

}  // namespace tellmaro::data
