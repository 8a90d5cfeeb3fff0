#pragma once
// The record of the one relayed call. Exactly one exists, owned by the
// engine; every handler, timer procedure and the error report work on it.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "data/date_time.h"
#include "relay/call_phase.h"

namespace tellmaro::relay {

inline constexpr size_t kCallerFieldLength = 20;
inline constexpr size_t kDialledFieldLength = 22;
inline constexpr size_t kPromptRecordLength = 2049;
inline constexpr size_t kBlockLength = 2048;

// Fixed-width number fields, filled with "0".
using CallerField = std::array<char, kCallerFieldLength>;
using DialledField = std::array<char, kDialledFieldLength>;

template <size_t N>
constexpr std::array<char, N> zeroField() {
    std::array<char, N> field{};
    field.fill('0');
    return field;
}

// "Not yet set" for the call-log end times: the day 1899-12-31, the date
// value 1.0 of the Windows version.
data::LocalTime notYetSet();

struct RelayState {
    CallPhase callPhase = CallPhase::Idle;
    uint32_t mobilePlci = 0;
    uint32_t targetPlci = 0;
    uint32_t mobileNcci = 0;
    uint32_t targetNcci = 0;
    CallerField callerNumberField = zeroField<kCallerFieldLength>();
    DialledField dialledNumber = zeroField<kDialledFieldLength>();
    uint8_t dialledDigitPos = 1;  // 1-based position of the next key
    bool cancelRequested = false;
    std::string promptFileName;  // empty when no prompt plays
    data::LocalTime callStartTime{};
    bool speedDialMode = false;
    int16_t promptEchoPos = -1;
    uint32_t resetPendingNcci = 0;
    int16_t maxRelayedHandle = 0;
    std::optional<data::LocalTime> conversationStart;
    data::LocalTime conversationEnd = notYetSet();
    data::LocalTime connectionEnd = notYetSet();
    int32_t connectionSeconds = 0;
    int32_t conversationSeconds = 0;

    // The character at 1-based position `pos` of dialledNumber.
    char& dialled(size_t pos) { return dialledNumber[pos - 1]; }
    char dialled(size_t pos) const { return dialledNumber[pos - 1]; }

    void resetDialogue() {
        dialledNumber = zeroField<kDialledFieldLength>();
        dialledDigitPos = 1;
        speedDialMode = false;
    }
};

}  // namespace tellmaro::relay
