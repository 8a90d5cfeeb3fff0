#pragma once
// The call-through engine: the CAPI dispatcher and every handler of the
// relayed call, the voice prompts, the supervision timers and the error
// report, and the start-up that brings them up. One object owns the one
// relay call state; the driver, the timers, the clock, the shell, the files
// and the program directory are given to it.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

#include "capi/capi_driver.h"
#include "capi/data_b3_guard.h"
#include "capi/message_header.h"
#include "capi/message_templates.h"
#include "capi/parameter_records.h"
#include "relay/engine_ports.h"
#include "relay/prompt_file.h"
#include "relay/relay_state.h"
#include "relay/store.h"

namespace tellmaro::relay {

struct EngineHost {
    capi::CapiDriver& driver;
    Timers& timers;
    const WallClock& clock;
    ShellPort& shell;
    Store& store;
    // The voice prompts and pictures; may be read-only.
    std::filesystem::path programDir;
};

inline constexpr capi::RegisterParams kRegistration{3072, 2, 7, 2048};

// How start-up ended; every outcome but the first two leaves the engine shut down.
enum class StartUpOutcome {
    Running,        // listening, or behind the settings dialog a first start opened
    Stopped,        // a driver error stopped it; the report registered afresh, nothing polls
    NotConfigured,  // no settings or no mobile number, and no dialog to enter them
    TrayRefused,    // the desktop has no place for the icon; nothing said yet
    Failed,         // another instance runs, no driver, or the error report ended it; said
    EndRequested,   // "&Ende" or a stop signal came while a step showed a message or waited
};

constexpr bool runsOn(StartUpOutcome outcome) {
    return outcome == StartUpOutcome::Running || outcome == StartUpOutcome::Stopped;
}

class Engine {
  public:
    explicit Engine(EngineHost host);
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // One tick of a window timer.
    void onTimer(TimerId timer);

    // The single-instance rule, the driver's checks, the tray icon, the
    // registration, the files, and listening.
    StartUpOutcome startUp();
    // Releases the application and closes every file, once. Afterwards the
    // engine no longer talks to the driver: windows closed after it leave it alone.
    void shutdown();

    // --- switching the relay on and off
    // "&Aktiviert" was toggled; `activated` is its new check mark.
    void activationChanged(bool activated);
    // A configuration or analysis window opens: stop listening, show
    // `reason` in the tray, disable the configuration entries, close the
    // call log. False when the listen request failed (reported): the window
    // then opens without the rest of this.
    bool suspendRelay(TrayState reason);
    // That window closes: back to listening if "&Aktiviert" is checked,
    // deactivated otherwise.
    void resumeRelay();

    // The error report for a failed driver call.
    void reportCapiError(uint32_t code);

    const RelayState& state() const { return state_; }
    // Without a number the relay serves nobody and stays switched off; the
    // first number entered switches it on.
    void setRegisteredMobileNumber(std::string digits);
    uint32_t applId() const { return applId_; }
    const std::filesystem::path& programDir() const { return host_.programDir; }
    capi::DataB3Guard& driver() { return driver_; }

  private:
    using Handler = void (Engine::*)();
    struct DispatchRow {
        capi::Command command;
        Handler onConf;
        Handler onOther;
    };
    static const DispatchRow kDispatchTable[];

    // dispatcher
    void dispatcherTick();
    void fetchMessage();
    Handler selectHandler() const;
    bool takeMessage();  // handler contract steps 1 and 2
    void consumeOnly();
    // Handler contract steps 1 to 3: take the message, copy its parameters.
    template <typename Record>
    bool take(Record& record) {
        if (!takeMessage()) {
            return false;
        }
        record.fill(rxMessage_);
        return true;
    }

    // sending
    bool send(capi::MessageTemplates::Bytes message);  // false after an error report
    void sendDisconnectReq(uint32_t plci);
    void sendDisconnectB3Req(uint32_t ncci);

    // incoming call and call-back
    void onConnectInd();
    void onConnectConf();
    void onConnectActiveInd();
    void takeOrRefuseCall(bool accepted, std::string_view callerDigits, uint32_t plci);
    void callBack();

    // dialogue
    void onFacilityInd();
    void onFacilityConf();
    void storeKeys(std::span<const uint8_t> keys);
    char lastKey() const;
    bool confirmInDialogue();  // true when it has answered the indication
    void dial();
    void cancelOutgoingCall();

    // voice prompts
    void startPrompt(std::string_view fileName);
    void stopPrompt();
    void promptStep(const capi::DataB3IndParams& block);
    void chooseEchoPrompt();

    // B-channel relay
    void onConnectB3Ind();
    void onConnectB3Conf();
    void onConnectB3ActiveInd();
    void onDataB3Ind();
    void onDataB3Conf();
    void onResetB3Ind();
    bool isMobileLeg(uint32_t ncci) const;

    // teardown
    void onDisconnectB3Ind();
    void calledPartysB3Ended();
    void mobileCallerHungUp();
    void onDisconnectB3Conf();
    void onDisconnectInd();
    void disconnectIndByPhase(uint32_t plci, uint16_t reason);
    void enterReadyState();
    // Sends DISCONNECT_B3_REQ and remembers the connection as clearing:
    // nothing more is sent into it until its DISCONNECT_B3_IND. A leg whose
    // address is already 0 has nothing left to clear.
    void clearB3(capi::DisconnectB3ReqNumber number, uint32_t ncci);
    bool clearing(uint32_t ncci) const;
    // Sends DISCONNECT_REQ unless the call is gone (PLCI 0) or its release
    // is already under way.
    void releaseCall(capi::DisconnectReqNumber number, uint32_t plci);
    bool releasing(uint32_t plci) const;
    // A connection the driver reports anew may carry the address of one
    // whose end never came; what was noted about that one is dropped.
    void addressInUse(uint32_t address);
    // Connections whose end is expected and needs no reaction: refused
    // callers, and stray seizures released while idle.
    void expectEndOf(uint32_t plci);
    bool endWasExpected(uint32_t plci);

    // The call state the error report leaves: idle, nothing remembered of
    // connections that the release ends.
    void dropCall();

    // supervision timers
    // The call to place and the line to seize again wait for their timer's
    // tick; once the caller is gone or the call dropped, neither is wanted.
    void dropPendingCallSteps();
    void keepSeizedLineAlive();  // TimerId::KeepAlive
    void placeConfirmedCall();   // TimerId::PlaceCall
    void seizeLineAgain();       // TimerId::SeizeAgain
    void schedule(TimerId timer);

    // switching on without a registered mobile number: the check mark goes
    // off again, the relay stays deactivated and the user is told why
    bool heldOffWithoutMobileNumber();

    // start-up
    // Registers and reads the driver version; false after an error report.
    bool registerApplication();
    // Sends LISTEN_REQ; false after an error report.
    bool listen(capi::ListenMask mask);
    // After a step that may have ended the program (the error report gave
    // up, or "&Ende" or a stop signal came meanwhile): how, and shut down.
    std::optional<StartUpOutcome> endedDuringStartUp();

    // call log
    void logConnectionEnd(data::ConnectionEndUnit unit);

    EngineHost host_;
    capi::DataB3Guard driver_;
    capi::MessageTemplates templates_;

    // registration and receive state of the dispatcher
    uint32_t applId_ = 0;
    bool messagePending_ = false;
    capi::MessageHeader rxHeader_{};
    std::span<const uint8_t> rxMessage_;
    bool dispatchBusy_ = false;
    bool shutDown_ = false;
    // Set by the error report: the handler or timer that hit the error
    // sends nothing more, since its addresses belong to the released
    // application.
    bool abandoned_ = false;
    // Set once the error report ends the program: no tick does anything from then on, not even
    // one while its message box is open (it would take the mark above from the handler that hit
    // the error, whose next send would then be reported again).
    bool ending_ = false;

    RelayState state_;
    PromptFile promptFile_;
    PromptRecord promptBlock_{};
    std::array<uint32_t, 4> expectedEnds_{};
    std::array<uint32_t, 2> clearingNccis_{};
    std::array<uint32_t, 4> releasingPlcis_{};
    // The called party's CONNECT_B3_ACTIVE_IND waits for the mobile leg's
    // reset before it is answered.
    bool activeRespOwed_ = false;

    // The store's, as the call handlers use them.
    Store& store_;
    const data::SettingsRecord& settings_;
    const data::PhoneBook& phoneBook_;
    data::CallLog& callLog_;
    std::string registeredMobileNumber_;

    // one parameter record per handler
    capi::ConnectIndParams connectInd_;
    capi::ConnectConfParams connectConf_;
    capi::ConnectActiveIndParams connectActiveInd_;
    capi::ConnectB3IndParams connectB3Ind_;
    capi::ConnectB3ConfParams connectB3Conf_;
    capi::ConnectB3ActiveIndParams connectB3ActiveInd_;
    capi::DisconnectIndParams disconnectInd_;
    capi::DisconnectB3IndParams disconnectB3Ind_;
    capi::DisconnectB3ConfParams disconnectB3Conf_;
    capi::DataB3IndParams dataB3Ind_;
    capi::DataB3ConfParams dataB3Conf_;
    capi::FacilityIndParams facilityInd_;
    capi::FacilityConfParams facilityConf_;
    capi::ResetB3IndParams resetB3Ind_;
};

}  // namespace tellmaro::relay
