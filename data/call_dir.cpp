#include "data/call_dir.h"

#include <utility>

namespace tellmaro::data {

PhoneBook::PhoneBook(CallDirEntry placeholder) {
    callDir_.push_back(std::move(placeholder));
}

bool PhoneBook::append(CallDirEntry entry) {
    if (callDirCount() == kMaxEntries) {
        return false;
    }
    callDir_.push_back(std::move(entry));
    return true;
}

bool PhoneBook::replace(int16_t index, CallDirEntry entry) {
    if (!isEntryIndex(index)) {
        return false;
    }
    callDir_[static_cast<size_t>(index)] = std::move(entry);
    return true;
}

bool PhoneBook::remove(int16_t index) {
    if (!isEntryIndex(index)) {
        return false;
    }
    callDir_.erase(callDir_.begin() + index);
    return true;
}

std::optional<std::string> PhoneBook::lookup(std::string_view code) const {
    for (size_t i = 1; i < callDir_.size(); ++i) {
        if (callDir_[i].shortdial == code) {
            return callDir_[i].number;
        }
    }
    return std::nullopt;
}

}  // namespace tellmaro::data
