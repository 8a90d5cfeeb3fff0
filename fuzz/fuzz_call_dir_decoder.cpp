// "tellmaro.dir" bytes into the phone book decoder; what it accepts stores and reads back
// unchanged.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "data/call_dir_file.h"

using namespace tellmaro;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const data::DecodeCallDirResult decoded = data::decodeCallDir(std::span(data, size));
    if (!decoded.phoneBook) {
        return 0;
    }
    // What came out of records fits into records.
    const data::EncodeCallDirResult encoded = data::encodeCallDir(*decoded.phoneBook);
    if (!encoded.ok) {
        std::abort();
    }
    const data::DecodeCallDirResult again = data::decodeCallDir(encoded.bytes);
    if (!again.phoneBook || !(*again.phoneBook == *decoded.phoneBook)) {
        std::abort();
    }
    return 0;
}
