// Main window (module Main): the connection to the relay and the way to the other windows. It
// owns the worker and the relay session, binds every window's declared requests to the worker,
// and hands the session to every window when it changes.
#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "modbus.h"
#include "relay_search.h"
#include "relay_session.h"
#include "upload_transaction.h"

class QLabel;
class QLineEdit;
class QPushButton;
class RelayWindow;
class TFormOnLine;
class TFormSetup;
class TFormHistory;
class JournalWindow;
class RecordForm;
using nx480::TModbus;

// The message when no relay answers. Its second line names the ports tried and why each was
// passed over (or that none was found). A port refused for lack of permission adds a line that
// says how to get access (the device's group, or a udev rule when only root may use it); a
// port held by another program adds a line naming it.
QString NoRelayMessage(const nx480::SearchResult& result);

// The message when the device of the connection vanished (adapter unplugged, line hung up).
QString DeviceGoneMessage(const std::string& port);

class TFormMain : public QWidget {
  Q_OBJECT
 public:
  // `arguments` are the command-line arguments after the program name.
  explicit TFormMain(const std::vector<std::string>& arguments, QWidget* parent = nullptr);
  ~TFormMain() override;

  // Hands over the other windows (created after this one), binds their requests to the worker
  // and gives them the session. Until then the worker stays parked.
  void AttachWindows(TFormOnLine* onLine, TFormSetup* setup, TFormHistory* history,
                     JournalWindow* journal = nullptr, RecordForm* record = nullptr);

  void ButtonConnectClick();
  void ButtonSetupClick();
  void ButtonHistoryClick();
  void ButtonJournalClick();
  void ButtonRecordClick();
  void ButtonCancelClick();
  // Shows the session's version line and hands the session to every window, re-running the
  // on-show logic of the visible settings and live values windows.
  void ShowVersion();
  // F1 (whatever the Shift, Ctrl and Alt state) toggles the connection; other keys are ignored.
  void FormKeyDown(int key, Qt::KeyboardModifiers modifiers);
  // Shutdown steps; run once when the main window closes (also safe to call again).
  void FormClose();

  TModbus& Modbus() { return *modbus_; }
  const nx480::RelaySession& Session() const { return session_; }
  // Started with --demo: the demo relay inside the program is the one port the search tries.
  bool Demo() const { return demo_; }

  // The serial devices, numbered; ListSerialPorts() (with --demo: the demo relay's port) unless
  // replaced.
  std::function<std::vector<std::string>()> ListPorts;

  QLabel* Image1 = nullptr;
  QLabel* LabelVersion = nullptr;
  QLineEdit* EditVersion = nullptr;
  QPushButton* ButtonConnect = nullptr;
  QPushButton* ButtonSetup = nullptr;
  QPushButton* ButtonHistory = nullptr;
  QPushButton* ButtonCancel = nullptr;
  // The change journal is on this PC: enabled with or without a relay.
  QPushButton* ButtonJournal = nullptr;
  // The commissioning record of the connected relay: enabled while one is connected.
  QPushButton* ButtonRecord = nullptr;
  // Red while the relay's output is forced on or off ("Relé" on the settings window's clock
  // page); hidden otherwise.
  QLabel* LabelRelayForced = nullptr;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void ClearRequests();
  // Before the connection ends (the connect button, a gone device, closing the tool): a forced
  // output goes back to "Auto" - sent while the relay still answers - so that no forced state
  // stays on this relay unseen or reaches the next one.
  void ReleaseForcedOutput();
  // Closing the tool: an upload in progress is stopped and the relay told to cancel.
  void StopUpload();
  void ShowForced(int item);
  // The worker runs on an open port whose device is there: a request posted now is served.
  bool WorkerServes() const;
  void Disconnect();
  void SearchAndConnect();
  // The worker found the device of connection `connection` gone.
  void DeviceGone(uint64_t connection);
  // The session to the worker and to every window.
  void ShareSession();
  // After a firmware upload, inside its completion: the restarted relay's identification and
  // serial number into the session and its version shown (nothing when it did not answer).
  void FirmwareUploaded(const std::optional<nx480::RestartedRelay>& relay);

  bool demo_ = false;
  std::unique_ptr<TModbus> modbus_;
  nx480::RelaySession session_;
  TFormOnLine* onLine_ = nullptr;
  TFormSetup* setup_ = nullptr;
  TFormHistory* history_ = nullptr;
  JournalWindow* journal_ = nullptr;
  RecordForm* record_ = nullptr;
  // In the order in which ShowVersion refreshes them.
  std::vector<RelayWindow*> windows_;
  // The requests that a connect or disconnect drops.
  std::vector<nx480::Request*> clearedOnConnect_;
  bool closed_ = false;
};
