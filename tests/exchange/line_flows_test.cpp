// The simulator's behaviour, one flow file per family of flows.
#include "line_flow.h"

namespace tellmaro::exchange::test {
namespace {

class LineFlows : public ::testing::TestWithParam<const char*> {};

TEST_P(LineFlows, PlayAsWritten) {
    for (const auto& [name, text] : readLineFlows(GetParam())) {
        SCOPED_TRACE(GetParam() + (": " + name));
        LineFlow flow(text);
    }
}

INSTANTIATE_TEST_SUITE_P(Files, LineFlows,
                         ::testing::Values("calls.scenario", "clearing.scenario",
                                           "strictness.scenario"));

}  // namespace
}  // namespace tellmaro::exchange::test
