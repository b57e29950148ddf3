// Settings window (module Setup): a frame of four tab pages - protection settings, clock and
// relay mode, calibration, firmware upload - with a status line and a close button. Each page
// is a class of its own (setup_page.h) with its controls, requests and transactions; the frame
// switches them by the relay's firmware and the service mode, tells them of tab changes and
// shows their status texts. Closing the window only hides it.
//
// The calibration page exists only when the tool was started in service mode: outside it there
// is no page, no tab and no request that a key, the wheel or a tab change could reach.
#pragma once

#include <QString>
#include <string>
#include <vector>

#include "outcome.h"
#include "relay_window.h"

class QLabel;
class QPushButton;
class QTabWidget;
class QTimer;
class SetupPage;
class PageParameters;
class PageClock;
class PageCalibration;
class PageUpload;

class TFormSetup : public RelayWindow {
  Q_OBJECT
 public:
  explicit TFormSetup(bool serviceMode, QWidget* parent = nullptr);

  // The pages, in tab order.
  PageParameters& Parameters() const { return *parameters_; }
  PageClock& Clock() const { return *clock_; }
  // Null outside service mode.
  PageCalibration* Calibration() const { return calibration_; }
  PageUpload& Upload() const { return *upload_; }

  // Every page's requests.
  std::vector<nx480::RequestDecl> Requests() override;

  // The status line: how a transaction ended ("O.K." in black, a failure in red with a beep), or
  // that no relay is connected (red, a beep); hidden again by TimerMsg after a second.
  void ShowStatus(nx480::Outcome outcome);
  // A write that the relay holds otherwise: "Uloženo jinak: Uu1, tRel" in red with a beep, as
  // many names as the line holds and "…" for the rest.
  void ShowDiffering(const std::vector<std::string>& names);
  void ShowNotConnected();
  // A write not sent because its backup could not be kept (red, a beep).
  void ShowNotWritten();
  // A clock setting or a forced relay output not sent because its journal entry could not be
  // kept (red, a beep).
  void ShowNotSet();
  // A history clearing not sent because its backup could not be kept (red, a beep).
  void ShowNotCleared();
  // Any other text: black, or red with a beep.
  void ShowStatusText(const QString& text, bool ok);
  void UpdateCaption();

  // Event handlers.
  void FormShow() override;
  void PageChange();  // tab changed (and on every show)
  void TimerMsgTimer();

  QTabWidget* Page1 = nullptr;
  QWidget* TabOchrana = nullptr;
  QWidget* TabDatumCas = nullptr;
  QWidget* TabKalibrace = nullptr;  // null outside service mode
  QWidget* TabFirmware = nullptr;
  QLabel* LabelMsg = nullptr;
  QPushButton* ButtonKonec = nullptr;
  QTimer* TimerMsg = nullptr;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  template <typename Page>
  Page* AddPage(const QString& caption);

  std::vector<SetupPage*> pages_;
  PageParameters* parameters_ = nullptr;
  PageClock* clock_ = nullptr;
  PageCalibration* calibration_ = nullptr;
  PageUpload* upload_ = nullptr;
};
