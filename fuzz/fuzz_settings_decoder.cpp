// "tellmaro.ini" bytes of any shape into the settings decoder; a record it
// accepts must store and read back unchanged (the stored bytes may differ,
// as any nonzero flag reads as set).
#include <cstdint>
#include <cstdlib>
#include <span>

#include "data/settings_file.h"

using namespace tellmaro;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const data::DecodeSettingsResult decoded = data::decodeSettings(std::span(data, size));
    if (!decoded.settings) {
        return 0;
    }
    const data::EncodeSettingsResult encoded = data::encodeSettings(*decoded.settings);
    if (!encoded.ok || encoded.bytes.size() != size) {
        std::abort();
    }
    const data::DecodeSettingsResult again = data::decodeSettings(encoded.bytes);
    if (!again.settings || !(*again.settings == *decoded.settings)) {
        std::abort();
    }
    return 0;
}
