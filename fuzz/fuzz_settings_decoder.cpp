// "tellmaro.ini" bytes into the settings decoder; what it accepts stores and reads back unchanged.
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
