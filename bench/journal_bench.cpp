// journal_bench: a settings write as the tool makes it - the settings read first and kept in the
// change journal (an entry written and synced in a temporary folder), the two write blocks, the
// settings read back, the entry closed - against a plain write of the two blocks alone, side by
// side on the same simulated relay at 115200 baud.
//
//   journal_bench [--rounds N]
//
// Our link as the transaction tests use it: the worker parked, the transaction made on this
// thread (its synchronous steps then run in place). Each round makes one plain and one journaled
// write (the one that goes first alternates), each changing Uu1 so that there is a row to keep.
// Prints `settings_write_journaled_vs_plain: <ratio>` with the medians and the time the four
// extra reads take on the wire at least; exits 0 when every write succeeded.
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "bench_support.h"
#include "journal_changes.h"
#include "modbus.h"
#include "paced_link.h"
#include "settings_transactions.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using nx480::bench::Median;
using nx480::bench::Ms;

constexpr int kBaud = 115200;

// The settings page as the write sees it, keeping its entries as the window does.
class JournalingPage : public nx480::ParameterWindow {
 public:
  JournalingPage(std::string root, const nx480::RelaySession& session)
      : root_(std::move(root)), session_(session) {}
  void StoreParameterWords(size_t, const uint16_t*, size_t) override {}
  void SettingsToBoxes() override {}
  void StoreDifferences(const nx480::SettingsWords&, const nx480::SettingsWords&) override {}
  void ShowResult(nx480::Outcome shown) override { outcome = shown; }
  const nx480::SettingsWords& WriteHandOver() const override { return toWrite; }
  bool JournalBefore(const nx480::SettingsWords& held,
                     const nx480::SettingsWords& written) override {
    nx480::JournalEntry entry = nx480::NewJournalEntry(
        session_, nx480::ChangeKind::Settings, nx480::Keyed("settings-ctl", {"journal_bench"}));
    entry.details = nx480::SettingsChangeDetails(held, written, session_.firmware);
    entry.backups.push_back(nx480::SettingsBackup(held));
    nx480::FileError error;
    if (!nx480::OpenJournalEntry(root_, entry, error)) return false;
    entry_ = std::move(entry);
    return true;
  }
  void JournalAfter(nx480::Outcome shown, const nx480::SettingsWords&) override {
    if (!entry_) return;
    nx480::SetOutcome(*entry_, shown);
    nx480::FileError error;
    closed = nx480::CloseJournalEntry(root_, *entry_, error);
    entry_.reset();
  }

  nx480::SettingsWords toWrite{};
  nx480::Outcome outcome = nx480::Outcome::CommunicationError;
  bool closed = false;

 private:
  std::string root_;
  const nx480::RelaySession& session_;
  std::optional<nx480::JournalEntry> entry_;
};

// The two blocks alone, as a write went out before it kept anything: words 0-7, then 8-23 with
// the relay's 250 ms to store them, each acknowledgement checked with its echo.
bool PlainWrite(nx480::TModbus& link, const nx480::SettingsWords& words) {
  const struct {
    const nx480::FrameTemplate& frame;
    size_t first, count;
    std::chrono::milliseconds wait;
  } blocks[] = {{nx480::templates::kParamsWriteLow, 0, 8, 0ms},
                {nx480::templates::kParamsWriteHigh, 8, 16, 250ms}};
  for (const auto& b : blocks) {
    nx480::RequestPatch patch;
    patch.words = words.data() + b.first;
    patch.wordCount = b.count;
    link.SendRequest(link.BuildRequest(b.frame, patch));
    if (b.wait.count() > 0 && !link.Sleep(b.wait)) return false;
    if (!link.CheckReply(nx480::kMainReply, b.frame.replyLength) || !link.CheckEcho()) return false;
  }
  return true;
}

// The least the four reads take on the wire: requests of 8 bytes, replies of 5 + 2 n bytes.
double ExtraReadsWireMs() {
  const int bytes = 2 * ((8 + 5 + 16) + (8 + 5 + 32));
  return bytes * 10 * 1000.0 / kBaud;
}

}  // namespace

int main(int argc, char* argv[]) {
  const int rounds = nx480::bench::RoundsOption(argc, argv, 7);

  const std::optional<std::string> folder = nx480::bench::TemporaryFolder("journal_bench");
  if (!folder) return 1;
  const std::string root = *folder + "/journal";

  nx480::sim::RelayConfig config;
  config.version = "1.14.d";
  config.serial = 4817;
  nx480::bench::PacedLink paced(config, kBaud);
  if (!paced.Opened("journal_bench")) return 1;
  nx480::sim::PtyRelay& relay = paced.relay;
  nx480::TModbus& link = paced.link;
  nx480::RelaySession session;
  session.port = relay.SlavePath();
  session.identText = "NX480   1.14.d";
  session.serialNumber = config.serial;
  session.firmware = nx480::FirmwareFeaturesOf(14);
  JournalingPage page(root, session);
  nx480::SettingsWords words{};
  for (uint16_t i = 0; i < words.size(); ++i)
    words[i] = relay.GetRegister(nx480::sim::Table::kHolding, i).value_or(0);

  std::vector<double> plain, journaled;
  int failures = 0;
  for (int round = 0; round < rounds; ++round) {
    for (int side = 0; side < 2; ++side) {
      const bool journal = (side == 0) == (round % 2 == 0);
      words[8] = static_cast<uint16_t>(190 + (round * 2 + side) % 10);  // Uu1
      const auto t0 = Clock::now();
      if (journal) {
        page.toWrite = words;
        page.closed = false;
        nx480::WriteParameters(link, page);
        failures += page.outcome != nx480::Outcome::Ok || !page.closed;
        journaled.push_back(Ms(Clock::now() - t0));
      } else {
        failures += !PlainWrite(link, words);
        plain.push_back(Ms(Clock::now() - t0));
      }
    }
  }
  link.ClosePort();
  std::system(("rm -rf '" + *folder + "'").c_str());

  const double p = Median(plain), j = Median(journaled);
  std::printf("plain write: %.1f ms, journaled write: %.1f ms (medians of %d), failures: %d\n", p,
              j, rounds, failures);
  std::printf(
      "settings_write_journaled_vs_plain: %.3f  (journaled %.1f ms, plain %.1f ms: +%.1f ms, of "
      "which the four reads take %.1f ms on the wire at least; the entry synced to disk)\n",
      j / p, j, p, j - p, ExtraReadsWireMs());
  return failures == 0 ? 0 : 1;
}
