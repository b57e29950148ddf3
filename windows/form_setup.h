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
#include <map>
#include <string>
#include <vector>

#include "outcome.h"
#include "relay_window.h"
#include "setup_page.h"

class QLabel;
class QPushButton;
class QTabWidget;
class QTimer;
class PageParameters;
class PageClock;
class PageCalibration;
class PageUpload;

class TFormSetup : public RelayWindow, public SetupFrame {
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

  // SetupFrame: the session the main window gave, the window as its pages' dialogs' parent.
  const nx480::RelaySession& Session() const override { return RelayWindow::Session(); }
  QWidget* DialogParent() override { return this; }

  // The status line: each page's verdict - how its last action ended - stays until the next
  // action on that page (ClearStatus), the window's closing, or the next verdict of the page.
  // A tab change shows the verdict of the page on view; a verdict that comes for another page (a
  // write that ends after a tab change) is shown at once too, and kept for its page.
  // Red ones beep once, as they come. TimerMsg only hides the line, still empty, a second after
  // the start; a verdict stops it for good.
  //
  // How a transaction ended: "O.K." in black, a failure in red.
  void ShowStatus(const SetupPage& page, nx480::Outcome outcome) override;
  // A write that the relay holds otherwise: "Uloženo jinak: Uu1, tRel" in red, as many names as
  // the line holds and "…" for the rest.
  void ShowDiffering(const SetupPage& page, const std::vector<std::string>& names) override;
  void ShowNotConnected(const SetupPage& page) override;
  // A write not sent because its backup could not be kept (red).
  void ShowNotWritten(const SetupPage& page) override;
  // A clock setting or a forced relay output not sent because its journal entry could not be
  // kept (red).
  void ShowNotSet(const SetupPage& page) override;
  // A history clearing not sent because its backup could not be kept (red).
  void ShowNotCleared(const SetupPage& page) override;
  // Any other text: black, or red with a beep (`beep` false: a red text shown again, silent).
  void ShowStatusText(const SetupPage& page, const QString& text, bool ok) override;
  void ShowStatusText(const SetupPage& page, const QString& text, bool ok, bool beep) override;
  // An action on `page` begins: its verdict goes, from the line too.
  void ClearStatus(const SetupPage& page) override;
  void UpdateCaption() override;

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
  // The line showing `page`'s verdict `text` (black, or red), or nothing.
  void ShowLine(const SetupPage& page, const QString& text, bool ok);
  void HideLine();

  struct Verdict {
    QString text;
    bool ok = true;
  };
  std::map<const SetupPage*, Verdict> verdicts_;
  const SetupPage* lineOwner_ = nullptr;  // whose verdict the line shows

  std::vector<SetupPage*> pages_;
  PageParameters* parameters_ = nullptr;
  PageClock* clock_ = nullptr;
  PageCalibration* calibration_ = nullptr;
  PageUpload* upload_ = nullptr;
};
