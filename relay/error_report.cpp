// The one reaction to a failed driver call: log it, drop the call, register
// afresh and listen again, or end the program.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "capi/capi_info.h"
#include "data/windows1252.h"
#include "relay/engine.h"

namespace tellmaro::relay {

namespace {

constexpr const char* kErrorLogName = "error.log";

}  // namespace

// The caller goes on whether or not the line could be written. Like every
// file of the program, error.log is Windows-1252, and the user's alone.
void Engine::appendErrorLog(std::string_view utf8Line) {
    std::string line = data::utf8ToWindows1252(utf8Line).text.value_or(std::string(utf8Line));
    line += "\r\n";
    const int fd = ::open((dataDir() / kErrorLogName).c_str(),
                          O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        return;
    }
    size_t done = 0;
    while (done < line.size()) {
        const ssize_t written = ::write(fd, line.data() + done, line.size() - done);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            break;
        }
        done += static_cast<size_t>(written);
    }
    ::close(fd);
}

void Engine::logFailure(std::string_view text) {
    appendErrorLog(data::dateTimeText(host_.clock.now()) + " " + std::string(text));
}

void Engine::dropCall() {
    // The PLCIs and NCCIs stay: the release ends their connections.
    state_.cancelRequested = false;
    state_.resetDialogue();
    stopPrompt();
    state_.promptEchoPos = -1;
    state_.callPhase = CallPhase::Idle;
    clearingNccis_ = {};
    releasingPlcis_ = {};
    expectedEnds_ = {};
    activeRespOwed_ = false;
    dropPendingCallSteps();
}

void Engine::reportCapiError(uint32_t code) {
    abandoned_ = true;
    appendErrorLog(capi::errorLogLine(data::dateTimeText(host_.clock.now()), code));
    dropCall();

    driver_.release(applId_);
    uint32_t registered = driver_.registerApplication(kRegistration, applId_);
    bool end = false;
    if (registered == capi::kCapiOk) {
        templates_.setApplId(static_cast<uint16_t>(applId_));
        // Not through send(): the report never reports itself.
        end = driver_.putMessage(applId_, templates_.listenReq(capi::ListenMask::Calls)) !=
              capi::kCapiOk;
    } else {
        ending_ = true;
        // What was tried and what failed: libcapi20 says only "not installed".
        std::string setup = driver_.describeSetup();
        if (!setup.empty()) {
            logFailure(setup);
        }
        if (registered == capi::kCapiNotInstalled) {
            host_.shell.showMessage(kErrorCaption, driverMessage(kDriverNotInstalled, setup),
                                    MessageIcon::Critical);
        }
        end = true;
    }
    if (end) {
        ending_ = true;
        host_.shell.closeWindowsAndEnd();
    }
}

}  // namespace tellmaro::relay
