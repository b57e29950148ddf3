// The settings window's "Datum, čas" page: the relay's clock beside the PC's, set from the PC,
// and the relay mode (automatic, forced on, forced off) for firmware x.14 and later. Its clock
// is read each time the page becomes the active one while a relay is connected.
//
// The times are date-time values (link/relay_time.h) handed over by the clock transactions in
// the synchronous step ShowClock; the relay mode travels in its request flag
// (clock_transactions.h).
//
// The change journal: a clock setting's entry is kept in the set's synchronous steps
// (JournalBefore, JournalAfter). A relay mode chosen is one entry per choice, kept by the click
// before a forced state is asked for (after it for "Auto", which the journal never holds up) and
// closed in the synchronous step that follows the choice's first send (RelaySent); the return to
// "Auto" as a connection ends is kept in that step, once it has gone out.
#pragma once

#include <QString>
#include <optional>
#include <string>
#include <vector>

#include "clock_transactions.h"
#include "journal.h"
#include "journal_entry_keeper.h"
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
  explicit PageClock(SetupFrame& frame);

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
  // The clock setting's journal entry: kept before the set goes out, or the user asked whether
  // to set without one ("Ne" preselected).
  bool JournalBefore(double relayTime, double pcTime) override;
  void JournalAfter(nx480::Outcome outcome, std::optional<double> remainingSeconds) override;
  // User-interface thread, after each relay mode sent (`command` 1-3): closes the entry of the
  // choice that went out, and keeps the entry of a return to "Auto" (ReturnToAuto).
  void RelaySent(int32_t command, nx480::Outcome outcome);

  void ApplyFeatures(const nx480::RelaySession& session) override;
  void Activated() override;

  // Event handlers.
  void ButtonReadCClick();
  void ButtonWriteCClick();
  void RadioGroupReleClick(int index);
  void TimerReleTimer();

  // The relay's output is forced on or off (an item other than "Auto" is in force).
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
  // A relay mode chosen and not yet sent, with its entry (none open: chosen without one).
  struct RelayChoice {
    int32_t command = 0;
    JournalEntryKeeper journal;
  };

  void Build();
  // Keeps the entry of a relay mode chosen and adds the choice to those waiting for their first
  // send; for a forced state that cannot be kept, asks (false: nothing is to be sent).
  bool KeepRelayChoice(int32_t command);

  int relayItem_ = 0;  // the item in force: the last one asked for (0 auto, 1 on, 2 off)
  JournalEntryKeeper clockEntry_;          // the clock setting in progress
  std::vector<RelayChoice> relayChoices_;  // chosen, not yet sent, oldest first
  bool autoReturn_ = false;  // ReturnToAuto asked for "Auto", whose entry follows its send
};
