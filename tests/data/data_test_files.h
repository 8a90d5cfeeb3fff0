#pragma once
// A fresh directory per data test, removed with everything in it afterwards,
// and whole-file reads and writes.

#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace tellmaro::test {

class TempDir {
  public:
    TempDir() {
        ::umask(022);  // a file created 0644 instead of 0600 shows
        std::string name = (std::filesystem::temp_directory_path() / "tellmaro-data-XXXXXX");
        path_ = ::mkdtemp(name.data());
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
    // Everything in the directory, to catch stray temporary files.
    std::set<std::string> names() const {
        std::set<std::string> out;
        for (const auto& entry : std::filesystem::directory_iterator(path_)) {
            out.insert(entry.path().filename().string());
        }
        return out;
    }

  private:
    std::filesystem::path path_;
};

inline std::vector<uint8_t> fileBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

inline void writeFile(const std::filesystem::path& file, const std::vector<uint8_t>& bytes) {
    std::ofstream(file, std::ios::binary) << std::string(bytes.begin(), bytes.end());
}

inline bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace tellmaro::test
