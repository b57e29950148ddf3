// upload_bench: a 125-block firmware image uploaded through the tool's own windows (offscreen
// unless a display platform is chosen) into the simulated relay, which sends its replies at the
// wire speed of 115200 baud, each 8 byte times after the request has arrived (as on the wire
// for the short requests; a data frame's reply is due long before its 5 ms pause ends anyway).
//
//   upload_bench [--blocks N] [--shots DIR]
//
// Reports the upload's time against the least that the line and the transfer's fixed waits
// allow:
//   Start and its acknowledgement on the wire
//   + per data frame the longer of the 5 ms pause and the frame and its reply on the wire
//   + Status and its reply on the wire + 100 ms before Run + 100 ms after it
// (a byte is 10 bits on the wire; the relay's own answer time is not counted). The upload is
// timed from Start leaving to the success completion, before the relay is identified again;
// the time from the click, which adds the worker's poll, is shown beside it. Prints
// `upload_vs_wire: <ratio>` and exits 0 when it could measure.
//
// --shots DIR: also saves the settings window during the upload and after it
// (DIR/upload-running.png, DIR/upload-done.png).
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <string>
#include <vector>

#include "bench_support.h"
#include "bench_windows.h"
#include "firmware_image.h"
#include "paced_link.h"
#include "page_upload.h"
#include "pty_relay.h"
#include "window_services.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using namespace nx480::bench;

constexpr int kBaud = 115200;

double WireMs(int bytes) {
  return bytes * 10 * 1000.0 / kBaud;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);

  int blocks = 125;
  QString shots;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string arg = argv[i];
    if (arg == "--blocks")
      blocks = std::clamp(std::atoi(argv[i + 1]), 1, 125);
    else if (arg == "--shots")
      shots = argv[i + 1];
  }

  nx480::sim::RelayConfig config;
  config.version = "1.13";
  config.serial = 4817;
  nx480::sim::PtyRelay relay(config, nx480::bench::PacedOptions(kBaud));
  relay.Start();

  QTemporaryDir dir;
  const QString imagePath = dir.filePath("nx480-1.14.d.bn6");
  {
    const std::vector<uint8_t> image =
        nx480::sim::WriteImage({.name = "NX480", .version = "1.14.d", .blocks = blocks});
    QFile file(imagePath);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(reinterpret_cast<const char*>(image.data()), qint64(image.size())) !=
            qint64(image.size())) {
      std::fprintf(stderr, "upload_bench: cannot write %s\n", qPrintable(imagePath));
      return 1;
    }
  }

  BenchWindows windows([&relay] { return relay.SlavePath(); });
  TFormMain& main = windows.main;
  TFormOnLine& onLine = windows.onLine;
  TFormSetup& setup = windows.setup;
  AppDialogs().chooseOpenFile = [&](QWidget*, const FileDialogSpec&, const QString&) {
    return imagePath;
  };
  // When Start and Run leave (worker thread; read once the upload has ended).
  std::atomic<Clock::rep> startSent{0}, runSent{0};
  // Each data frame from leaving to its acknowledgement judged (the previous frame's progress
  // update runs in its pause), and from there to the next frame leaving.
  std::vector<double> exchange, between;
  exchange.reserve(1100);
  between.reserve(1100);
  Clock::time_point lastJudged{};
  main.Modbus().SetTraceHook([&](const nx480::FrameEvent& e) {
    const auto now = Clock::now();
    const std::string frame = e.frame;
    if (e.direction == nx480::FrameDirection::Received) {
      if (frame == "upload block") exchange.push_back(e.sinceRequest.count() / 1000.0);
      lastJudged = now;
      return;
    }
    if (e.direction != nx480::FrameDirection::Sent) return;
    if (frame == "upload block" && lastJudged != Clock::time_point{})
      between.push_back(Ms(now - lastJudged));
    if (frame == "upload start") startSent = now.time_since_epoch().count();
    if (frame == "upload run") runSent = now.time_since_epoch().count();
  });
  main.show();
  main.ButtonConnectClick();
  if (!main.Session().connected) {
    std::fprintf(stderr, "upload_bench: no relay at %s\n", relay.SlavePath().c_str());
    return 1;
  }
  onLine.close();  // the upload alone on the line
  main.ButtonSetupClick();
  PageUpload& page = setup.Upload();
  setup.Page1->setCurrentWidget(setup.TabFirmware);

  // The success completion's first line, as it is written.
  Clock::time_point done{};
  QObject::connect(page.MemoLog, &QPlainTextEdit::textChanged, [&] {
    if (done == Clock::time_point{} && page.MemoLog->toPlainText().contains("Úspěšně"))
      done = Clock::now();
  });

  const auto clicked = Clock::now();
  page.ButtonUploadClick();
  if (!page.Uploading()) {
    std::fprintf(stderr, "upload_bench: the upload did not start\n");
    return 1;
  }
  if (!shots.isEmpty()) {
    RunUntil(
        [&] {
          return page.ProgressBarUpload->value() >= page.ProgressBarUpload->maximum() * 2 / 5;
        },
        60s);
    setup.grab().save(QDir(shots).filePath("upload-running.png"));
  }
  if (!RunUntil([&] { return !page.Uploading(); }, 120s) || done == Clock::time_point{}) {
    std::fprintf(stderr, "upload_bench: the upload did not succeed:\n%s\n",
                 qPrintable(page.MemoLog->toPlainText()));
    return 1;
  }
  if (!shots.isEmpty()) setup.grab().save(QDir(shots).filePath("upload-done.png"));
  const std::string version = main.Session().identText;
  main.FormClose();

  const Clock::time_point start{Clock::duration(startSent.load())};
  const Clock::time_point run{Clock::duration(runSent.load())};
  const int frames = 8 * blocks;
  const double perFrame = std::max(5.0, WireMs(41 + 8));
  const double wire = WireMs(11 + 8) + frames * WireMs(41 + 8) + WireMs(8 + 7) + WireMs(11);
  const double minimum = WireMs(11 + 8) + frames * perFrame + WireMs(8 + 7) + 100 + 100;
  const double measured = Ms(done - start);

  std::printf("image: %d blocks, %d bytes, %d data frames; replies paced at %d baud\n", blocks,
              blocks * 262, frames, kBaud);
  std::printf(
      "wire time of all frames and replies: %.1f ms; per data frame %.2f ms on the wire "
      "against the 5 ms pause\n",
      wire, WireMs(41 + 8));
  std::printf("minimum (wire and fixed waits): %.1f ms\n", minimum);
  std::printf("upload, Start to completion: %.1f ms (%.2f ms a data frame; Run at %.1f ms)\n",
              measured, Ms(run - start - 100ms) / frames, Ms(run - start));
  std::printf("upload, click to completion: %.1f ms\n", Ms(done - clicked));
  auto sum = [](const std::vector<double>& v) { return std::accumulate(v.begin(), v.end(), 0.0); };
  std::printf(
      "data frames: leaving to acknowledged %.3f ms median, %.1f ms in all; acknowledged "
      "to the next leaving %.3f ms median, %.1f ms in all\n",
      Median(exchange), sum(exchange), Median(between), sum(between));
  std::printf("relay after the upload: %s\n", version.c_str());
  std::printf(
      "upload_vs_wire: %.3f  (goal <= 1.05; Start to completion %.1f ms, minimum %.1f ms, "
      "%d blocks)\n",
      measured / minimum, measured, minimum, blocks);
  return 0;
}
