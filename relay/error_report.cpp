// The one reaction to a failed driver call: log it, drop the call, register
// afresh and listen again, or end the program.
#include <cstdio>

#include "capi/capi_info.h"
#include "relay/engine.h"

namespace tellmaro::relay {

namespace {

constexpr const char* kErrorLogName = "error.log";

// The report goes on whether or not the line could be written.
void appendErrorLog(const std::filesystem::path& file, const std::string& line) {
    std::FILE* out = std::fopen(file.c_str(), "ab");
    if (out == nullptr) {
        return;
    }
    std::fwrite(line.data(), 1, line.size(), out);
    std::fwrite("\r\n", 1, 2, out);
    std::fclose(out);
}

}  // namespace

void Engine::logFailure(std::string_view text) {
    appendErrorLog(host_.appDir / kErrorLogName,
                   data::dateTimeText(host_.clock.now()) + " " + std::string(text));
}

void Engine::reportCapiError(uint32_t code) {
    abandoned_ = true;
    appendErrorLog(host_.appDir / kErrorLogName,
                   capi::errorLogLine(data::dateTimeText(host_.clock.now()), code));

    // The PLCIs and NCCIs stay: the release below ends their connections.
    state_.cancelRequested = false;
    state_.resetDialogue();
    stopPrompt();
    state_.promptEchoPos = -1;
    state_.callPhase = CallPhase::Idle;
    // The release below ends every connection.
    clearingNccis_ = {};
    releasingPlcis_ = {};
    expectedEnds_ = {};
    activeRespOwed_ = false;

    driver_.release(applId_);
    uint32_t registered = driver_.registerApplication(kRegistration, applId_);
    bool end = false;
    if (registered == capi::kCapiOk) {
        templates_.setApplId(static_cast<uint16_t>(applId_));
        // Not through send(): the report never reports itself.
        end = driver_.putMessage(applId_, templates_.listenReq(capi::ListenMask::Calls)) !=
              capi::kCapiOk;
    } else {
        if (registered == capi::kCapiNotInstalled) {
            host_.shell.showMessage(kErrorCaption,
                                    "Die Treiberdatei 'capi2032.dll' ihrer ISDN-Karte ist nicht "
                                    "richtig installiert!",
                                    MessageIcon::Critical);
        }
        end = true;
    }
    if (end) {
        host_.shell.closeWindowsAndEnd();
    }
}

}  // namespace tellmaro::relay
