#include "exchange/simulated/line_simulator.h"

namespace tellmaro::exchange {

// The network only keeps the controller's address until events run.
LineSimulator::LineSimulator(const Clock& clock, LineConfig config)
    : config_(std::move(config)),
      network_(clock, config_.timing, controller_),
      controller_(clock, config_, network_) {}

}  // namespace tellmaro::exchange
