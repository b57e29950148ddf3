// Record window "Protokol": the commissioning record of the connected relay as a PDF
// (records/commissioning_record.h). The technician types the site and the name, may name a
// grid-code profile (a name from the profile folders or a path, "Vybrat" picks a file), and
// "Vytvořit" asks for the PDF's name (in the user's documents folder unless a record was saved
// elsewhere since the window was made), reads what the record needs from the relay in one
// request (link/record_transaction.h) and writes the record when every part has arrived; the
// status names the file and the rows outside the profile. A profile with errors stops it before
// anything is sent; a part the relay does not deliver, or a file that cannot be written, leaves
// no PDF and says which. The profile chosen on the "Parametry" page comes into the profile box
// when the window is shown; site and technician are remembered between sessions
// (records/record_defaults.h).
#pragma once

#include <QString>
#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "commissioning_record.h"
#include "grid_profile.h"
#include "journal.h"
#include "record_defaults.h"
#include "record_transaction.h"
#include "relay_window.h"

class QLabel;
class QLineEdit;
class QPushButton;

class RecordForm : public RelayWindow, public nx480::RecordWindow {
  Q_OBJECT
 public:
  explicit RecordForm(QWidget* parent = nullptr);

  // The environment the journal's and the profiles' folders are found from; the process's
  // unless replaced.
  nx480::EnvironmentLookup Environment;

  // The path of the profile chosen on the "Parametry" page, nullopt while it has none (set by
  // the main window). Taken into the profile box on show and when the window becomes active
  // if it changed since last taken; dropped there, it leaves the box if the box still shows it.
  std::function<std::optional<QString>()> ParametersProfile;

  nx480::Request RecordRequest;
  std::vector<nx480::RequestDecl> Requests() override;

  // ---- Handlers ----
  void FormShow() override;
  void ButtonChooseClick();
  void ButtonCreateClick();
  void ButtonKonecClick();

  // Whether a read is under way (from "Vytvořit" to the end of the read, or a disconnect).
  bool Reading() const { return reading_; }

  // ---- Controls ----
  QLineEdit* EditSite = nullptr;
  QLineEdit* EditTechnician = nullptr;
  QLineEdit* EditProfile = nullptr;
  QPushButton* ButtonChoose = nullptr;
  QPushButton* ButtonCreate = nullptr;
  QPushButton* ButtonKonec = nullptr;
  QLabel* LabelMsg = nullptr;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void SessionChanged() override;
  // nx480::RecordWindow
  double PcNow() const override;
  bool RecordWanted() const override { return wanted_.load(std::memory_order_acquire); }
  void StoreClock(double relayTime, double pcTime) override;
  void StoreSettings(const nx480::SettingsWords& words) override;
  void StoreCalibration(const nx480::CalibrationWords& words) override;
  void StoreHistoryRecord(const nx480::HistoryRecord& record) override;
  void RecordDone(const nx480::RecordEnd& end) override;

  // The profile the box names, loaded; nullopt with nothing to check. False after a message
  // when it cannot be found or has errors.
  bool LoadProfile(std::optional<nx480::GridProfile>& profile);
  void ShowStatus(const QString& text, bool error, bool beep = true);
  void TakeParametersProfile();
  // Site and technician into the configuration when they differ from what it holds; a file
  // that cannot be written is said.
  void KeepDefaults();
  // Where the save dialog starts: the folder of the last record saved, else the user's
  // documents folder (the home folder while it does not exist).
  QString SaveFolder() const;

  // The record being read (user-interface thread; filled by the steps) and the PDF it goes to;
  // empty while none is read.
  nx480::CommissioningRecord record_;
  QString target_;
  bool reading_ = false;
  // Site and technician as the configuration holds them, read on the first show.
  std::optional<nx480::RecordDefaults> defaults_;
  std::optional<QString> takenProfile_;  // the "Parametry" page's profile last taken
  QString lastFolder_;                   // where the last record was saved
  // Whether the read in progress is still wanted: cleared when the window closes, asked by the
  // worker between its exchanges.
  std::atomic<bool> wanted_{false};
};
