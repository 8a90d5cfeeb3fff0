#include "relay/prompt_file.h"

#include <algorithm>

namespace tellmaro::relay {

bool PromptFile::open(const std::filesystem::path& file) {
    close();
    file_ = std::fopen(file.c_str(), "rb");
    atEnd_ = false;
    return file_ != nullptr;
}

void PromptFile::close() {
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
    atEnd_ = false;
}

void PromptFile::readRecord(PromptRecord& record) {
    size_t got = file_ ? std::fread(record.data(), 1, record.size(), file_) : 0;
    std::fill(record.begin() + static_cast<ptrdiff_t>(got), record.end(), kLineSilence);
    if (got < record.size()) {
        atEnd_ = true;
    }
}

}  // namespace tellmaro::relay
