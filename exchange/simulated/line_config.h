#pragma once
// What the simulated line is: the controller it presents, and how long the
// network and the parties take.

#include <chrono>

#include "exchange/controller/controller_config.h"

namespace tellmaro::exchange {

struct LineTiming {
    std::chrono::milliseconds blockInterval{256};  // 2048 bytes of 8 kHz audio
    // How long a party's call rings before it gives up, unless it says otherwise.
    std::chrono::milliseconds ringTime{30000};
    // How long the network takes to report a failed call (unknown number, busy).
    std::chrono::milliseconds networkDelay{100};
    // How long an outgoing call rings before the network gives up.
    std::chrono::milliseconds noAnswerTimeout{60000};
    // How long a seized line waits for the next keypad information.
    std::chrono::milliseconds seizureTimeout{15000};
};

struct LineConfig : ControllerConfig {
    LineTiming timing;
};

}  // namespace tellmaro::exchange
