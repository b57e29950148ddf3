// Live values window (module Online): the relay's phase voltages, frequency, reconnection
// countdown, protection stages, 10-minute averages and temperature. Its timer asks the worker
// for a snapshot every 200 ms while the window is shown.
//
// Threads: the worker runs StoreLiveValues / ClearLiveValues on its own thread; they decode into
// the pending state and read only the snapshot (which carries its firmware number) and atomics
// mirrored here on the user-interface thread (the 0,1 V check box's visible and checked
// properties). ShowLiveValues then runs on the user-interface thread inside the worker's
// synchronous call and is the only reader of the pending state while the worker waits.
//
// Recording: while the window is shown (the relay connected) every good snapshot goes to the
// relay's day file (records/recording.h). The worker only decodes the sample into the pending
// state; ShowLiveValues appends it on the user-interface thread and Timer1 writes the buffer
// when due. Day files the disk cap removed are counted in LabelRecording (named in its tip); a
// recording that stops (a full disk) says so there too; the live values go
// on. Each sample recorded is handed to the trend window as well (TakeRecordedSample), which
// follows it while it shows the relay's last minutes.
#pragma once

#include <QColor>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "live_values.h"
#include "live_view.h"
#include "recording.h"
#include "relay_window.h"

class QCheckBox;
class QFrame;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class TFormTrend;
class QTimer;

class TFormOnLine : public RelayWindow, public nx480::LiveValuesWindow {
  Q_OBJECT
 public:
  explicit TFormOnLine(QWidget* parent = nullptr);
  ~TFormOnLine() override;

  // Set by Timer1 every 200 ms while the window is shown.
  nx480::Request LiveRequest;
  std::vector<nx480::RequestDecl> Requests() override;

  // The program's own close (on disconnect and at the end). Any other close request is
  // ignored: the window has no close box and comes and goes with the connection.
  void CloseWindow();

  // ---- Handlers ----
  void FormShow() override;
  void FormHide();
  void Timer1Timer();
  void CheckBox01VClick();
  // Key presses of EditFocus go to the main window's key handler (F1 toggles the connection).
  void FormKeyDown(QKeyEvent* event);

  // ---- The live values transaction's view of this window ----
  void StoreLiveValues(const nx480::LiveImage& image, uint32_t stageFlags) override;
  void ClearLiveValues() override;
  void ShowLiveValues() override;

  // The pending state; read it only while no live transaction runs (tests).
  const nx480::LiveTexts& Pending() const { return pending_; }
  int DesignClientHeight() const { return designClientHeight_; }
  static QColor ButtonFace();
  static QColor Red() { return QColor(255, 0, 0); }

  // ---- Controls ----
  QLabel* LabelU1 = nullptr;
  QLabel* LabelU2 = nullptr;
  QLabel* LabelU3 = nullptr;
  QLabel* LabelF = nullptr;
  QLabel* LabeltRel = nullptr;
  QLabel* LabelStav = nullptr;
  QLabel* LabelTemp = nullptr;
  QCheckBox* CheckBox01V = nullptr;
  QLineEdit* EditU1 = nullptr;
  QLineEdit* EditU2 = nullptr;
  QLineEdit* EditU3 = nullptr;
  QLineEdit* EditF = nullptr;
  QLineEdit* EditFocus = nullptr;
  QLineEdit* EdittRel = nullptr;
  QFrame* PanelOchr = nullptr;
  QLabel* PanelUu1 = nullptr;
  QLabel* PanelUu2 = nullptr;
  QLabel* PanelUo2 = nullptr;
  QLabel* PanelUo3 = nullptr;
  QLabel* PanelFu1 = nullptr;
  QLabel* PanelFu2 = nullptr;
  QLabel* PanelFo1 = nullptr;
  QLabel* PanelFo2 = nullptr;
  QFrame* Panel10m = nullptr;
  QLabel* Label10min = nullptr;
  QLineEdit* Edit10mU1 = nullptr;
  QLineEdit* Edit10mU2 = nullptr;
  QLineEdit* Edit10mU3 = nullptr;
  QProgressBar* ProgressBar10m = nullptr;
  QFrame* PanelOchr2 = nullptr;
  QLabel* PanelUo1 = nullptr;
  QLineEdit* EditTemp = nullptr;
  QTimer* Timer1 = nullptr;
  // The recording's notice (stopped, a bad recording.conf); hidden while there is none.
  QLabel* LabelRecording = nullptr;

  // The recording's writer while the window is shown (tests).
  const nx480::RecordingWriter* Recorder() const { return recorder_.get(); }

  // "Průběh": opens the trend window (the recording of this relay).
  QPushButton* ButtonTrend = nullptr;
  TFormTrend& Trend() { return *trend_; }
  void ButtonTrendClick();

  // The stage panel of each stage.
  QLabel* PanelOf(nx480::Stage stage) const;

 protected:
  void hideEvent(QHideEvent* event) override;
  // A close asked for by the window manager (Alt+F4, a task bar) is ignored.
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // The constructor's parts: the headings and the present values with the focus box (U1-U3,
  // f, the trip delay), the stages' panel, the 10-minute averages' panel, the service mode's
  // temperature and the recording's notice, the trend's button and window; then the tab order.
  void BuildPresentValues();
  void BuildStagePanel();
  void BuildAveragePanel();
  void BuildTemperatureAndNotice();
  void BuildTrend();
  void ChainTabOrder();

  // Copies the check box's visible and checked properties for the worker.
  void MirrorCheckBox();

  void ShowRecordingNotice(const std::string& text);
  // The day files the recording's cap removed, counted in LabelRecording, named in its tip.
  void ShowRemovedDays();

  nx480::LiveTexts pending_;
  nx480::RecordingSample pendingSample_;  // pending state too
  bool pendingSampleGood_ = false;
  std::atomic<bool> hasTemperature_{false};  // the session's, mirrored for the worker
  std::unique_ptr<nx480::RecordingWriter> recorder_;
  int removedDays_ = 0;
  QStringList removedPaths_;
  std::unique_ptr<TFormTrend> trend_;  // a window of its own; it stays after a disconnect
  int32_t recordedSerial_ = -1;
  int designClientHeight_ = 0;
  std::atomic<bool> box01Visible_{false};
  std::atomic<bool> box01Checked_{false};
  bool closing_ = false;  // inside CloseWindow()
};
