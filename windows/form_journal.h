// Journal window "Deník změn": the changes the tool made to relays, as the change journal keeps
// them on this PC (journal.h), newest first. Without "Všechna zařízení" the list holds the
// entries of the relay of the session (connected now, or last); with it, or while no relay has
// been identified yet, every relay's, with the serial number as a column. Below the list the
// selected entry's record, its settings backup decoded. "Otevřít" loads that backup into the
// settings window's "Parametry" boxes as "Otevři" loads a file; nothing is sent to the relay.
// "Obnovit" writes that backup back into the connected relay as "Zapiš" writes, a change
// journaled itself, its delays counted at the relay's time scale; in service mode a calibration
// entry's backup too. An entry of another relay only after a question naming both.
// The list is read again at every show and when another relay is connected.
//
// What the list and the record say is decided in records/journal_view.h.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "journal.h"
#include "relay_window.h"

class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;

class JournalWindow : public RelayWindow {
  Q_OBJECT
 public:
  explicit JournalWindow(QWidget* parent = nullptr);

  // The environment the journal's folder is found from (JournalRoot); the process's unless
  // replaced.
  nx480::EnvironmentLookup Environment;
  // Takes a settings backup's bytes into the "Parametry" page and shows the settings window
  // (set by the main window).
  std::function<void(std::span<const uint8_t> bytes)> OpenSettingsBackup;
  // Writes a settings backup's bytes back into the relay (PageParameters::WriteBackup) with the
  // journal entry's description; false when nothing was posted (set by the main window).
  std::function<bool(std::span<const uint8_t> bytes, std::string description)>
      RestoreSettingsBackup;
  // Writes a calibration backup back (PageCalibration::WriteBackup); false when nothing was
  // posted (set by the main window; service mode only).
  std::function<bool(const nx480::CalibrationWords& record, std::string description)>
      RestoreCalibrationBackup;

  // ---- Handlers ----
  void FormShow() override;
  void CheckBoxAllClick();
  void ButtonOpenClick();
  void ButtonRestoreClick();
  void ButtonKonecClick();
  void GridSelectionChanged();

  // The entries listed, in the list's order (user-interface thread).
  const std::vector<nx480::JournalEntry>& Entries() const { return entries_; }

  // ---- Controls ----
  QCheckBox* CheckBoxAll = nullptr;
  QLabel* LabelRelay = nullptr;
  QTableWidget* StringGridJournal = nullptr;
  QPlainTextEdit* MemoEntry = nullptr;
  QPushButton* ButtonOpen = nullptr;
  QPushButton* ButtonRestore = nullptr;
  QPushButton* ButtonKonec = nullptr;
  // Why the list is empty.
  QLabel* LabelState = nullptr;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void SessionChanged() override;
  // Reads the list again; the selected entry stays selected while it is listed.
  void Refresh();
  // The relay whose entries are listed; nothing: every relay's.
  std::optional<int32_t> ListedRelay() const;
  const nx480::JournalEntry* Selected() const;
  // The selected entry's backup `name`, or nothing after a message.
  std::optional<std::vector<uint8_t>> SelectedBackup(std::string_view name);
  // Whether the selected entry keeps a calibration that this session can write back.
  bool CalibrationRestorable(const nx480::JournalEntry* entry) const;

  std::string root_;  // the journal's folder at the last refresh; empty when there is none
  std::vector<nx480::JournalEntry> entries_;
  bool allChosen_ = false;  // "Všechna zařízení" as the user left it
  std::string relayOf_;     // the relay of the session at the last refresh
};
