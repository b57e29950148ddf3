// recording_bench: the CPU the recording costs per live snapshot - the sample decoded from a
// snapshot and stamped with the PC's time, its line made and appended through the writer's
// buffer, the buffer written every 2 s as at the live window's rate (a snapshot every 200 ms) -
// and the share of one core that makes at that rate.
//
//   recording_bench [--snapshots N]
//
// Prints `recording_cpu_per_snapshot_us: <us>` (the process's CPU time over N snapshots, into a
// day file in a temporary folder) with the share of a core; exits 0 when every sample was
// written.
#include <stdlib.h>
#include <time.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "recording.h"

namespace {

double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
  int snapshots = 50000;  // close to three hours at the window's rate
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--snapshots") == 0) snapshots = std::atoi(argv[i + 1]);
  if (snapshots < 1) return 2;

  char pattern[] = "/tmp/nx480-recording-bench.XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  const std::string root = pattern;

  // A snapshot of an x.13 relay with the temperature: 16 registers, the second frequency.
  std::array<uint8_t, 253> bytes{};
  auto put = [&bytes](size_t at, uint16_t value) {
    bytes[at] = static_cast<uint8_t>(value >> 8);
    bytes[at + 1] = static_cast<uint8_t>(value);
  };
  const uint16_t registers[16] = {230, 229,  231,  5000, 0,    230,  230,  231,
                                  300, 2971, 2304, 2291, 2313, 2299, 2301, 2310};
  for (int r = 0; r < 16; ++r) put(2 * r, registers[r]);
  put(nx480::kLiveSecondFrequency, 5001);
  const nx480::LiveImage image{bytes, 16, nx480::FirmwareFeaturesOf(13)};

  bool ok = true;
  auto now = nx480::RecordingWriter::Clock::now();
  const double start = CpuSeconds();
  {
    nx480::RecordingWriter writer(root, 500'000'000);
    for (int i = 0; i < snapshots && ok; ++i) {
      nx480::RecordingSample sample = nx480::SampleOf(image, (i & 64) ? 0x80u : 0u, true);
      nx480::StampNow(sample);
      ok = writer.Append(1234, sample, now);
      writer.FlushIfDue(now);  // the window's timer
      now += std::chrono::milliseconds(200);
    }
    ok = writer.Flush() && ok;
  }
  const double cpu = CpuSeconds() - start;
  uint64_t size = 0;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root))
    if (e.is_regular_file()) size += e.file_size();
  std::filesystem::remove_all(root);

  const double perSnapshotUs = cpu / snapshots * 1e6;
  const double share = perSnapshotUs / 200000.0 * 100.0;  // a snapshot every 200 ms
  std::printf(
      "recording_cpu_per_snapshot_us: %.2f  (goal under 2000 us: 1 %% of a core at a snapshot "
      "every 200 ms; %.4f %% of a core; %d snapshots, %.1f bytes a line)\n",
      perSnapshotUs, share, snapshots, static_cast<double>(size) / snapshots);
  std::printf("recording_core_share_percent: %.4f\n", share);
  return ok ? 0 : 1;
}
