// A page of the settings window. The window (TFormSetup) is a frame of tabs, a status line and
// a close button; each tab is one page class with its own controls, requests and transactions.
// A new page is a new pair of files and one AddPage() line in the frame's constructor: the frame
// hands it the session, the tab events and the status line, and gathers its requests for the
// main window to bind. A page sees its frame only as SetupFrame; what one page does for another
// the frame ties up with a function the page holds.
#pragma once

#include <QString>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "outcome.h"
#include "relay_session.h"
#include "request.h"

class SetupPage;

// The settings window as its pages see it: the session, the status line (TFormSetup says what
// each call shows), the window's caption and the parent of the pages' dialogs.
class SetupFrame {
 public:
  virtual const nx480::RelaySession& Session() const = 0;
  virtual void ShowStatus(const SetupPage& page, nx480::Outcome outcome) = 0;
  virtual void ShowDiffering(const SetupPage& page, const std::vector<std::string>& names) = 0;
  virtual void ShowNotConnected(const SetupPage& page) = 0;
  virtual void ShowNotWritten(const SetupPage& page) = 0;
  virtual void ShowNotSet(const SetupPage& page) = 0;
  virtual void ShowNotCleared(const SetupPage& page) = 0;
  virtual void ShowStatusText(const SetupPage& page, const QString& text, bool ok) = 0;
  virtual void ShowStatusText(const SetupPage& page, const QString& text, bool ok, bool beep) = 0;
  virtual void ClearStatus(const SetupPage& page) = 0;
  virtual void UpdateCaption() = 0;
  virtual QWidget* DialogParent() = 0;

 protected:
  ~SetupFrame() = default;
};

class SetupPage : public QWidget {
  Q_OBJECT
 public:
  SetupPage(SetupFrame& frame, const char* objectName);

  // The page's requests, each with its transaction (see request.h).
  virtual std::vector<nx480::RequestDecl> Requests() { return {}; }
  // The feature switches of the page for the relay's firmware and the service mode; run each
  // time the window is shown and when the main window has a new relay version.
  virtual void ApplyFeatures(const nx480::RelaySession&) {}
  // The page has become the active one (a tab change, or the window shown).
  virtual void Activated() {}
  // Any tab change (also when the window is shown), and the window closing.
  virtual void TabChanging() {}
  virtual void WindowClosing() {}

 protected:
  SetupFrame& Frame() const { return frame_; }
  // The failure report of a request whose transaction throws: "Chyba komunikace!" in the
  // status line (run on the worker; the text is shown on the user-interface thread).
  std::function<void(nx480::TModbus&)> ReportFailure();

 private:
  SetupFrame& frame_;
};
