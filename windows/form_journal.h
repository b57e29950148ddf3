// Journal window "Deník změn": the changes the tool made to relays, as the change journal keeps
// them on this PC (journal.h), newest first. Without "Všechna zařízení" the list holds the
// entries of the relay of the session (connected now, or last); with it, or while no relay has
// been identified yet, every relay's, with the serial number as a column. Below the list the
// selected entry's record: its description (what was asked and what came of it) and details in
// the window's language, its settings backup and what the change made of it side by side.
// "Otevřít" loads that backup into the settings window's "Parametry" boxes as "Otevři" loads a
// file (nothing is sent to the relay), or shows a clearing's backed-up event history in a
// window of its own, read-only. "Obnovit" first reads what the connected relay holds
// (JournalReadRequest) and asks, default No, listing the rows the restore would change with both
// values (and naming both relays for another relay's entry); "Ano" writes the backup back as
// "Zapiš" writes, a change journaled itself, its delays counted at the relay's time scale; in
// service mode a calibration entry's backup the same way. The list is read again at every show,
// when another relay is connected, and after every change the tool keeps in the journal.
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

#include "journal_changes.h"
#include "relay_window.h"
#include "request.h"

class QCheckBox;
class QDialog;
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
  // Takes a settings backup's bytes, their delays already in the session's steps, into the
  // "Parametry" page, which names `keptUnder`'s steps and the session's; shows the settings
  // window (set by the main window).
  std::function<void(std::span<const uint8_t> bytes, const nx480::FirmwareFeatures& keptUnder)>
      OpenSettingsBackup;
  // Writes a settings backup's bytes back into the relay (PageParameters::WriteBackup) with the
  // journal entry's description; false when nothing was posted (set by the main window).
  std::function<bool(std::span<const uint8_t> bytes, nx480::JournalText description)>
      RestoreSettingsBackup;
  // Writes a calibration backup back (PageCalibration::WriteBackup); false when nothing was
  // posted (set by the main window; service mode only).
  std::function<bool(const nx480::CalibrationWords& record, nx480::JournalText description)>
      RestoreCalibrationBackup;

  // What a restore replaces, read before it is asked for: the relay's settings (value 1) or
  // calibration (value 2), handed over in a synchronous step (TakeRelayRecord).
  nx480::Request JournalReadRequest;
  std::vector<nx480::RequestDecl> Requests() override;
  // A change was kept in the journal: the list is read again while the window shows.
  void JournalWritten();

  // ---- Handlers ----
  void FormShow() override;
  void CheckBoxAllClick();
  void ButtonOpenClick();
  void ButtonRestoreClick();
  void ButtonKonecClick();
  void GridSelectionChanged();

  // The entries listed, in the list's order (user-interface thread).
  const std::vector<nx480::JournalEntry>& Entries() const { return entries_; }
  // The window of a backed-up event history opened last ("Otevřít"); nullptr before.
  QDialog* HistoryBackupWindow() const { return historyWindow_; }

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
  // Shows a backed-up event history (the export's bytes) read-only.
  void ShowHistoryBackup(const nx480::JournalEntry& entry, const std::vector<uint8_t>& bytes);
  // Worker thread (the request's transaction), then a synchronous step: what the relay holds.
  void ReadRelayRecord(nx480::TModbus& link);
  void TakeRelayRecord(bool read);
  // After the relay's record was read: the question, then the write.
  void AskAndRestore();

  // A restore between "Obnovit" and its question: the entry, and the record to write.
  struct PendingRestore {
    nx480::JournalEntry entry;
    bool settings = true;
    nx480::SettingsWords record{};
    nx480::CalibrationWords calibration{};
    std::string relay;  // the session's relay when it was asked for
    // What the relay holds, from TakeRelayRecord on.
    nx480::SettingsWords held{};
    nx480::CalibrationWords heldCalibration{};
  };
  // A calibration restore whose serial number is not the relay's: the relay keeps its own
  // unless the user asks for the backup's (service mode, where calibration restores are).
  void ChooseSerialNumber(const nx480::CalibrationWords& held,
                          nx480::CalibrationWords& calibration);
  // The settings of a backup `bytes` of `entry`, their delays counted again from the steps of
  // the firmware the entry was made under into the session's; false after a message (titled
  // `title`) when the entry names no firmware or a delay does not fit.
  bool ConvertedSettings(const nx480::JournalEntry& entry, std::span<const uint8_t> bytes,
                         const QString& title, nx480::SettingsWords& record);
  std::optional<PendingRestore> pending_;
  // The worker's, until TakeRelayRecord.
  nx480::SettingsWords relaySettings_{};
  nx480::CalibrationWords relayCalibration_{};
  QDialog* historyWindow_ = nullptr;

  std::string root_;  // the journal's folder at the last refresh; empty when there is none
  std::vector<nx480::JournalEntry> entries_;
  bool allChosen_ = false;  // "Všechna zařízení" as the user left it
  std::string relayOf_;     // the relay of the session at the last refresh
};
