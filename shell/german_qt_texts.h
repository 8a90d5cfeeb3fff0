#pragma once
// Qt's own texts in German, as every text of the program is, whatever the
// session's language: the file dialog, a text box's context menu.

namespace tellmaro::shell {

// Makes German the default locale and loads Qt's German translations (the
// Debian package qt6-translations-l10n) into the running application. False
// when they are not installed: Qt's own texts then stay English.
bool installGermanQtTexts();

}  // namespace tellmaro::shell
