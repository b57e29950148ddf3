// Main window (module Main): the connection to the relay and the way to the other windows.
#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "modbus.h"

class QLabel;
class QLineEdit;
class QPushButton;
class TFormOnLine;
class TFormSetup;
class TFormHistory;
using nx480::TModbus;

// "/servis" or "/SERVIS" as the first argument switches service mode on (exact comparison).
int ServiceModeFromArguments(const std::vector<std::string>& arguments);

// What the search learned about ports it could not open.
struct SearchProblems {
  std::string deniedPort;   // the first port refused for lack of permission
  std::string deniedGroup;  // the group that owns it ("" when unknown)
  std::string busyPort;     // the first port held by another program
};

// The message when no relay answers. A port refused for lack of permission adds a line that
// says how to get access (the device's group, or a udev rule when only root may use it); a
// port held by another program adds a line naming it.
QString NoRelayMessage(const SearchProblems& problems);

// The message when the device of the connection vanished (adapter unplugged, line hung up).
QString DeviceGoneMessage(const std::string& port);

class TFormMain : public QWidget {
  Q_OBJECT
 public:
  // `arguments` are the command-line arguments after the program name.
  explicit TFormMain(const std::vector<std::string>& arguments, QWidget* parent = nullptr);
  ~TFormMain() override;

  // Hands over the other three windows (created after this one) and binds their request flags
  // to the worker. Until then the worker stays paused.
  void AttachWindows(TFormOnLine* onLine, TFormSetup* setup, TFormHistory* history);

  void ButtonConnectClick();
  void ButtonSetupClick();
  void ButtonHistoryClick();
  void ButtonCancelClick();
  void ShowVersion();
  // F1 (whatever the Shift, Ctrl and Alt state) toggles the connection; other keys are ignored.
  void FormKeyDown(int key, Qt::KeyboardModifiers modifiers);
  // Shutdown steps; run once when the main window closes (also safe to call again).
  void FormClose();

  TModbus& Modbus() { return *modbus_; }

  // State read by the other windows and by the transactions.
  std::string IdentText;
  int FirmwareMinor = 0;
  int ServiceMode = 0;
  int HasTemperature = 0;

  // Where the "Chyba" messages go; a message box on this window unless replaced (tests).
  std::function<void(const QString& title, const QString& text)> ShowError;
  // The serial devices, numbered; ListSerialPorts() unless replaced.
  std::function<std::vector<std::string>()> ListPorts;

  QLabel* Image1 = nullptr;
  QLabel* LabelVersion = nullptr;
  QLineEdit* EditVersion = nullptr;
  QPushButton* ButtonConnect = nullptr;
  QPushButton* ButtonSetup = nullptr;
  QPushButton* ButtonHistory = nullptr;
  QPushButton* ButtonCancel = nullptr;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void ClearRequests();
  void Disconnect();
  void SearchAndConnect();
  // The worker found the device of connection `connection` gone.
  void DeviceGone(uint64_t connection);

  std::unique_ptr<TModbus> modbus_;
  TFormOnLine* onLine_ = nullptr;
  TFormSetup* setup_ = nullptr;
  TFormHistory* history_ = nullptr;
  std::string port_;  // the device of the connection
  bool closed_ = false;
};
