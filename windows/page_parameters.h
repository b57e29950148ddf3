// The settings window's "Parametry" page: the protection settings of the relay in edit boxes,
// read from and written to the relay, saved to and opened from a settings file.
//
// The conversions between record and boxes, the file and the caption are plain functions
// (settings_record.h, settings_file.h); this page holds the controls, posts the requests and
// shows what comes back. Hand-over of the record with the worker: settings_transactions.h.
#pragma once

#include <QColor>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "atomic_file.h"
#include "grid_profile.h"
#include "journal.h"
#include "journal_entry_keeper.h"
#include "settings_record.h"
#include "settings_transactions.h"
#include "setup_page.h"

class QButtonGroup;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

class PageParameters : public SetupPage, public nx480::ParameterWindow {
  Q_OBJECT
 public:
  explicit PageParameters(SetupFrame& frame);

  nx480::Request ReadParamsRequest;
  // Carries the record to write: filled only while no write is pending.
  nx480::RequestWith<nx480::SettingsWords> WriteParamsRequest;
  std::vector<nx480::RequestDecl> Requests() override;

  // The record behind the boxes; user-interface thread only.
  nx480::SettingsWords SettingsRecord{};
  QString SettingsFileName;  // the settings file last opened or saved
  bool Modified = false;

  void SettingsToBoxes() override;
  // Rebuilds SettingsRecord from the boxes; on a box without a valid number shows the box's
  // message in an error box and returns false, the record unchanged.
  bool BoxesToSettings();
  void ShowResult(nx480::Outcome outcome) override;

  void ApplyFeatures(const nx480::RelaySession& session) override;

  // Event handlers.
  void BoxExit(int box);  // a voltage or percent box was left
  void ButtonReadPClick();
  void ButtonWritePClick();
  void ButtonOpenClick();
  void ButtonSaveClick();
  // A settings backup of the change journal into the boxes, as "Otevři" takes a file's bytes;
  // the page then names no file (a save asks for one). Nothing goes to the relay.
  void OpenBackup(std::span<const uint8_t> bytes);
  // A settings backup of the change journal opened by its "Otevřít", its delays counted again
  // into the session's steps already: opened as OpenBackup opens it, the status line saying
  // in which firmware's steps the entry kept them and in which the boxes show them.
  void OpenJournalBackup(std::span<const uint8_t> bytes, const nx480::FirmwareFeatures& keptUnder);
  // A settings backup written back into the relay word for word: opened as OpenBackup opens it,
  // then written as "Zapiš" writes (the journal entry, with `description`, first; the read-back
  // after). False when the write was not posted (no relay, a write still in progress).
  bool WriteBackup(std::span<const uint8_t> bytes, nx480::JournalText description);
  // "Porovnej": the boxes (read as "Zapiš" reads them) against a settings file; the rows that
  // differ are marked on the page (kCompareColour, the file's value in the tooltip; the words no
  // box shows in LabelCompareWords) until they no longer differ, and listed with both values.
  void ButtonCompareClick();
  // "2 soubory": two settings files against each other, listed only; the page keeps its marks.
  void ButtonCompareFilesClick();
  // "Profil": a grid-code profile chosen from the user's profile folder; each row it names is
  // marked inside or outside its range (the caption in kInsideColour or kOutsideColour, the
  // range in its tooltip) and the status line counts the rows outside (the button's tooltip
  // keeps the count). Cancelling the dialog drops the profile.
  void ButtonProfileClick();
  // The profile "Profil" chose, while the page keeps it.
  const std::optional<nx480::GridProfile>& Profile() const { return profile_; }

  static inline const QColor kCompareColour{0xFF, 0xD0, 0x80};
  static inline const QColor kInsideColour{0x00, 0x80, 0x00};
  static inline const QColor kOutsideColour{0xC0, 0x00, 0x00};

  // The boxes by nx480::Box, and the label in front of each (the row caption, or "[%]" /
  // "t[s]").
  std::array<QLineEdit*, nx480::kBoxCount> Edit{};
  std::array<QLabel*, nx480::kBoxCount> Label{};
  QGroupBox* RadioGroupFaze = nullptr;
  QButtonGroup* FazeButtons = nullptr;
  QLabel* LabelLog = nullptr;
  QComboBox* ComboBoxLog = nullptr;
  QFrame* PanelNX480P = nullptr;
  QPushButton* ButtonReadP = nullptr;
  QPushButton* ButtonWriteP = nullptr;
  QLabel* LabelNX480P = nullptr;
  QFrame* PanelDisk = nullptr;
  QPushButton* ButtonOpen = nullptr;
  QPushButton* ButtonSave = nullptr;
  QLabel* LabelFile = nullptr;
  // In the free percent column of the frequency rows.
  QPushButton* ButtonCompare = nullptr;
  QPushButton* ButtonCompareFiles = nullptr;
  QPushButton* ButtonProfile = nullptr;
  // Under them, while "Porovnej" finds words that no box shows differing: their names on
  // kCompareColour, both values in the tooltip.
  QLabel* LabelCompareWords = nullptr;

  int FazeIndex() const;  // -1 while no item is selected
  void SetFazeIndex(int index);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // nx480::ParameterWindow
  void StoreParameterWords(size_t first, const uint16_t* words, size_t count) override;
  void StoreDifferences(const nx480::SettingsWords& written,
                        const nx480::SettingsWords& held) override;
  const nx480::SettingsWords& WriteHandOver() const override { return WriteParamsRequest.Data(); }
  // The change journal's entry of the write: kept before it goes out, or the user asked
  // whether to write without one ("Ne" preselected).
  bool JournalBefore(const nx480::SettingsWords& held,
                     const nx480::SettingsWords& toWrite) override;
  void JournalAfter(nx480::Outcome outcome, const nx480::SettingsWords& held) override;

  // The page's controls, in the order of its children: the rows of boxes with their captions
  // (returning the last row's y, the reconnection time's), the phase group, the recording
  // interval's list in the last row, the button panels and compare buttons; then the tab order
  // and the controls' connections.
  void Build();
  int BuildRows();
  void BuildPhaseGroup();
  void BuildLogList(int y);
  void BuildButtons();
  void ChainTabOrder();
  void ConnectControls();
  nx480::ParameterBoxes CollectBoxes() const;
  void ApplyBoxes(const nx480::ParameterBoxes& boxes);
  bool BuildRecord(nx480::SettingsWords& record);
  void MarkModified();
  // The user typed into a box or chose an item: the page's verdict ends (the profile's count
  // is shown again while a profile is checked).
  void UserEdited();
  // Refuses a request to the relay while none is connected (a paused worker would never serve
  // it): shows why and returns false.
  bool CheckConnected();
  // The record of an opened file or backup into the boxes, unmodified.
  void TakeOpened(const nx480::SettingsWords& record, const QString& fileName);

  // A settings file of exactly 48 bytes; else says why in an error box and returns false.
  bool LoadCompared(const QString& path, nx480::SettingsWords& record);
  // The record the boxes give, without a message; nullopt while a box holds no number.
  std::optional<nx480::SettingsWords> PageRecord() const;
  // The compare and profile marks recomputed from the boxes (and the profile's status line when
  // its summary changed).
  void Recheck();
  // The compare's mark of the carried words `rows` (which differ from compared_).
  void MarkWords(const std::vector<size_t>& rows, const nx480::SettingsWords& record,
                 const nx480::FirmwareFeatures& firmware);
  // The widgets that show a parameter (its box with the percent partner, the radio group, the
  // list) and its caption.
  std::vector<QWidget*> RowBoxes(const nx480::SettingsParameter& parameter) const;
  QWidget* RowCaption(const nx480::SettingsParameter& parameter) const;

  // What SettingsToBoxes showed of the rounded reconnection time, and whether the user picked
  // a recording interval since (see nx480::ParameterBoxes).
  nx480::ShownWord tRelShown_;
  bool logChosen_ = false;
  std::vector<std::string>
      differing_;         // what the last write read back otherwise, for its status text
  QString lastOpenName_;  // the open dialog starts with the name last chosen in it
  // The entry of the write in progress (between JournalBefore and JournalAfter) and the record
  // the write sends.
  JournalEntryKeeper journal_;
  nx480::SettingsWords entryWritten_{};
  // The description of the posted write's entry; no key: a write of the boxes.
  nx480::JournalText writeDescription_;

  std::optional<nx480::SettingsWords> compared_;  // the file "Porovnej" compares with
  std::optional<nx480::GridProfile> profile_;
  QString profileSummary_;     // the status text of the last check against profile_
  bool profileInside_ = true;  // ... and whether it found every row inside
  bool applying_ = false;      // ApplyBoxes is filling the boxes: no recheck per box
  QString lastCompareName_;
};
