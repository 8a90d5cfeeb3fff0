// One test per flow of the files in tests/relay/flows: cancel.scenario is suite Cancel.
#include <gtest/gtest.h>

#include <set>

#include "support/flow_runner.h"

namespace tellmaro::test {
namespace {

class FlowTest : public ::testing::Test {
  public:
    explicit FlowTest(Flow flow) : flow_(std::move(flow)) {}
    void TestBody() override {
        const std::string failures = playFlow(flow_);
        EXPECT_TRUE(failures.empty()) << failures;
    }

  private:
    Flow flow_;
};

const bool registered = [] {
    std::set<std::filesystem::path> files;
    for (const auto& file : std::filesystem::directory_iterator(TELLMARO_FLOW_DIR)) {
        files.insert(file.path());
    }
    for (const auto& file : files) {
        std::string suite;  // teardown_x: TeardownX
        for (bool upper = true; char c : file.stem().string()) {
            suite += c == '_' ? "" : std::string(1, upper ? static_cast<char>(std::toupper(c)) : c);
            upper = c == '_';
        }
        for (Flow& flow : flowsOf(readFile(file))) {
            ::testing::RegisterTest(suite.c_str(), flow.name.c_str(), nullptr, nullptr,
                                    file.c_str(), 0,
                                    [flow]() -> ::testing::Test* { return new FlowTest(flow); });
        }
    }
    return true;
}();

}  // namespace
}  // namespace tellmaro::test
