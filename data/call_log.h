#pragma once
// The call log: a Windows-1252 text file the relay appends to while it is
// active. One function per kind of entry, so that the texts and their order
// live here and not in the call handlers.

#include <cstdint>
#include <filesystem>
#include <string_view>

#include "data/date_time.h"
#include "data/file_result.h"

namespace tellmaro::data {

// Which B3 connection of the call ended last; it decides the unit written
// after the connection duration.
enum class ConnectionEndUnit {
    mobileLegLast,    // "s"
    outgoingLegLast,  // " s"
};

// Writing never throws and never stops the call handling: a line that
// cannot be written makes its function return false, and the caller may
// ignore that. Texts passed in are Windows-1252 (digits, "*" and "#").
class CallLog {
  public:
    CallLog() = default;
    ~CallLog();
    CallLog(const CallLog&) = delete;
    CallLog& operator=(const CallLog&) = delete;

    // Opens for appending, creating the file (0600) when it does not exist. An open
    // log is closed first.
    FileResult open(const std::filesystem::path& file);
    bool isOpen() const { return fd_ >= 0; }
    FileResult close();

    bool writeLine(std::string_view windows1252Text);
    bool writeBlankLine();

    bool callSeparator();  // three blank lines before an incoming call
    bool caller(std::string_view digits);
    bool callTime(LocalTime time);
    bool refusedCaller();
    bool dialledNumber(std::string_view number);  // a blank line, then the number
    bool conversationStart(LocalTime time);
    bool conversationEnd(LocalTime time, int64_t seconds);  // end time and duration
    bool connectionEnd(LocalTime time, int64_t seconds, ConnectionEndUnit unit);
    bool cancelledByMobile();
    bool notReachable();
    bool mobileHungUp();

  private:
    bool append(std::string_view bytes);

    int fd_ = -1;
};

}  // namespace tellmaro::data
