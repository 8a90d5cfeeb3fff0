#include "data/windows1252.h"

#include <array>
#include <cstdint>
#include <cstdio>

namespace tellmaro::data {

namespace {

// Bytes 0x80 to 0x9F; every other byte has the code point of its own value.
constexpr std::array<char32_t, 32> kBytes80To9F = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  //
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  //
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  //
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char32_t codePointOf(uint8_t byte) {
    if (byte >= 0x80 && byte <= 0x9F) {
        return kBytes80To9F[byte - 0x80];
    }
    return byte;
}

std::optional<uint8_t> byteOf(char32_t codePoint) {
    if (codePoint < 0x80 || (codePoint >= 0xA0 && codePoint <= 0xFF)) {
        return static_cast<uint8_t>(codePoint);
    }
    for (size_t i = 0; i < kBytes80To9F.size(); ++i) {
        if (kBytes80To9F[i] == codePoint) {
            return static_cast<uint8_t>(0x80 + i);
        }
    }
    return std::nullopt;
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        // The code page holds nothing beyond the Basic Multilingual Plane.
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

struct DecodedChar {
    char32_t codePoint;
    size_t length;
};

// One well-formed UTF-8 sequence at `at`: no overlong forms, no surrogates,
// nothing above U+10FFFF.
std::optional<DecodedChar> decodeUtf8(std::string_view in, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<uint8_t>(in[at + i]); };
    const uint8_t lead = byte(0);
    size_t length;
    char32_t cp;
    uint8_t secondMin = 0x80;
    uint8_t secondMax = 0xBF;
    if (lead < 0x80) {
        return DecodedChar{lead, 1};
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        cp = lead & 0x0F;
        if (lead == 0xE0) {
            secondMin = 0xA0;
        } else if (lead == 0xED) {
            secondMax = 0x9F;
        }
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        cp = lead & 0x07;
        if (lead == 0xF0) {
            secondMin = 0x90;
        } else if (lead == 0xF4) {
            secondMax = 0x8F;
        }
    } else {
        return std::nullopt;
    }
    if (in.size() - at < length) {
        return std::nullopt;
    }
    for (size_t i = 1; i < length; ++i) {
        const uint8_t next = byte(i);
        const uint8_t min = i == 1 ? secondMin : 0x80;
        const uint8_t max = i == 1 ? secondMax : 0xBF;
        if (next < min || next > max) {
            return std::nullopt;
        }
        cp = (cp << 6) | (next & 0x3F);
    }
    return DecodedChar{cp, length};
}

Utf8ToWindows1252Result failure(size_t offset, std::string error) {
    return {std::nullopt, offset, std::move(error)};
}

}  // namespace

std::string windows1252ToUtf8(std::string_view windows1252) {
    std::string out;
    out.reserve(windows1252.size());
    for (char c : windows1252) {
        appendUtf8(out, codePointOf(static_cast<uint8_t>(c)));
    }
    return out;
}

Utf8ToWindows1252Result utf8ToWindows1252(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (size_t at = 0; at < utf8.size();) {
        const auto decoded = decodeUtf8(utf8, at);
        if (!decoded) {
            return failure(at, "ungültiges UTF-8 an Byte " + std::to_string(at));
        }
        const auto byte = byteOf(decoded->codePoint);
        if (!byte) {
            char name[16];
            std::snprintf(name, sizeof name, "U+%04X", static_cast<unsigned>(decoded->codePoint));
            return failure(at, "das Zeichen " + std::string(name) + " an Byte " +
                                   std::to_string(at) + " hat keinen Windows-1252-Code");
        }
        out += static_cast<char>(*byte);
        at += decoded->length;
    }
    return {std::move(out), 0, {}};
}

}  // namespace tellmaro::data
