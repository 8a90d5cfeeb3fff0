// "tellmaro.mob" of any content, read through the file as the program does;
// a number it accepts is one or more digits.
#include <unistd.h>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "data/mobile_number_file.h"

using namespace tellmaro;

namespace {

// One folder per process, removed at exit; the file is rewritten per input.
struct Folder {
    Folder() {
        path = std::filesystem::temp_directory_path() /
               ("tellmaro-fuzz-mob-" + std::to_string(::getpid()));
        std::filesystem::create_directories(path);
    }
    ~Folder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::filesystem::path path;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Folder folder;
    {
        std::ofstream out(folder.path / data::kMobileNumberFileName,
                          std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    const data::LoadMobileNumberResult result = data::LoadMobileNumber(folder.path);
    if (result.status == data::MobileNumberStatus::present) {
        if (result.number.empty() || result.number.size() > size) {
            std::abort();
        }
        for (char c : result.number) {
            if (c < '0' || c > '9') {
                std::abort();
            }
        }
    }
    return 0;
}
