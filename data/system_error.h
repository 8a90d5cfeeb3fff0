#pragma once
// The system's reason for a failed file operation, in German: strerror()
// speaks the C locale's English whatever the user's language.

#include <string>

namespace tellmaro::data {

// The German text for the errno values that reading, writing, creating and
// renaming files can give; "Systemfehler N" for any other.
std::string systemErrorText(int error);

}  // namespace tellmaro::data
