#include "dialogs/call_dir_window.h"

#include <QCloseEvent>
#include <QHeaderView>
#include <QPushButton>
#include <QShortcut>
#include <QTableWidget>
#include <algorithm>
#include <cmath>
#include <string>

#include "data/windows1252.h"
#include "dialogs/call_data_dialog.h"

#include "dialogs/named.h"
#include "ui/twips.h"

namespace tellmaro::dialogs {

namespace {

using ui::place;
using ui::px;

QPushButton* button(const char* objectName, const QString& caption, QWidget* parent) {
    auto* b = named(new QPushButton(caption, parent), objectName);
    b->setAutoDefault(false);
    return b;
}

QTableWidgetItem* cell(const std::string& windows1252) {
    auto* item = new QTableWidgetItem(QString::fromStdString(data::windows1252ToUtf8(windows1252)));
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    return item;
}

}  // namespace

CallDirWindow::CallDirWindow(relay::Engine& engine, relay::Store& store, relay::ShellPort& shell,
                             QWidget* parent)
    : QWidget(parent),
      engine_(engine),
      store_(store),
      shell_(shell),
      opened_(store.phoneBook()),
      grid_(new QTableWidget(0, 3, this)),
      newButton_(button("BTNnew", QStringLiteral("&Neu"), this)),
      editButton_(button("BTNedit", QStringLiteral("&Bearbeiten"), this)),
      deleteButton_(button("BTNdel", QStringLiteral("&Löschen"), this)),
      okButton_(button("BTNok", QStringLiteral("&Ok"), this)),
      cancelButton_(button("BTNcancel", QStringLiteral("&Abbrechen"), this)) {
    setObjectName(QStringLiteral("FRMcalldir"));
    setWindowTitle(QStringLiteral("Kurzwahl Telefonbuch"));
    setFixedSize(px(7575), px(3495));

    grid_->setObjectName(QStringLiteral("FXGRcalldir"));
    grid_->setHorizontalHeaderLabels(
        {QStringLiteral("Kurzwahl"), QStringLiteral("Nummer"), QStringLiteral("Bemerkung")});
    grid_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // Headers that turn bold with a selected row would outgrow "Kurzwahl"'s column.
    grid_->horizontalHeader()->setHighlightSections(false);
    grid_->verticalHeader()->hide();
    grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid_->setSelectionMode(QAbstractItemView::SingleSelection);
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);

    place(grid_, 360, 240, 5295, 2175);
    place(newButton_, 480, 2760, 1215, 375);
    place(editButton_, 2400, 2760, 1215, 375);
    place(deleteButton_, 4320, 2760, 1215, 375);
    place(okButton_, 6000, 240, 1215, 375);
    place(cancelButton_, 6000, 960, 1215, 375);

    setTabOrder(grid_, newButton_);
    setTabOrder(newButton_, editButton_);
    setTabOrder(editButton_, deleteButton_);
    setTabOrder(deleteButton_, okButton_);
    setTabOrder(okButton_, cancelButton_);
    grid_->setFocus();

    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, cancelButton_, &QPushButton::click);

    connect(newButton_, &QPushButton::clicked, this, [this] { showEntryDialog(0); });
    connect(editButton_, &QPushButton::clicked, this, [this] {
        if (int16_t index = selectedEntry(); index != 0) {
            showEntryDialog(index);
        }
    });
    connect(deleteButton_, &QPushButton::clicked, this, &CallDirWindow::deleteSelected);
    connect(okButton_, &QPushButton::clicked, this, &CallDirWindow::saveAndClose);
    connect(cancelButton_, &QPushButton::clicked, this, &CallDirWindow::reloadAndClose);

    prepare();
}

void CallDirWindow::prepare() {
    // A refused listen request has been reported; the window then opens
    // bare, as the relay was never suspended.
    if (!engine_.suspendRelay(relay::kTraySuspendedForConfiguration)) {
        return;
    }
    grid_->setToolTip(
        QStringLiteral(" Liste aller zur Verfügung stehender Kurzwahltelefonnummern"));
    newButton_->setToolTip(QStringLiteral("Fügt neue Telefonnummer hinzu"));
    editButton_->setToolTip(QStringLiteral("Verändern des derzeit markierten Telefonbucheintrags"));
    deleteButton_->setToolTip(
        QStringLiteral("Löschen des derzeit markierten Telefonbucheintrages"));

    grid_->setColumnWidth(0, px(760));
    grid_->setColumnWidth(1, px(1600));
    grid_->setColumnWidth(2, px(2670));
    // Stripes keep a long list readable.
    grid_->setAlternatingRowColors(true);
    redraw();
}

void CallDirWindow::redraw() {
    const data::PhoneBook& book = store_.phoneBook();
    const int16_t count = book.callDirCount();
    const int16_t selected = selectedEntry();

    // Grid row r shows entry r + 1: the header is not a row of the table.
    grid_->setRowCount(count);
    for (int16_t i = 1; i <= count; ++i) {
        const data::CallDirEntry& entry = book.callDir()[static_cast<size_t>(i)];
        grid_->setItem(i - 1, 0, cell(entry.shortdial));
        grid_->setItem(i - 1, 1, cell(entry.number));
        grid_->setItem(i - 1, 2, cell(entry.comment));
    }
    editButton_->setEnabled(count > 0);
    deleteButton_->setEnabled(count > 0);
    // An empty list has nothing to highlight.
    grid_->setSelectionMode(count > 0 ? QAbstractItemView::SingleSelection
                                      : QAbstractItemView::NoSelection);
    if (count > 0) {
        // Like a grid whose current row never leaves the list: the same
        // place as before, or the last entry after the end was deleted.
        selectEntry(std::clamp<int16_t>(selected == 0 ? 1 : selected, 1, count));
    }
}

int16_t CallDirWindow::selectedEntry() const {
    const int row = grid_->currentRow();
    if (row < 0 || row >= store_.phoneBook().callDirCount()) {
        return 0;
    }
    return static_cast<int16_t>(row + 1);
}

void CallDirWindow::selectEntry(int16_t index) {
    grid_->selectRow(index - 1);
}

void CallDirWindow::showEntryDialog(int16_t editIndex) {
    // It lives until it is closed, or with this window when "&Ende" closes
    // that first; open() makes it modal to this window only, so that the tray
    // menu and its "&Ende" stay reachable.
    entryDialog_ = new CallDataDialog(store_.phoneBook(), shell_, editIndex, this);
    entryDialog_->setAttribute(Qt::WA_DeleteOnClose);
    connect(entryDialog_, &CallDataDialog::entryStored, this, &CallDirWindow::redraw);
    entryDialog_->open();
}

void CallDirWindow::deleteSelected() {
    if (const int16_t index = selectedEntry(); index != 0 && store_.phoneBook().remove(index)) {
        redraw();
    }
}

void CallDirWindow::saveAndClose() {
    // When the file cannot be written, the old one and the edits in memory
    // stay: the user can try again or drop them with Abbrechen.
    if (store_.savePhoneBook()) {
        close();
    }
}

void CallDirWindow::reloadAndClose() {
    // A file that let us down since it was last read or written leaves the
    // list it held then, for speed dial and for the next OK to write back.
    store_.reloadPhoneBook(opened_);
    close();
}

void CallDirWindow::closeEvent(QCloseEvent* event) {
    // Only "&Ende" closes this window while its entry dialog is open,
    // perhaps from the event loop of a message box the dialog shows: the
    // dialog is hidden, and deleted only with this window.
    if (entryDialog_) {
        entryDialog_->setAttribute(Qt::WA_DeleteOnClose, false);
        entryDialog_->close();
    }
    if (!resumed_) {
        resumed_ = true;
        engine_.resumeRelay();
    }
    QWidget::closeEvent(event);
}

}  // namespace tellmaro::dialogs
