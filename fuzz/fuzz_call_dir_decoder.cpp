// "tellmaro.dir" bytes of any shape into the phone book decoder; a phone book
// it accepts must store and read back unchanged.
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
    // Entries too long for a record cannot come out of a record, so storing
    // what was read never fails.
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
