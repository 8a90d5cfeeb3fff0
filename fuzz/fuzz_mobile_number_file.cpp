// "tellmaro.mob" of any content, read as the program does; a number it accepts is digits.
#include <cstdint>
#include <cstdlib>

#include "data/mobile_number_file.h"

using namespace tellmaro;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto decoded = data::decodeMobileNumber({data, size});
    if (decoded.number && (decoded.number->empty() || decoded.number->size() > size ||
                           decoded.number->find_first_not_of("0123456789") != std::string::npos)) {
        std::abort();
    }
    return 0;
}
