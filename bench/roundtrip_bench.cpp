// roundtrip_bench: one register read and one identification against the simulated relay on a
// pseudo-terminal, made by our link and by libmodbus, side by side in the same run.
//
//   roundtrip_bench [--rounds N] [--reps N]
//
// Our side is TModbus as the connection search uses it: the worker parked, the calls made
// directly on this thread (BuildRequest + SendRequest + CheckReply for the calibration read,
// Identify for the identification). libmodbus's side: modbus_new_rtu on the same pty path,
// slave 1, modbus_read_registers (the same eight holding registers 0x18-0x1F) and
// modbus_report_slave_id. The relay identifies itself in 29 bytes, paces its replies at 115200 baud
// and starts each 0.5 ms after the request (its default answer time). Each round opens one side,
// makes `reps` of both requests, closes it, then does the same with the other side; the side that
// goes first alternates. Prints the medians and the ratios ours / libmodbus (lower is better);
// exits 0 when every exchange of both sides succeeded.
#include <modbus/modbus.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_support.h"
#include "connection.h"
#include "modbus.h"
#include "pty_relay.h"

namespace {

using Clock = std::chrono::steady_clock;
using nx480::bench::Ms;

constexpr int kBaud = 115200;
constexpr int kFirstRegister = 0x18;  // the calibration block, as the serial number read
constexpr int kRegisters = 8;

// The middle value, or the mean of the two middles for an even count.
double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

struct Side {
  std::vector<double> read, identify;
  int failures = 0;
};

// Our link: the worker parked (as after OpenPort), the exchanges made on this thread.
bool RunOurs(const std::string& path, int reps, Side& side) {
  nx480::TModbus link;
  if (!link.OpenPort(path, nx480::RelayLine(), nx480::kPollInterval)) return false;
  std::string text;
  for (int i = 0; i < reps; ++i) {
    auto t0 = Clock::now();
    link.SendRequest(link.BuildRequest(nx480::templates::kCalibrationRead));
    const bool read =
        link.CheckReply(nx480::kMainReply, nx480::templates::kCalibrationRead.replyLength);
    side.read.push_back(Ms(Clock::now() - t0));
    t0 = Clock::now();
    const bool identified = link.Identify(text);
    side.identify.push_back(Ms(Clock::now() - t0));
    side.failures += !read + !identified;
  }
  link.ClosePort();
  return true;
}

bool RunLibmodbus(modbus_t* ctx, int reps, Side& side) {
  if (modbus_connect(ctx) != 0) return false;
  uint16_t registers[kRegisters];
  uint8_t ident[MODBUS_MAX_PDU_LENGTH];
  for (int i = 0; i < reps; ++i) {
    auto t0 = Clock::now();
    const int read = modbus_read_registers(ctx, kFirstRegister, kRegisters, registers);
    side.read.push_back(Ms(Clock::now() - t0));
    t0 = Clock::now();
    const int identified = modbus_report_slave_id(ctx, sizeof ident, ident);
    side.identify.push_back(Ms(Clock::now() - t0));
    side.failures += (read != kRegisters) + (identified <= 0);
  }
  modbus_close(ctx);
  return true;
}

}  // namespace

int main(int argc, char* argv[]) {
  int rounds = 20;
  int reps = 25;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string arg = argv[i];
    if (arg == "--rounds") rounds = std::max(1, std::atoi(argv[i + 1]));
    if (arg == "--reps") reps = std::max(1, std::atoi(argv[i + 1]));
  }

  nx480::sim::RelayConfig config;
  config.version = "1.14.d";
  config.ident_length = 29;  // one byte short of the 30 asked for: the reply's length ends it
  nx480::sim::PtyOptions options;
  options.baud = kBaud;
  nx480::sim::PtyRelay relay(config, options);
  relay.Start();
  const std::string path = relay.SlavePath();

  modbus_t* ctx = modbus_new_rtu(path.c_str(), kBaud, 'N', 8, 1);
  if (ctx == nullptr || modbus_set_slave(ctx, 1) != 0) {
    std::fprintf(stderr, "roundtrip_bench: libmodbus cannot use %s\n", path.c_str());
    return 1;
  }
  // The same bounds as ours: a reply within 130 ms, bytes at most 22 ms apart.
  modbus_set_response_timeout(ctx, 0, 130'000);
  modbus_set_byte_timeout(ctx, 0, 22'000);

  Side ours, theirs;
  for (int round = 0; round < rounds; ++round) {
    const bool oursFirst = round % 2 == 0;
    for (int turn = 0; turn < 2; ++turn) {
      const bool ok =
          (turn == 0) == oursFirst ? RunOurs(path, reps, ours) : RunLibmodbus(ctx, reps, theirs);
      if (!ok) {
        std::fprintf(stderr, "roundtrip_bench: cannot open %s\n", path.c_str());
        modbus_free(ctx);
        return 1;
      }
    }
  }
  modbus_free(ctx);

  const double ourRead = Median(ours.read), theirRead = Median(theirs.read);
  const double ourIdent = Median(ours.identify), theirIdent = Median(theirs.identify);
  std::printf("relay on %s, replies paced at %d baud; %d rounds of %d exchanges a side\n",
              path.c_str(), kBaud, rounds, reps);
  std::printf("register read (8 + 21 bytes): ours %.3f ms, libmodbus %.3f ms (medians)\n", ourRead,
              theirRead);
  std::printf("identification (4 + 29 bytes): ours %.3f ms, libmodbus %.3f ms (medians)\n",
              ourIdent, theirIdent);
  std::printf("failed exchanges: ours %d, libmodbus %d\n", ours.failures, theirs.failures);
  std::printf(
      "roundtrip_vs_libmodbus: %.3f  (goal <= 1.10; ours %.2f ms, libmodbus %.2f ms, "
      "median of %zu)\n",
      ourRead / theirRead, ourRead, theirRead, ours.read.size());
  std::printf(
      "identify_vs_libmodbus: %.3f  (goal <= 1.10; ours %.2f ms, libmodbus %.2f ms, "
      "median of %zu)\n",
      ourIdent / theirIdent, ourIdent, theirIdent, ours.identify.size());
  return ours.failures == 0 && theirs.failures == 0 ? 0 : 1;
}
