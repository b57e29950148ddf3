// The tool's six windows as the program makes them, for window tests (offscreen): the dialogs
// replaced by recorders, and helpers to connect to a simulated relay or to give the windows a
// relay session without one.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QStringList>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "form_history.h"
#include "form_journal.h"
#include "form_main.h"
#include "form_online.h"
#include "form_record.h"
#include "form_setup.h"
#include "page_parameters.h"
#include "pty_relay.h"
#include "window_services.h"

// XDG_DATA_HOME set to `value` while it lives, then as it was.
struct ScopedDataHome {
  explicit ScopedDataHome(const QString& value) : saved(qgetenv("XDG_DATA_HOME")) {
    qputenv("XDG_DATA_HOME", QFile::encodeName(value));
  }
  ~ScopedDataHome() { qputenv("XDG_DATA_HOME", saved); }
  QByteArray saved;
};

struct AppFixture {
  explicit AppFixture(std::vector<std::string> arguments = {})
      : main(arguments), params(setup.Parameters()) {
    main.AttachWindows(&onLine, &setup, &history, &journal, &record);
    Dialogs& d = AppDialogs();
    saved = d;
    d.error = [this](QWidget*, const QString& title, const QString& text) {
      errors << title + "|" + text;
    };
    d.message = [this](QWidget*, const QString& title, const QString& text) {
      messages << title + "|" + text;
    };
    d.beep = [this] { ++beeps; };
    d.ask = [this](QWidget*, const QString& title, const QString& text) {
      questions << title + "|" + text;
      return answers.isEmpty() ? answer : answers.takeFirst();
    };
    d.chooseOpenFile = [this](QWidget*, const FileDialogSpec&, const QString& preset) {
      openPresets << preset;
      return openPaths.isEmpty() ? openPath : openPaths.takeFirst();
    };
    d.chooseSaveFile = [this](QWidget*, const FileDialogSpec&, const QString& preset) {
      savePresets << preset;
      return savePath;
    };
    main.show();
  }
  // As at the program's end: the main window's close stops the worker before the windows go.
  ~AppFixture() {
    main.FormClose();
    AppDialogs() = saved;
  }
  AppFixture(const AppFixture&) = delete;
  AppFixture& operator=(const AppFixture&) = delete;

  void Ports(std::vector<std::string> list) {
    main.ListPorts = [list] { return list; };
  }
  // Connects to `relay` (the search finds it wherever it is now).
  void Connect(nx480::sim::PtyRelay& relay) {
    main.ListPorts = [&relay] { return std::vector<std::string>{relay.SlavePath()}; };
    main.ButtonConnectClick();
  }
  // Gives the secondary windows a relay session without a relay (the worker stays parked).
  void Pretend(int firmwareMinor, bool serviceMode = false, bool connected = false) {
    nx480::RelaySession session = main.Session();
    session.firmware = nx480::FirmwareFeaturesOf(firmwareMinor);
    session.serviceMode = serviceMode;
    session.connected = connected;
    for (RelayWindow* w : std::initializer_list<RelayWindow*>{&setup, &onLine, &history, &journal})
      w->SetSession(session);
  }

  TFormMain main;
  TFormOnLine onLine;
  TFormSetup setup{main.Session().serviceMode};
  TFormHistory history;
  JournalWindow journal;
  RecordForm record;
  PageParameters& params;
  Dialogs saved;
  QStringList errors, messages;
  int beeps = 0;
  QStringList questions;
  bool answer = false;  // to every question
  QList<bool> answers;  // the questions' answers in turn, before answer
  QString openPath, savePath;
  QStringList openPaths;  // the open dialogs' answers in turn, before openPath
  QStringList openPresets, savePresets;
};

// Lets the event loop run freely (QTest::qWaitFor sleeps between its rounds, which would pace
// the worker's synchronous calls) until `done` holds or `ms` have passed.
template <typename Done>
bool WaitUntil(Done done, int ms) {
  QEventLoop loop;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (done()) loop.quit();
  });
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  poll.start(5);
  if (!done()) loop.exec();
  return done();
}

// Waits until no button is held down. A mnemonic holds its button down and clicks it once its
// 100 ms animation has run, and the button is up again before the click's handler runs, which
// has returned by the time this loop looks again; with no button down it returns at once.
inline bool ButtonsReleased(int ms = 10000) {
  return WaitUntil(
      [] {
        const QWidgetList all = QApplication::allWidgets();
        return std::none_of(all.begin(), all.end(), [](QWidget* w) {
          const auto* button = qobject_cast<QAbstractButton*>(w);
          return button && button->isDown();
        });
      },
      ms);
}

inline std::unique_ptr<nx480::sim::PtyRelay> StartRelay(nx480::sim::RelayConfig config) {
  auto relay = std::make_unique<nx480::sim::PtyRelay>(config);
  relay->Start();
  return relay;
}
