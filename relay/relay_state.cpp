#include "relay/relay_state.h"

namespace tellmaro::relay {

data::LocalTime notYetSet() {
    using namespace std::chrono;
    return local_days{year{1899} / December / 31};
}

}  // namespace tellmaro::relay
