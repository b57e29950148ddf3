// record_bench: the commissioning record made against the simulated relay, its replies paced at
// 115200 baud: the record's read (clock, settings, the newest 100 events) as nx480ctl report
// runs it, then the PDF rendered and written through the atomic writer.
//
//   record_bench [--rounds N]
//
// Our link's worker serves the record's request, as it serves nx480ctl's; the PDF is made on
// this thread once the request is cleared. Prints `record_vs_wire: <ratio>`: the whole record
// (read, rendered, written), median of N rounds (5 by default), over the wire-time minimum of its
// exchanges at 10 bits a byte: the clock (8 + 13 bytes), the settings (8 + 21, 8 + 37), the history
// pointer (8 + 9) and 100 records (8 + 21 each). The read alone and the rendering are printed
// beside. Exits 0 when every record was made whole.
#include <stdlib.h>

#include <QGuiApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "commissioning_record.h"
#include "paced_link.h"
#include "record_transaction.h"
#include "relay_time.h"

namespace {

using Clock = std::chrono::steady_clock;
using nx480::bench::Median;
using nx480::bench::Ms;

constexpr int kBaud = 115200;

class Collector : public nx480::RecordWindow {
 public:
  double PcNow() const override { return nx480::LocalNow(); }
  bool RecordWanted() const override { return true; }
  void StoreClock(double relayTime, double pcTime) override {
    record.relayTime = relayTime;
    record.pcTime = pcTime;
  }
  void StoreSettings(const nx480::SettingsWords& words) override { record.settings = words; }
  void StoreCalibration(const nx480::CalibrationWords& words) override {
    record.calibration = words;
  }
  void StoreHistoryRecord(const nx480::HistoryRecord& event) override {
    record.events.push_back(event);
  }
  void RecordDone(const nx480::RecordEnd& ended) override { end = ended; }
  nx480::CommissioningRecord record;
  nx480::RecordEnd end;
};

double WireMs() {
  const int bytes = (8 + 13) + (8 + 21) + (8 + 37) + (8 + 9) + nx480::kRecordEvents * (8 + 21);
  return bytes * 10 * 1000.0 / kBaud;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const int rounds = nx480::bench::RoundsOption(argc, argv, 5);

  const std::optional<std::string> folder = nx480::bench::TemporaryFolder("record_bench");
  if (!folder) return 1;
  const std::string pdf = *folder + "/record.pdf";

  nx480::sim::RelayConfig config;
  config.history_fill = 150;  // more than the record holds
  nx480::bench::PacedLink paced(config, kBaud);
  if (!paced.Opened("record_bench")) return 1;
  nx480::TModbus& link = paced.link;
  Collector page;
  Clock::time_point readEnded{};  // worker; read once the request is cleared
  nx480::Request request;
  link.Bind(
      {.slot = nx480::kRecordRequest, .request = &request, .transaction = [&](nx480::TModbus& l) {
         nx480::ReadRecord(l, page);
         readEnded = Clock::now();
       }});
  link.Resume();
  std::vector<double> whole, read, render;
  int failures = 0;
  for (int round = 0; round < rounds; ++round) {
    page.record = {};
    page.record.session.serialNumber = static_cast<int32_t>(config.serial);
    page.record.session.firmware = nx480::FirmwareFeaturesOf(14);
    page.record.toolVersion = "bench";
    const auto t0 = Clock::now();
    request.Set(1);
    while (request.Pending() && Clock::now() - t0 < std::chrono::seconds(30))
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    const auto t1 = readEnded;
    nx480::FileError error;
    const bool written = nx480::WriteCommissioningPdf(pdf, page.record, error);
    const auto t2 = Clock::now();
    if (page.end.outcome != nx480::Outcome::Ok)
      std::fprintf(stderr, "record_bench: %s read failed (%s)\n",
                   nx480::RecordPartName(page.end.failed),
                   nx480::LinkErrorText(page.end.outcome.error));
    failures += page.end.outcome != nx480::Outcome::Ok || page.end.events != nx480::kRecordEvents ||
                !written;
    read.push_back(Ms(t1 - t0));
    render.push_back(Ms(t2 - t1));
    whole.push_back(Ms(t2 - t0));
  }
  link.Suspend();
  link.ClosePort();
  std::system(("rm -rf '" + *folder + "'").c_str());

  const double w = Median(whole), r = Median(read), p = Median(render), wire = WireMs();
  std::printf("record: read %.1f ms, rendered and written %.1f ms (medians of %d), failures: %d\n",
              r, p, rounds, failures);
  std::printf(
      "record_vs_wire: %.3f  (whole record %.1f ms: the read %.1f ms (%.3f of the wire), the PDF "
      "%.1f ms; wire minimum %.1f ms at %d baud)\n",
      w / wire, w, r, r / wire, p, wire, kBaud);
  return failures == 0 ? 0 : 1;
}
