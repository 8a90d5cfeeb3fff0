// One test per flow of the flow files in tests/relay/flows: the file names
// the suite (cancel.scenario: Cancel), the flow the test.
#include <gtest/gtest.h>

#include <algorithm>

#include "support/flow_runner.h"

namespace tellmaro::test {
namespace {

class FlowTest : public ::testing::Test {
  public:
    explicit FlowTest(Flow flow) : flow_(std::move(flow)) {}
    void TestBody() override {
        std::string failures = playFlow(flow_);
        EXPECT_TRUE(failures.empty()) << failures;
    }

  private:
    Flow flow_;
};

std::string suiteName(const std::filesystem::path& file) {
    std::string name;
    bool upper = true;
    for (char c : file.stem().string()) {
        name += c == '_' ? "" : std::string(1, upper ? static_cast<char>(std::toupper(c)) : c);
        upper = c == '_';
    }
    return name;
}

const bool registered = [] {
    std::vector<std::filesystem::path> files;
    for (const auto& file : std::filesystem::directory_iterator(TELLMARO_FLOW_DIR)) {
        files.push_back(file.path());
    }
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
        for (Flow& flow : readFlows(file)) {
            ::testing::RegisterTest(suiteName(file).c_str(), flow.name.c_str(), nullptr, nullptr,
                                    file.c_str(), 0,
                                    [flow]() -> ::testing::Test* { return new FlowTest(flow); });
        }
    }
    return true;
}();

}  // namespace
}  // namespace tellmaro::test
