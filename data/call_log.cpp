#include "data/call_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "data/call_log_texts.h"
#include "data/file_access.h"
#include "data/system_error.h"
#include "data/windows1252.h"

namespace tellmaro::data {

namespace {

namespace texts = call_log_texts;

// The texts as written to the file, converted once.
struct EncodedTexts {
    std::string caller, callTime, refusedCaller, dialledNumber, conversationStart, conversationEnd,
        conversationDuration, connectionEnd, connectionDuration, cancelledByMobile, notReachable,
        mobileHungUp;
};

std::string encoded(std::string_view utf8) {
    // The texts are fixed and all convertible; a failure is caught by the tests.
    return utf8ToWindows1252(utf8).text.value_or(std::string(utf8));
}

const EncodedTexts& fileTexts() {
    static const EncodedTexts instance{
        encoded(texts::kCaller),
        encoded(texts::kCallTime),
        encoded(texts::kRefusedCaller),
        encoded(texts::kDialledNumber),
        encoded(texts::kConversationStart),
        encoded(texts::kConversationEnd),
        encoded(texts::kConversationDuration),
        encoded(texts::kConnectionEnd),
        encoded(texts::kConnectionDuration),
        encoded(texts::kCancelledByMobile),
        encoded(texts::kNotReachable),
        encoded(texts::kMobileHungUp),
    };
    return instance;
}

// Builds the lines of one entry, so that it goes out in one write.
class Lines {
  public:
    Lines& blank() {
        text_ += texts::kLineEnd;
        return *this;
    }
    Lines& line(std::string_view label, std::string_view value = {}, std::string_view unit = {}) {
        text_.append(label).append(value).append(unit).append(texts::kLineEnd);
        return *this;
    }
    const std::string& text() const { return text_; }

  private:
    std::string text_;
};

}  // namespace

CallLog::~CallLog() {
    close();
}

FileResult CallLog::open(const std::filesystem::path& file) {
    close();
    fd_ = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) {
        return FileResult::failure("Die Log Datei " + file.string() +
                                   " kann nicht geöffnet werden: " + systemErrorText(errno));
    }
    return FileResult::success();
}

FileResult CallLog::close() {
    if (fd_ < 0) {
        return FileResult::success();
    }
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) {
        return FileResult::failure("Die Log Datei kann nicht geschlossen werden: " +
                                   systemErrorText(errno));
    }
    return FileResult::success();
}

bool CallLog::append(std::string_view bytes) {
    return fd_ >= 0 &&
           writeAll(fd_, std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
}

bool CallLog::writeLine(std::string_view windows1252Text) {
    return append(Lines().line(windows1252Text).text());
}

bool CallLog::writeBlankLine() {
    return append(texts::kLineEnd);
}

bool CallLog::callSeparator() {
    return append(Lines().blank().blank().blank().text());
}

bool CallLog::caller(std::string_view digits) {
    return append(Lines().line(fileTexts().caller, digits).text());
}

bool CallLog::callTime(LocalTime time) {
    return append(Lines().line(fileTexts().callTime, dateTimeText(time)).text());
}

bool CallLog::refusedCaller() {
    return append(Lines().line(fileTexts().refusedCaller).text());
}

bool CallLog::dialledNumber(std::string_view number) {
    return append(Lines().blank().line(fileTexts().dialledNumber, number).text());
}

bool CallLog::conversationStart(LocalTime time) {
    return append(Lines().line(fileTexts().conversationStart, dateTimeText(time)).text());
}

bool CallLog::conversationEnd(LocalTime time, int64_t seconds) {
    const EncodedTexts& t = fileTexts();
    return append(Lines()
                      .line(t.conversationEnd, dateTimeText(time))
                      .line(t.conversationDuration, std::to_string(seconds), texts::kSecondsSpaced)
                      .text());
}

bool CallLog::connectionEnd(LocalTime time, int64_t seconds, ConnectionEndUnit unit) {
    const EncodedTexts& t = fileTexts();
    const std::string_view unitText =
        unit == ConnectionEndUnit::mobileLegLast ? texts::kSecondsUnspaced : texts::kSecondsSpaced;
    return append(Lines()
                      .blank()
                      .line(t.connectionEnd, dateTimeText(time))
                      .line(t.connectionDuration, std::to_string(seconds), unitText)
                      .text());
}

bool CallLog::cancelledByMobile() {
    return append(Lines().line(fileTexts().cancelledByMobile).text());
}

bool CallLog::notReachable() {
    return append(Lines().line(fileTexts().notReachable).text());
}

bool CallLog::mobileHungUp() {
    return append(Lines().line(fileTexts().mobileHungUp).text());
}

}  // namespace tellmaro::data
