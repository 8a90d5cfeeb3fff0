#pragma once
// Every stored text is Windows-1252, one byte per character, so that files
// copied from a Windows installation read the same; the user interface works
// in UTF-8 and converts at the edge.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tellmaro::data {

// Every byte maps to a character: the five bytes the code page leaves
// undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the control characters of
// the same number, as Windows converts them. Never fails.
std::string windows1252ToUtf8(std::string_view windows1252);

struct Utf8ToWindows1252Result {
    std::optional<std::string> text;  // the Windows-1252 bytes, when every character converted
    size_t errorOffset = 0;           // byte offset in the input of the first failing character
    std::string error;                // what is wrong there; empty when text is set

    bool ok() const { return text.has_value(); }
};

// Fails on invalid UTF-8 and on characters the code page cannot hold.
// windows1252ToUtf8 followed by this gives back any byte string unchanged.
Utf8ToWindows1252Result utf8ToWindows1252(std::string_view utf8);

}  // namespace tellmaro::data
