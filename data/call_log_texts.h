#pragma once
// The fixed texts of the call log, as UTF-8. The labels are padded so that
// their colons line up: call-level labels start in the first column, those
// of a dialled call are indented by three blanks.

#include <string_view>

namespace tellmaro::data::call_log_texts {

inline constexpr std::string_view kCaller = "Anrufende Nummer       : ";
inline constexpr std::string_view kCallTime = "Datum/Uhrzeit          : ";
inline constexpr std::string_view kRefusedCaller =
    "Abbruch, Grund         : Nicht registrierte Handynummer";
inline constexpr std::string_view kDialledNumber = "   Gewählte Nummer     : ";
inline constexpr std::string_view kConversationStart = "   Beginn des Gesprächs: ";
inline constexpr std::string_view kConversationEnd = "   Ende des Gesprächs  : ";
inline constexpr std::string_view kConversationDuration = "   Gesprächsdauer      : ";
inline constexpr std::string_view kConnectionEnd = "Ende der Verbindung    : ";
inline constexpr std::string_view kConnectionDuration = "Verbindungsdauer       : ";
inline constexpr std::string_view kCancelledByMobile =
    "   Abbruch, Grund      : Abbruch durch den Handybenutzer";
inline constexpr std::string_view kNotReachable =
    "   Abbruch, Grund      : Der Angerufene ist nicht erreichbar";
inline constexpr std::string_view kMobileHungUp =
    "   Abbruch, Grund      : Handybenutzer hat aufgelegt";

// Seconds units: the conversation, and a connection whose outgoing leg ended
// last, write " s"; a connection whose mobile leg ended last writes "s".
inline constexpr std::string_view kSecondsSpaced = " s";
inline constexpr std::string_view kSecondsUnspaced = "s";

inline constexpr std::string_view kLineEnd = "\r\n";

}  // namespace tellmaro::data::call_log_texts
