#pragma once
// Texts of CAPI info and error codes, and the line the error report appends
// to "error.log".

#include <cstdint>
#include <string>
#include <string_view>

namespace tellmaro::capi {

// The text for a CAPI info or error code, "No:0x1103 The message ...";
// empty for a code without a text.
std::string_view describeCapiInfo(uint32_t code);

// The date and time text, "CAPI-Fehler" and the code's text, with nothing
// between them; no line end.
std::string errorLogLine(std::string_view dateTimeText, uint32_t code);

}  // namespace tellmaro::capi
