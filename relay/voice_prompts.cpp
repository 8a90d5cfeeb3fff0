// Voice prompts: streamed to the mobile leg one block for every block
// received, so the call's own audio paces playback.
#include "data/text_rules.h"
#include "relay/engine.h"

namespace tellmaro::relay {

namespace {

constexpr int16_t kEchoLastPosition = 20;

// The read-back file of a dialled character; nothing for the DTMF letters A-D.
const char* echoFile(char c) {
    static constexpr const char* kDigits[] = {"0.pdt", "1.pdt", "2.pdt", "3.pdt", "4.pdt",
                                              "5.pdt", "6.pdt", "7.pdt", "8.pdt", "9.pdt"};
    if (data::isDigit(c)) {
        return kDigits[c - '0'];
    }
    if (c == '*') {
        return "stern.pdt";
    }
    if (c == '#') {
        return "raute.pdt";
    }
    return nullptr;
}

}  // namespace

void Engine::startPrompt(std::string_view fileName) {
    promptFile_.close();
    // A prompt that cannot be opened counts as ended at once.
    if (promptFile_.open(host_.programDir / fileName)) {
        state_.promptFileName = fileName;
    } else {
        state_.promptFileName.clear();
    }
}

void Engine::stopPrompt() {
    promptFile_.close();
    state_.promptFileName.clear();
}

void Engine::chooseEchoPrompt() {
    // "waehle.pdt", then each dialled character, then again from the start.
    auto endOfCycle = [this](int16_t pos) {
        return pos == state_.dialledDigitPos - 2 || pos >= kEchoLastPosition;
    };
    int16_t& pos = state_.promptEchoPos;
    ++pos;
    const char* file = "waehle.pdt";
    if (pos > 0) {
        file = echoFile(state_.dialled(static_cast<size_t>(pos)));
        while (file == nullptr && !endOfCycle(pos)) {
            ++pos;  // characters without a prompt are skipped
            file = echoFile(state_.dialled(static_cast<size_t>(pos)));
        }
    }
    if (file != nullptr) {
        startPrompt(file);
    }
    if (pos > 0 && endOfCycle(pos)) {
        pos = -1;
    }
}

void Engine::promptStep(const capi::DataB3IndParams& block) {
    CallPhase phase = state_.callPhase;
    if (phase == CallPhase::Dialogue && state_.promptFileName.empty()) {
        startPrompt(state_.speedDialMode ? "dir.pdt" : "welcome.pdt");
    } else if (phase != CallPhase::NumberConfirmed && state_.promptFileName.empty()) {
        chooseEchoPrompt();
    }
    // While the confirmed number is being dialled the caller hears silence.
    if (phase != CallPhase::NumberConfirmed && !state_.promptFileName.empty()) {
        if (promptFile_.atEnd()) {
            stopPrompt();  // the block on which the end is found stays silent
        } else {
            promptFile_.readRecord(promptBlock_);
            send(templates_.dataB3Req(state_.mobileNcci, promptBlock_.data(), kBlockLength,
                                      block.dataHandle(), block.flags()));
        }
    }
    send(
        templates_.dataB3Resp(capi::DataB3RespNumber::OnReceipt, block.ncci(), block.dataHandle()));
}

}  // namespace tellmaro::relay
