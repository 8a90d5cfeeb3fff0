#include "dialogs/log_file_dialog.h"

#include <QFileDialog>
#include <QStringList>

namespace tellmaro::dialogs {

std::optional<QString> QtLogFileDialog::askForLogFile(QWidget* parent, const QString& folder) {
    QFileDialog dialog(parent);
    // Modal to the settings dialog only, so the tray menu stays reachable.
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // Logging appends to an existing file, so choosing one is no overwrite.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    // Qt's own dialog, whose texts are German with Qt's translations; a
    // desktop's dialog would speak the session's language.
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setNameFilters({QStringLiteral("Protokoll (*.log)"), QStringLiteral("Text (*.txt)"),
                           QStringLiteral("Alle Dateien (*.*)")});
    dialog.setDirectory(folder);
    dialog.selectFile(QStringLiteral("Handy.log"));
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty() || chosen.first().isEmpty()) {
        return std::nullopt;
    }
    return chosen.first();
}

}  // namespace tellmaro::dialogs
