#pragma once
// The production wall clock: local time of the system.

#include "relay/engine_ports.h"

namespace tellmaro::relay {

class SystemWallClock final : public WallClock {
  public:
    data::LocalTime now() const override { return data::localNow(); }
};

}  // namespace tellmaro::relay
