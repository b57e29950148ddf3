// The settings window's "Datum, čas" page: the relay's clock beside the PC's, set from the PC,
// and the relay mode (automatic, forced on, forced off) for firmware x.14 and later. Its clock
// is read each time the page becomes the active one while a relay is connected.
//
// The times are date-time values (link/relay_time.h) handed over by the clock transactions in
// the synchronous step ShowClock; the relay mode travels in its request flag
// (clock_transactions.h).
#pragma once

#include "clock_transactions.h"
#include "setup_page.h"

class QButtonGroup;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

class PageClock : public SetupPage, public nx480::ClockWindow {
  Q_OBJECT
 public:
  explicit PageClock(TFormSetup& frame);

  nx480::Request ReadClockRequest;
  nx480::Request WriteClockRequest;
  // The relay mode to send: the RadioGroupRele item + 1 (1 auto, 2 on, 3 off).
  nx480::Request RelayCommand;
  std::vector<nx480::RequestDecl> Requests() override;

  // The relay's time as last read or set, and the PC's time of the same moment (0 until then).
  double DeviceTime = 0;
  double PcTime = 0;

  // nx480::ClockWindow
  void ShowClock(double deviceTime, double pcTime) override;
  void ShowResult(nx480::Outcome outcome) override;
  double PcNow() const override;

  void ApplyFeatures(const nx480::RelaySession& session) override;
  void Activated() override;

  // Event handlers.
  void ButtonReadCClick();
  void ButtonWriteCClick();
  void RadioGroupReleClick(int index);
  void TimerReleTimer();

  // The relay's output is forced on or off (an item other than "Auto" is chosen).
  bool Forced() const;
  // Before a disconnect: the group back to "Auto", and "Auto" asked for (sent if the relay is
  // still there to take it before the connection ends; the connect button drops it otherwise).
  void ReturnToAuto();
  // Told on the user-interface thread whenever the chosen item changes: 0 auto, 1 on, 2 off.
  std::function<void(int item)> ForcedChanged;

  QGroupBox* GroupBox1 = nullptr;
  QLabel* LabelDatumCas1 = nullptr;
  QLabel* LabelDatumCasPristroj = nullptr;
  QLineEdit* EditDatumCasPristroj = nullptr;
  QLabel* LabelDatumCasPC = nullptr;
  QLineEdit* EditDatumCasPC = nullptr;
  QLabel* LabelDatumCas2 = nullptr;
  QFrame* PanelNX480T = nullptr;
  QPushButton* ButtonReadC = nullptr;
  QPushButton* ButtonWriteC = nullptr;
  QLabel* LabelNX480T = nullptr;
  QGroupBox* RadioGroupRele = nullptr;
  QButtonGroup* ReleButtons = nullptr;  // the items "Auto", "On", "Off" by index
  QTimer* TimerRele = nullptr;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Build();
};
