// "tellmaro.mob" of any content, read as the program does; a number it accepts is digits.
#include <cstdint>
#include <cstdlib>
#include <fstream>

#include "data/mobile_number_file.h"
#include "engine_rig.h"

using namespace tellmaro;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static fuzz::ProgramFolder folder;
    std::ofstream(folder.path / data::kMobileNumberFileName, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    const data::LoadMobileNumberResult result = data::LoadMobileNumber(folder.path);
    if (result.status == data::MobileNumberStatus::present &&
        (result.number.empty() || result.number.size() > size ||
         result.number.find_first_not_of("0123456789") != std::string::npos)) {
        std::abort();
    }
    return 0;
}
