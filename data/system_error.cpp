#include "data/system_error.h"

#include <cerrno>
#include <string_view>
#include <utility>

namespace tellmaro::data {

namespace {

// glibc's own German wording where it has one.
constexpr std::pair<int, std::string_view> kTexts[] = {
    {EPERM, "Die Operation ist nicht erlaubt"},
    {ENOENT, "Datei oder Verzeichnis nicht gefunden"},
    {EIO, "Eingabe-/Ausgabefehler"},
    {ENXIO, "Gerät oder Adresse nicht gefunden"},
    {ENOMEM, "Nicht genügend Hauptspeicher verfügbar"},
    {EACCES, "Keine Berechtigung"},
    {EBUSY, "Das Gerät oder die Ressource ist belegt"},
    {EEXIST, "Die Datei existiert bereits"},
    {EXDEV, "Ungültiger Link über Gerätegrenzen hinweg"},
    {ENODEV, "Kein passendes Gerät gefunden"},
    {ENOTDIR, "Ist kein Verzeichnis"},
    {EISDIR, "Ist ein Verzeichnis"},
    {EINVAL, "Das Argument ist ungültig"},
    {ENFILE, "Zu viele offene Dateien im System"},
    {EMFILE, "Zu viele offene Dateien"},
    {ETXTBSY, "Das Programm kann nicht geschrieben werden, während es läuft"},
    {EFBIG, "Die Datei ist zu groß"},
    {ENOSPC, "Auf dem Gerät ist kein Speicherplatz mehr verfügbar"},
    {EROFS, "Das Dateisystem ist nur lesbar"},
    {EMLINK, "Zu viele Links"},
    {ENAMETOOLONG, "Der Dateiname ist zu lang"},
    {ELOOP, "Zu viele Ebenen aus symbolischen Links"},
    {EOVERFLOW, "Der Wert ist für den definierten Datentyp zu groß"},
    {ESTALE, "Veraltete NFS-Dateizugriffsnummer"},
    {EDQUOT, "Der zugewiesene Plattenplatz (Quota) ist überschritten"},
};

}  // namespace

std::string systemErrorText(int error) {
    for (const auto& [code, text] : kTexts) {
        if (code == error) {
            return std::string(text);
        }
    }
    return "Systemfehler " + std::to_string(error);
}

}  // namespace tellmaro::data
