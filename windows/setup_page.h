// A page of the settings window. The window (TFormSetup) is a frame of tabs, a status line and
// a close button; each tab is one page class with its own controls, requests and transactions.
// A new page is a new pair of files and one AddPage() line in the frame's constructor: the frame
// hands it the session, the tab events and the status line, and gathers its requests for the
// main window to bind.
#pragma once

#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "journal.h"
#include "relay_session.h"
#include "request.h"

class TFormSetup;

class SetupPage : public QWidget {
  Q_OBJECT
 public:
  SetupPage(TFormSetup& frame, const char* objectName);

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
  TFormSetup& Frame() const { return frame_; }
  // The failure report of a request whose transaction throws: "Chyba komunikace!" in the
  // status line (run on the worker; the text is shown on the user-interface thread).
  std::function<void(nx480::TModbus&)> ReportFailure();
  // Keeps `entry` in the change journal (OpenJournalEntry) before the page's change goes out.
  // When it cannot be kept, asks "Zálohu nelze uložit: <reason>. <goOnWithout>" ("Ne"
  // preselected). True when kept (`root` the journal's folder) or for "Ano" (`root` empty);
  // false for "Ne".
  bool KeepJournalEntry(nx480::JournalEntry& entry, const char* goOnWithout, std::string& root);

 private:
  TFormSetup& frame_;
};
