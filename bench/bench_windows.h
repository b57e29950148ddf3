// What the benchmarks that drive the tool's windows share: the event loop run for a while or
// until a condition holds, and the four windows wired together as the tool wires them.
#pragma once

#include <QEventLoop>
#include <QString>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "form_history.h"
#include "form_main.h"
#include "form_online.h"
#include "form_setup.h"
#include "window_services.h"

namespace nx480::bench {

// Runs the event loop for `duration`.
inline void Pump(std::chrono::milliseconds duration) {
  QEventLoop loop;
  QTimer::singleShot(duration, &loop, &QEventLoop::quit);
  loop.exec();
}

// Runs the event loop until `done` holds (looked at every 20 ms) or `limit` passes; returns
// whether it holds.
template <typename Done>
bool RunUntil(Done done, std::chrono::milliseconds limit) {
  QEventLoop loop;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (done()) loop.quit();
  });
  QTimer::singleShot(limit, &loop, &QEventLoop::quit);
  poll.start(20);
  if (!done()) loop.exec();
  return done();
}

// The main window with the live values, settings and history windows attached. The main
// window's connection search finds the one port `port` names, asked at each search (a relay
// restarted may be on a new one). Error messages go to standard error as "title: text".
struct BenchWindows {
  explicit BenchWindows(std::function<std::string()> port) {
    main.AttachWindows(&onLine, &setup, &history);
    main.ListPorts = [port = std::move(port)] { return std::vector<std::string>{port()}; };
    AppDialogs().error = [](QWidget*, const QString& title, const QString& text) {
      std::fprintf(stderr, "%s: %s\n", qPrintable(title), qPrintable(text));
    };
  }

  TFormMain main{{}};
  TFormOnLine onLine;
  TFormSetup setup{main.Session().serviceMode};
  TFormHistory history;
};

}  // namespace nx480::bench
