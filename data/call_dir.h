#pragma once
// The speed-dial phone book in memory.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tellmaro::data {

// Texts hold raw Windows-1252 bytes.
struct CallDirEntry {
    std::string shortdial;  // the code the mobile caller keys in
    std::string number;     // what is dialled for it
    std::string comment;

    bool operator==(const CallDirEntry&) const = default;
};

// Entries 1..N are the phone book in display order. Index 0 is a placeholder
// that is never shown, edited or matched; it is kept only so that it goes
// back to the file unchanged.
class PhoneBook {
  public:
    static constexpr int16_t kMaxEntries = INT16_MAX;

    PhoneBook() : PhoneBook(CallDirEntry{}) {}
    explicit PhoneBook(CallDirEntry placeholder);

    const std::vector<CallDirEntry>& callDir() const { return callDir_; }
    int16_t callDirCount() const { return static_cast<int16_t>(callDir_.size() - 1); }

    // Each returns false and changes nothing when the book is full or the
    // index is not one of 1..N.
    [[nodiscard]] bool append(CallDirEntry entry);
    [[nodiscard]] bool replace(int16_t index, CallDirEntry entry);
    [[nodiscard]] bool remove(int16_t index);  // later entries move down, order kept

    // The number of the first entry whose code equals `code` exactly.
    std::optional<std::string> lookup(std::string_view code) const;

    bool operator==(const PhoneBook&) const = default;

  private:
    bool isEntryIndex(int16_t index) const { return index >= 1 && index <= callDirCount(); }

    std::vector<CallDirEntry> callDir_;
};

}  // namespace tellmaro::data
