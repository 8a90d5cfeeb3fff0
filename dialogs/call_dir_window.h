#pragma once
// "Kurzwahl Telefonbuch": the speed-dial phone book in a grid, with new,
// edit and delete. While it is open the relay is suspended; Ok saves the
// list to "tellmaro.dir", Abbrechen reads it back from there.

#include <QPointer>
#include <QWidget>
#include <cstdint>

#include "relay/engine.h"
#include "relay/engine_ports.h"

class QPushButton;
class QTableWidget;

namespace tellmaro::dialogs {

class CallDataDialog;

class CallDirWindow : public QWidget {
    Q_OBJECT

  public:
    // Construction is the window's opening: it suspends the relay and fills
    // the grid. Closing it, however that happens, resumes the relay. Each
    // opening needs a new window (e.g. with Qt::WA_DeleteOnClose).
    CallDirWindow(relay::Engine& engine, relay::Store& store, relay::ShellPort& shell,
                  QWidget* parent = nullptr);

    // Refills the grid from the phone book in memory.
    void redraw();

    // The entry BTNedit and BTNdel act on: 1..N, or 0 when none is selected.
    int16_t selectedEntry() const;
    void selectEntry(int16_t index);

    QTableWidget* grid() const { return grid_; }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void prepare();
    void showEntryDialog(int16_t editIndex);
    void deleteSelected();
    void saveAndClose();
    void reloadAndClose();

    relay::Engine& engine_;
    relay::Store& store_;
    relay::ShellPort& shell_;
    // The list as last read or saved: what Abbrechen goes back to when the
    // file cannot be read.
    data::PhoneBook opened_;
    QPointer<CallDataDialog> entryDialog_;
    bool resumed_ = false;

    QTableWidget* grid_;
    QPushButton* newButton_;
    QPushButton* editButton_;
    QPushButton* deleteButton_;
    QPushButton* okButton_;
    QPushButton* cancelButton_;
};

}  // namespace tellmaro::dialogs
