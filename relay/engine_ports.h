#pragma once
// What the engine needs of its host: the window timers, the wall clock, and
// the shell's tray icon, menu and message boxes. The desktop, the console
// program and the tests each provide their own.

#include <filesystem>
#include <string>
#include <string_view>

#include "data/date_time.h"

namespace tellmaro::relay {

// The timers of the hidden main window, with fixed intervals; only their
// enabled state changes. The host calls Engine::onTimer on each tick.
enum class TimerId {
    DispatcherPoll,  // 10 ms: fetches and dispatches one CAPI message
    KeepAlive,       // 8000 ms: keeps the seized line open while the caller dials
    PlaceCall,       // 100 ms: places the call to the confirmed number
    SeizeAgain,      // 100 ms: seizes the outgoing line anew
};

class Timers {
  public:
    virtual ~Timers() = default;
    // Enabling an enabled timer changes nothing; its period is not restarted.
    virtual void setTimerEnabled(TimerId timer, bool enabled) = 0;
    virtual bool timerEnabled(TimerId timer) const = 0;
};

class WallClock {
  public:
    virtual ~WallClock() = default;
    virtual data::LocalTime now() const = 0;
};

enum class MessageIcon { Critical, Exclamation };

// Tray icon files and their tool tips, in the shell's own texts.
struct TrayState {
    std::string_view iconFile;
    std::string_view toolTip;
};

inline constexpr TrayState kTrayStarting{"handyred.ico", "Der Tellmaro wird gestartet"};
inline constexpr TrayState kTrayReady{"handygrn.ico", "Tellmaro ist betriebsbereit"};
inline constexpr TrayState kTrayDeactivated{"handyred.ico", "Tellmaro ist deaktiviert"};
inline constexpr TrayState kTrayCallActive{"handyyel.ico", "Aktive Verbindung"};
inline constexpr TrayState kTraySuspendedForConfiguration{"handyred.ico",
                                                          "Wegen Konfiguration deaktiviert"};
inline constexpr TrayState kTraySuspendedForAnalysis{"handyred.ico",
                                                     "Wegen CAPI-Analyse daktiviert"};

// The two driver messages; the program names the library it loads.
inline constexpr std::string_view kDriverNotFound =
    "Die Treiberdatei 'libcapi20.so.3' ihrer ISDN-Karte wurde nicht gefunden!";
inline constexpr std::string_view kDriverNotInstalled =
    "Die Treiberdatei 'libcapi20.so.3' ihrer ISDN-Karte ist nicht richtig installiert!";

// A driver message with the driver's line on what was tried under it.
inline std::string driverMessage(std::string_view message, const std::string& setup) {
    return std::string(message) + (setup.empty() ? "" : "\n" + setup);
}

inline constexpr std::string_view kErrorCaption = " Tellmaro Fehler !!";
inline constexpr std::string_view kNoticeCaption = "Tellmaro Hinweis !!";

class ShellPort {
  public:
    virtual ~ShellPort() = default;
    // One running relay per user: false when another holds the lock.
    virtual bool claimSingleInstance(const std::filesystem::path& /*dataFolder*/) { return true; }
    // False when the desktop has no place for the icon; a shell without one accepts.
    virtual bool addTray(TrayState) { return true; }
    virtual void setTray(TrayState state) = 0;
    // The four entries "&Aktiviert", "Analysiere &CAPI", "&Telefonbuch" and
    // "Ein&stellungen"; "&Ende" is never disabled.
    virtual void setConfigurationMenuEnabled(bool enabled) = 0;
    // The check mark of "&Aktiviert": the user's choice to have the relay on.
    virtual bool relayActivated() const = 0;
    // Sets that check mark, where the relay cannot follow the user's choice.
    // A shell without the menu has none to set.
    virtual void setRelayActivated(bool) {}
    // Modal; timers keep running while it is open. Texts are UTF-8.
    virtual void showMessage(std::string_view caption, std::string_view text, MessageIcon icon) = 0;
    // Closes the settings dialog, the splash and analysis windows and the
    // main window, which ends the program through its normal shutdown.
    virtual void closeWindowsAndEnd() = 0;
    // For a first start, start-up going on behind it; false for a shell without one.
    virtual bool openSettings() { return false; }
    // A stop signal that came while the engine was busy; "&Ende" shuts it down at once.
    virtual bool stopRequested() const { return false; }
};

}  // namespace tellmaro::relay
