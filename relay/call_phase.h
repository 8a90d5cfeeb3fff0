#pragma once
// The phases of the one relayed call. Each value names the message or action
// that enters it; handlers test the phase before acting.

#include <cstdint>

namespace tellmaro::relay {

enum class CallPhase : uint8_t {
    Idle = 0,               // no relayed call
    Taken = 1,              // CONNECT_IND of the registered mobile: ALERT_REQ, line seized
    CallBackDialled = 2,    // DISCONNECT_IND of the ringing mobile: CONNECT_REQ to call back
    CallBackConfirmed = 3,  // CONNECT_CONF (Info 0) of the call-back
    MobileConnected = 4,    // CONNECT_ACTIVE_IND of the mobile leg; its B3 is coming up
    Dialogue = 5,           // CONNECT_B3_ACTIVE_IND of the mobile leg: prompts and digits
    NumberConfirmed = 6,    // the confirm key: the seized line is being released
    Dialling = 7,           // DISCONNECT_IND of the seizure: CONNECT_REQ to the number
    DialConfirmed = 8,      // CONNECT_CONF (Info 0) of the dialled call
    TargetConnected = 9,    // CONNECT_ACTIVE_IND of the dialled call; its B3 is coming up
    Relaying = 10,          // RESET_B3_IND after the target's B3 came up: audio is relayed
};

constexpr bool inPhases(CallPhase phase, CallPhase first, CallPhase last) {
    return phase >= first && phase <= last;
}

}  // namespace tellmaro::relay
