#pragma once
// Outcome of a file operation that produces nothing but success or a reason.

#include <string>
#include <utility>

namespace tellmaro::data {

struct FileResult {
    bool ok = true;
    std::string error;  // what failed and why; empty when ok

    static FileResult success() { return {}; }
    static FileResult failure(std::string message) { return {false, std::move(message)}; }
};

}  // namespace tellmaro::data
