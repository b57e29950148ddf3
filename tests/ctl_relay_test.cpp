// nx480ctl end to end: the program run as a child process against the simulated relay, every
// command, and its exit codes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "ctl_process.h"
#include "firmware_image.h"
#include "history_command.h"
#include "journal_changes.h"
#include "pty.h"
#include "pty_relay.h"
#include "recording.h"
#include "relay_live.h"
#include "settings_file.h"
#include "settings_table.h"
#include "text_codec.h"

namespace sim = nx480::sim;
using namespace std::chrono_literals;

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return in ? text.str() : std::string("(missing)");
}

void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto until = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

class Ctl : public ::testing::Test {
 protected:
  void Start(sim::RelayConfig config = {}, sim::PtyOptions options = {}) {
    relay_ = std::make_unique<sim::PtyRelay>(config, options);
    relay_->Start();
    live_ = sim::AttachLiveValues(*relay_);
    live_->SetNoise(false);
  }
  void SetUp() override {
    char pattern[] = "/tmp/nx480ctl-test.XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    if (relay_) relay_->Stop();
    std::system(("rm -rf '" + dir_ + "'").c_str());
  }
  // nx480ctl with --port of the simulated relay, its journal in the test's folder (or under
  // `dataHome`).
  CtlResult Run(std::vector<std::string> args, const std::string& dataHome = {}) {
    args.insert(args.begin(), {"--port", relay_->SlavePath()});
    CtlResult result =
        RunCtl(args, {{"XDG_DATA_HOME", dataHome.empty() ? Path("data") : dataHome}});
    // A request the program left unanswered is handled before the next case changes the relay.
    if (!relay_->WaitDrained(std::chrono::seconds(30)))
      ADD_FAILURE() << "the relay never caught up";
    return result;
  }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  uint16_t Holding(uint16_t address) const {
    return relay_->GetRegister(sim::Table::kHolding, address).value_or(0xFFFF);
  }
  void Fault(const std::string& rule) { relay_->AddFault(*sim::ParseFaultRule(rule)); }
  sim::UploadMode UploadMode() const {
    return relay_->WithModel([](sim::RelayModel& m) { return m.Upload().Mode(); });
  }

  std::unique_ptr<sim::PtyRelay> relay_;
  std::shared_ptr<sim::LiveValues> live_;
  std::string dir_;
};

// An entry's description, or its texts, as nx480ctl and entry.txt give them.
std::string English(const nx480::JournalEntry& entry) {
  return nx480::JournalDescription(entry, nx480::TextLanguage::English);
}
std::vector<std::string> English(const std::vector<nx480::JournalText>& texts) {
  return nx480::RenderJournalLines(texts, nx480::TextLanguage::English);
}

TEST_F(Ctl, ExitCodesWithoutARelay) {
  WriteAll(Path("short.nx4"), std::string(47, '\0'));
  WriteAll(Path("long.nx4"), std::string(49, '\0'));
  ASSERT_EQ(::mkfifo(Path("fifo.nx4").c_str(), 0644), 0);  // no writer: an open would wait
  sim::ImageOptions broken;
  broken.blocks = 2;
  broken.defect = sim::ImageDefect::kBadCrc;
  broken.defect_block = 1;
  const auto image = sim::WriteImage(broken);
  WriteAll(Path("bad.bn6"), std::string(image.begin(), image.end()));
  WriteAll(Path("huge.bn6"), "");
  ASSERT_EQ(::truncate(Path("huge.bn6").c_str(), 3'000'000'000), 0);  // sparse: no disk taken
  const struct {
    std::vector<std::string> args;
    std::map<std::string, std::string> env;
    int code;
    std::string says;  // in standard error (or output, for the help)
  } cases[] = {
      {{"--help"}, {}, 0, "Exit codes"},
      {{"upload", "--help"}, {}, 0, "Usage: nx480ctl upload"},
      {{"--version"}, {}, 0, "nx480ctl 1."},
      {{}, {}, 2, "no command given"},
      {{"settings", "copy", "x"}, {}, 2, "unknown settings command"},
      {{"calibration"}, {}, 2, "add --service"},
      {{"identify"}, {{"NX480_PORTS", ""}}, 3, "no serial port found"},
      // The same words whether --port or NX480_PORTS named the port; each reason once.
      {{"identify"},
       {{"NX480_PORTS", Path("absent")}},
       3,
       "nx480ctl: no relay: " + Path("absent") + ": no such device\n"},
      {{"--port", Path("absent"), "identify"},
       {},
       3,
       "nx480ctl: no relay: " + Path("absent") + ": no such device\n"},
      {{"--port", Path("short.nx4"), "identify"},
       {},
       3,
       "nx480ctl: no relay: " + Path("short.nx4") + ": not a serial device\n"},
      {{"identify"},
       {{"NX480_PORTS", Path("absent") + ":" + Path("short.nx4") + ":" + Path("gone")}},
       3,
       "nx480ctl: no relay: " + Path("absent") + ", " + Path("gone") + ": no such device; " +
           Path("short.nx4") + ": not a serial device\n"},
      {{"settings", "show", Path("missing.nx4"), "--firmware", "14"}, {}, 5, "no such file"},
      {{"settings", "show", Path("short.nx4"), "--firmware", "14"}, {}, 5, "this one 47"},
      {{"settings", "write", Path("long.nx4")}, {}, 5, "this one more"},
      {{"settings", "show", Path("fifo.nx4"), "--firmware", "14"}, {}, 5, "not a regular file"},
      {{"upload", Path("bad.bn6"), "--check"}, {}, 5, "block 1: bad CRC"},
      // Named by its own size, not by the part an image can hold.
      {{"upload", Path("huge.bn6"), "--check"}, {}, 5, ": 3000000000 bytes is not a whole"},
      {{"upload", Path("bad.bn6")}, {}, 5, "block 1: bad CRC"},
  };
  for (const auto& c : cases) {
    std::string line;
    for (const std::string& a : c.args) line += a + " ";
    const CtlResult r = RunCtl(c.args, c.env);
    EXPECT_EQ(r.code, c.code) << line << "\n" << r.err;
    EXPECT_TRUE(Has(r.err + r.out, c.says)) << line << "\n" << r.err << r.out;
  }
}

TEST_F(Ctl, IdentifyBySearchAndTrace) {
  sim::RelayConfig config;
  config.temperature = true;
  config.serial = 4321;
  Start(config);
  const CtlResult r = RunCtl({"--trace", "identify"},
                             {{"NX480_PORTS", Path("absent") + ":" + relay_->SlavePath()}});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "port: " + relay_->SlavePath() +
                       "\nidentification: NX480 -   1.14.d\nfirmware: 14 (delays in steps of 1/20 "
                       "s)\ntemperature: yes\nserial number: 004321\n");
  // The windows' frame log: the identification and the serial number read, sent and received.
  EXPECT_TRUE(Has(r.err, "nx480.link.frames: -> +0.0 ms connection/identification")) << r.err;
  EXPECT_TRUE(Has(r.err, "<- ")) << r.err;
  EXPECT_TRUE(Has(r.err, " good (")) << r.err;
}

TEST_F(Ctl, LiveSnapshotAndStream) {
  sim::RelayConfig config;
  config.version = "1.14.d";
  Start(config);
  live_->Trip(*sim::ParseStage("Uu2", 14), 30s);
  const CtlResult one = Run({"live"});
  ASSERT_EQ(one.code, 0) << one.err;
  EXPECT_TRUE(Has(one.out, "  U1 230  U2 230  U3 231 V  F 50,00 Hz")) << one.out;
  EXPECT_TRUE(Has(one.out, "tripped: Uu2")) << one.out;
  EXPECT_FALSE(Has(one.out, "tZap")) << "the countdown is hidden while a stage is tripped";

  // --csv: the recording's header and lines, read back as a day file is.
  const auto begin = std::chrono::steady_clock::now();
  const CtlResult stream = Run({"live", "--csv", "--count", "4"});
  const auto took = std::chrono::steady_clock::now() - begin;
  ASSERT_EQ(stream.code, 0) << stream.err;
  EXPECT_EQ(stream.out.rfind(nx480::RecordingHeader(), 0), 0u) << stream.out;
  const nx480::RecordingRead read = nx480::ParseRecording(stream.out);
  EXPECT_EQ(read.badLines, 0) << stream.out;
  ASSERT_EQ(read.samples.size(), 4u) << stream.out;
  EXPECT_DOUBLE_EQ(read.samples[3].u[2], 231.1);  // in tenths where the window shows 231
  EXPECT_DOUBLE_EQ(read.samples[3].f, 50.0);
  EXPECT_TRUE(read.samples[3].Tripped(nx480::Stage::Uu2));
  // At the window's rate: four snapshots take three periods of 200 ms at least.
  EXPECT_GE(took, 600ms);
  // --csv-semicolon: the former lines, the window's numbers.
  const CtlResult former = Run({"live", "--csv-semicolon", "--count", "2"});
  ASSERT_EQ(former.code, 0) << former.err;
  const std::vector<std::string> lines = Lines(former.out);
  ASSERT_EQ(lines.size(), 3u) << former.out;
  EXPECT_EQ(lines[0].rfind("time;U1 [V];", 0), 0u);
  EXPECT_TRUE(Has(lines[2], ";230;230;231;50,00;;")) << lines[2];

  // A relay that stops answering: an empty snapshot and exit code 4; in CSV its time and empty
  // cells, which a reader of the recording passes over.
  Fault("silence:4:-1");
  const CtlResult silent = Run({"live"});
  EXPECT_EQ(silent.code, 4);
  EXPECT_TRUE(Has(silent.out, "no reply")) << silent.out;
  const CtlResult gap = Run({"live", "--csv"});
  EXPECT_EQ(gap.code, 4);
  const std::vector<std::string> gapLines = Lines(gap.out);
  ASSERT_EQ(gapLines.size(), 2u) << gap.out;
  const std::string header = nx480::RecordingHeader();
  EXPECT_EQ(gapLines[1].find(','), 29u) << gapLines[1];  // after 2026-12-10T14:03:07.250+01:00
  EXPECT_EQ(gapLines[1].substr(29),
            std::string(std::count(header.begin(), header.end(), ','), ','));
  EXPECT_EQ(nx480::ParseRecording(gap.out).badLines, 1);
  relay_->ClearFaults();

  // A stream without end: Ctrl-C ends it normally.
  CtlProcess endless({"--port", relay_->SlavePath(), "live", "--stream"});
  ASSERT_TRUE(endless.ReadUntil(
      [](const CtlResult& r) { return std::count(r.out.begin(), r.out.end(), '\n') >= 3; }, 30s));
  endless.Signal(SIGINT);
  const CtlResult ended = endless.Finish();
  // Ended normally: 0, or 4 where a reply came too late for the link on a busy machine and its
  // line says so.
  EXPECT_EQ(ended.code, Has(ended.out, "no reply") ? 4 : 0) << ended.err << ended.out;
}

// live --record: the window's day file beside the unchanged output; a full disk stops it.
TEST_F(Ctl, LiveRecord) {
  sim::RelayConfig config;
  config.version = "1.14.d";
  Start(config);
  live_->Trip(*sim::ParseStage("Fo1", 14), 60s);
  const CtlResult one = Run({"live", "--record"});  // one snapshot, into the same file
  ASSERT_EQ(one.code, 0) << one.err;
  EXPECT_TRUE(Has(one.out, "tripped: Fo1")) << one.out;
  const CtlResult run = Run({"live", "--record", "--csv", "--count", "12"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 13) << run.out;
  nx480::RecordingSample now;
  nx480::StampNow(now);
  const std::string relays = Path("data") + "/nx480-pc/recordings";
  std::vector<std::string> folders;
  for (const auto& e : std::filesystem::directory_iterator(relays))
    folders.push_back(e.path().string());
  ASSERT_EQ(folders.size(), 1u);
  const std::string file = folders[0] + "/" + nx480::RecordingDay(now) + ".csv";
  std::ifstream in(file);
  const std::string text{std::istreambuf_iterator<char>(in), {}};
  EXPECT_EQ(text.rfind(nx480::RecordingHeader(), 0), 0u) << text;
  // The stream's lines are the file's, byte for byte.
  const std::string streamed = run.out.substr(nx480::RecordingHeader().size());
  ASSERT_GE(text.size(), streamed.size());
  EXPECT_EQ(text.substr(text.size() - streamed.size()), streamed);
  const nx480::RecordingRead read = nx480::ParseRecording(text);
  EXPECT_EQ(read.badLines, 0);
  ASSERT_EQ(read.samples.size(), 13u);
  for (const nx480::RecordingSample& s : read.samples) {
    EXPECT_TRUE(s.Tripped(nx480::Stage::Fo1));
    EXPECT_FALSE(s.Tripped(nx480::Stage::Uu1));
    EXPECT_NEAR(s.u[0], 230, 1);  // in tenths: the display rounds to 230
  }

  std::filesystem::remove(file);
  std::filesystem::create_symlink("/dev/full", file);
  const CtlResult full = Run({"live", "--record", "--count", "3"});
  EXPECT_EQ(full.code, 5);
  EXPECT_EQ(std::count(full.out.begin(), full.out.end(), '\n'), 3) << full.out;
  EXPECT_TRUE(Has(full.err, "recording stopped: the disk is full")) << full.err;
}

// live --record over its cap: its own oldest day files go, each named on standard error; a
// user's file, a foreign folder and a linked folder's files stay.
TEST_F(Ctl, LiveRecordCapRemovesOnlyItsOwnDayFiles) {
  Start();
  namespace fs = std::filesystem;
  const fs::path root = Path("data") + "/nx480-pc/recordings", outside = Path("outside");
  const auto put = [](const fs::path& path) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << std::string(600'000, 'x');
  };
  const fs::path theirs[] = {root / "1234" / "my-notes01.csv", root / "archive" / "2020-01-01.csv",
                             outside / "2019-05-01.csv", outside / "holiday-01.csv"};
  for (const fs::path& path : theirs) put(path);
  const fs::path own[] = {root / "77" / "2020-01-03.csv", root / "1234" / "2020-01-04.csv"};
  for (const fs::path& path : own) put(path);
  fs::create_directory_symlink(outside, root / "photos");
  fs::create_directories(Path("config") + "/nx480-pc");
  WriteAll(Path("config") + "/nx480-pc/recording.conf", "cap-mb = 1\n");
  const CtlResult run =
      RunCtl({"--port", relay_->SlavePath(), "live", "--count", "3", "--record"},
             {{"XDG_DATA_HOME", Path("data")}, {"XDG_CONFIG_HOME", Path("config")}});
  EXPECT_EQ(run.code, 0) << run.err;
  for (const fs::path& path : theirs) EXPECT_TRUE(fs::exists(path)) << path;
  // 1.2 MB of its own: the oldest goes, which brings it under 1 MB.
  EXPECT_FALSE(fs::exists(own[0]));
  EXPECT_TRUE(fs::exists(own[1]));
  EXPECT_EQ(Lines(run.err), std::vector<std::string>{"nx480ctl: recording cap of 1 MB: removed " +
                                                     own[0].string()});
}

TEST_F(Ctl, SettingsRoundTripDiffAndShow) {
  Start();
  const std::string file = Path("relay.nx4");
  const CtlResult read = Run({"settings", "read", file});
  ASSERT_EQ(read.code, 0) << read.err;
  const std::string bytes = ReadAll(file);
  ASSERT_EQ(bytes.size(), 48u);
  for (uint16_t w = 0; w < 24; ++w)
    EXPECT_EQ(static_cast<uint8_t>(bytes[2 * w]) | static_cast<uint8_t>(bytes[2 * w + 1]) << 8,
              Holding(w))
        << "word " << w;
  EXPECT_EQ(Run({"settings", "diff", file}).code, 0);

  // The file changed in Uu1 (word 8) and tUu2 (high byte of word 0).
  std::string changed = bytes;
  changed[16] = static_cast<char>(190);
  changed[17] = 0;
  changed[1] = static_cast<char>(changed[1] + 2);
  const std::string target = Path("target.nx4");
  WriteAll(target, changed);
  const CtlResult diff = Run({"settings", "diff", target});
  EXPECT_EQ(diff.code, 1) << diff.err;
  EXPECT_TRUE(Has(diff.out, "Uu1      196 V (85 %)")) << diff.out;
  EXPECT_TRUE(Has(diff.out, "190 V (83 %)")) << diff.out;
  EXPECT_TRUE(Has(diff.out, "tUu2")) << diff.out;
  EXPECT_EQ(std::count(diff.out.begin(), diff.out.end(), '\n'), 4) << diff.out;  // scale, title, 2
  EXPECT_TRUE(Has(diff.err, "2 rows differ")) << diff.err;

  const CtlResult write = Run({"settings", "write", target});
  ASSERT_EQ(write.code, 0) << write.err;
  EXPECT_TRUE(Has(write.err, "read back and equal")) << write.err;
  EXPECT_EQ(Holding(8), 190);
  EXPECT_EQ(Run({"settings", "diff", target}).code, 0);

  // A relay that keeps its own Uu1 whatever it is sent: the read-back names the row.
  relay_->WithModel([](sim::RelayModel& m) {
    m.SetAfterWriteHook(
        [](sim::Table, uint16_t, uint16_t, sim::RegisterBank& bank) { bank.holding.Set(8, 200); });
  });
  const CtlResult kept = Run({"settings", "write", file});
  EXPECT_EQ(kept.code, 6) << kept.err;
  EXPECT_TRUE(Has(kept.out, "Uu1")) << kept.out;
  EXPECT_TRUE(Has(kept.out, "200 V (87 %)")) << kept.out;
  EXPECT_TRUE(Has(kept.err, "refused by the relay")) << kept.err;

  // Show: at the relay's time scale, or at a firmware's without a relay.
  const CtlResult shown = Run({"settings", "show", file});
  EXPECT_EQ(shown.code, 0);
  EXPECT_TRUE(Has(shown.out, "time scale: 20 steps per second (firmware 14)")) << shown.out;
  EXPECT_TRUE(Has(shown.out, "tRel     30.0 s")) << shown.out;
  const CtlResult old = RunCtl({"settings", "show", file, "--firmware", "4"});
  EXPECT_EQ(old.code, 0);
  EXPECT_TRUE(Has(old.out, "tRel     60.0 s")) << old.out;

  // Failures: no reply, an exception reply, an unwritable file.
  Fault("silence:3:-1");
  EXPECT_EQ(Run({"settings", "read", Path("x.nx4")}).code, 4);
  relay_->ClearFaults();
  Fault("exception:16:1");
  EXPECT_EQ(Run({"settings", "write", target}).code, 6);
  EXPECT_EQ(Run({"settings", "read", Path("no/such/folder.nx4")}).code, 5);
  EXPECT_EQ(ReadAll(Path("x.nx4")), "(missing)");
}

TEST_F(Ctl, SettingsCheckAgainstAProfile) {
  Start();  // Uu1 196 V, Fu1 47.5 Hz, tRel 600 steps: 30 s at firmware 14's 20 steps per second
  const std::string header = "name: Test grid\nsource: test table\n";
  std::filesystem::create_directories(Path("config/nx480-pc/profiles"));
  WriteAll(Path("config/nx480-pc/profiles/grid.txt"),
           header + "Uu1 184 196 V\nFu1 47.5 47.5 Hz\ntRel 30 30 s\n");
  WriteAll(Path("tight.txt"), header + "# Uu1 one volt lower\nUu1 184 195 V\nFu1 47.5 47.5 Hz\n");
  WriteAll(Path("bad.txt"), header + "\nUu1 184 195 Hz\nFu1 48 47.5 Hz\n");
  // A terminal's escape sequences and a NUL in the file: quoted escaped, never raw.
  WriteAll(Path("escape.txt"), header + std::string("Uu1 184 \x1B[2J\x1B[31m\0 V\n", 21));

  // By name from the user's folder: every row inside.
  const CtlResult good = RunCtl({"--port", relay_->SlavePath(), "settings", "check", "grid"},
                                {{"XDG_CONFIG_HOME", Path("config")}});
  EXPECT_EQ(good.code, 0) << good.err;
  EXPECT_TRUE(Has(good.out, "profile: Test grid\nsource: test table\n")) << good.out;
  EXPECT_TRUE(Has(good.out, "Uu1      196 V (85 %)        184..196 V        ok")) << good.out;
  EXPECT_TRUE(Has(good.out, "tRel     30.0 s")) << good.out;

  const CtlResult tight = Run({"settings", "check", Path("tight.txt")});
  EXPECT_EQ(tight.code, 1) << tight.err;
  EXPECT_TRUE(Has(tight.out, "184..195 V        OUTSIDE")) << tight.out;
  EXPECT_TRUE(Has(tight.out, "47.5..47.5 Hz     ok")) << tight.out;
  EXPECT_TRUE(Has(tight.err, "Uu1 196 V (85 %) is outside 184..195 V")) << tight.err;

  const CtlResult bad = Run({"settings", "check", Path("bad.txt")});
  EXPECT_EQ(bad.code, 5) << bad.err;
  EXPECT_TRUE(Has(bad.err, Path("bad.txt") + ":4: Uu1 is in V or %, not Hz")) << bad.err;
  EXPECT_TRUE(Has(bad.err, Path("bad.txt") + ":5: Fu1: the lowest value 48")) << bad.err;
  EXPECT_TRUE(Has(bad.err, "2 errors, nothing checked")) << bad.err;
  EXPECT_EQ(bad.out, "");
  const CtlResult escaped = Run({"settings", "check", Path("escape.txt")});
  EXPECT_EQ(escaped.code, 5) << escaped.err;
  EXPECT_TRUE(Has(escaped.err, ":3: Uu1: '\\x1B[2J\\x1B[31m\\x00' is not a number")) << escaped.err;
  EXPECT_EQ(escaped.err.find('\x1B'), std::string::npos);
  EXPECT_EQ(escaped.err.find('\0'), std::string::npos);

  // A file at a firmware's time scale, without a relay: tRel's 600 steps are 60 s at 10 steps
  // per second.
  const std::string file = Path("relay.nx4");
  ASSERT_EQ(Run({"settings", "read", file}).code, 0);
  const std::string grid = Path("config/nx480-pc/profiles/grid.txt");
  EXPECT_EQ(RunCtl({"settings", "check", grid, file, "--firmware", "14"}).code, 0);
  const CtlResult old = RunCtl({"settings", "check", grid, file, "--firmware", "4"});
  EXPECT_EQ(old.code, 1) << old.err;
  EXPECT_TRUE(Has(old.err, "tRel 60.0 s is outside 30..30 s")) << old.err;
  EXPECT_EQ(RunCtl({"settings", "check", "absent", file, "--firmware", "4"},
                   {{"XDG_CONFIG_HOME", Path("config")}})
                .code,
            5);
  EXPECT_EQ(RunCtl({"settings", "check", grid, "--firmware", "4"}).code, 2);
}

TEST_F(Ctl, ClockAndRelayMode) {
  sim::RelayConfig config;
  config.clock = sim::ParseDateTime("2026-12-09T10:20:30.45");
  config.clock_running = false;
  Start(config);
  const CtlResult clock = Run({"clock"});
  ASSERT_EQ(clock.code, 0) << clock.err;
  EXPECT_TRUE(Has(clock.out, "relay: 2026-12-09 10:20:30.450\n")) << clock.out;
  EXPECT_TRUE(Has(clock.out, "relay - pc: ")) << clock.out;
  const CtlResult set = Run({"clock", "--set"});
  ASSERT_EQ(set.code, 0) << set.err;
  EXPECT_TRUE(Has(set.out, "relay clock set to ")) << set.out;
  const sim::DateTime now = sim::PcLocalTime();
  const sim::DateTime relayNow = relay_->WithModel([](sim::RelayModel& m) { return m.ClockAt(); });
  EXPECT_LT(std::llabs(sim::ToMilliseconds(relayNow) - sim::ToMilliseconds(now)), 5000);

  const CtlResult on = Run({"relay", "on"});
  EXPECT_EQ(on.code, 0) << on.err;
  EXPECT_EQ(relay_->WithModel([](sim::RelayModel& m) { return m.Mode(); }), sim::RelayMode::kOn);
  EXPECT_EQ(Run({"relay", "auto"}).code, 0);
  EXPECT_EQ(relay_->WithModel([](sim::RelayModel& m) { return m.Mode(); }), sim::RelayMode::kAuto);

  // --hold sends again every 4 s until Ctrl-C.
  CtlProcess hold({"--port", relay_->SlavePath(), "relay", "off", "--hold"},
                  {{"XDG_DATA_HOME", Path("data")}});
  // The first send and three repetitions.
  const auto until = std::chrono::steady_clock::now() + 40s;
  while (relay_->WithModel([](sim::RelayModel& m) { return m.ModeCommands(); }) < 4) {
    ASSERT_LT(std::chrono::steady_clock::now(), until) << "no repetition";
    std::this_thread::sleep_for(20ms);
  }
  // Ctrl-C ends the hold with the output back on Auto.
  hold.Signal(SIGINT);
  const CtlResult held = hold.Finish();
  EXPECT_EQ(held.code, 0) << held.err;
  EXPECT_TRUE(Has(held.err, "relay mode sent: auto")) << held.err;
  EXPECT_EQ(relay_->WithModel([](sim::RelayModel& m) { return m.Mode(); }), sim::RelayMode::kAuto);

  // One journal entry for each change: the set, each mode sent, the hold's forcing (not its
  // repeats) and the Auto at its end.
  std::vector<nx480::JournalEntry> entries = nx480::ListJournal(Path("data/nx480-pc/journal"));
  std::reverse(entries.begin(), entries.end());
  ASSERT_EQ(entries.size(), 5u);
  for (const nx480::JournalEntry& entry : entries)
    EXPECT_EQ(entry.outcome, nx480::JournalOutcome::Done) << English(entry);
  EXPECT_EQ(entries[0].kind, nx480::ChangeKind::Clock);
  EXPECT_EQ(English(entries[0]),
            "clock set by nx480ctl clock --set: done, acknowledged by the relay");
  const std::vector<std::string> clockDetails = English(entries[0].details);
  ASSERT_EQ(clockDetails.size(), 4u);
  EXPECT_EQ(clockDetails[0], "relay time: 2026-12-09 10:20:30.450");
  EXPECT_NE(clockDetails[3], "remaining offset: unknown");
  const struct {
    const char* description;
    const char* mode;
  } modes[] = {{"relay output forced on by nx480ctl relay on", "mode: forced on"},
               {"relay output back to auto by nx480ctl relay auto", "mode: auto"},
               {"relay output forced off by nx480ctl relay off --hold", "mode: forced off"},
               {"relay output back to auto by nx480ctl relay off --hold", "mode: auto"}};
  for (size_t i = 0; i < std::size(modes); ++i) {
    EXPECT_EQ(entries[i + 1].kind, nx480::ChangeKind::RelayMode);
    EXPECT_EQ(English(entries[i + 1]),
              std::string(modes[i].description) + ": done, acknowledged by the relay");
    EXPECT_EQ(English(entries[i + 1].details),
              (std::vector<std::string>{modes[i].mode, "first send: acknowledged"}));
  }
}

// Without a journal a clock set and a forced output are refused before anything is sent; the
// output back to Auto goes out all the same.
TEST_F(Ctl, ClockAndRelayModeWithoutAJournal) {
  sim::RelayConfig config;
  config.clock = sim::ParseDateTime("2026-12-09T10:20:30.45");
  config.clock_running = false;
  Start(config);
  WriteAll(Path("plain"), "");
  const struct {
    std::vector<std::string> args;
    int code;
    uint64_t modeCommands;  // the relay has taken so far
  } cases[] = {{{"clock", "--set"}, 5, 0}, {{"relay", "on"}, 5, 0}, {{"relay", "auto"}, 0, 1}};
  for (const auto& c : cases) {
    const CtlResult r = Run(c.args, Path("plain/data"));
    EXPECT_EQ(r.code, c.code) << c.args[0] << ": " << r.err;
    EXPECT_TRUE(Has(r.err, "journal: ")) << r.err;
    EXPECT_TRUE(Has(r.err, "not a folder")) << r.err;
    EXPECT_EQ(relay_->WithModel([](sim::RelayModel& m) { return m.ModeCommands(); }),
              c.modeCommands);
    EXPECT_EQ(relay_->WithModel([](sim::RelayModel& m) { return m.ClockAt(); }), *config.clock);
  }
}

TEST_F(Ctl, NoRelayModeBeforeFirmware14) {
  sim::RelayConfig config;
  config.version = "1.13";
  Start(config);
  const CtlResult r = Run({"relay", "on"});
  EXPECT_EQ(r.code, 6);
  EXPECT_TRUE(Has(r.err, "x.14")) << r.err;
  EXPECT_EQ(relay_->WithModel([](sim::RelayModel& m) { return m.ModeCommands(); }), 0u);
}

TEST_F(Ctl, CalibrationInServiceMode) {
  sim::RelayConfig config;
  config.serial = 1234;
  Start(config);
  const CtlResult shown = Run({"--service", "calibration"});
  ASSERT_EQ(shown.code, 0) << shown.err;
  EXPECT_EQ(shown.out,
            "KalU1   1.000\nKalU2   1.000\nKalU3   1.000\nKalF    1.0000\nserial  001234\n");

  const CtlResult set = Run({"--service", "calibration", "set", "KalU2=1.002", "serial=4321"});
  ASSERT_EQ(set.code, 0) << set.err;
  EXPECT_EQ(Holding(0x19), 1002);
  EXPECT_EQ(Holding(0x18), 1000);
  EXPECT_EQ(Holding(0x1C), 0x00C8) << "word 4 kept";
  EXPECT_EQ(Holding(0x1D), 4321);
  EXPECT_EQ(Run({"--service", "calibration", "set", "KalF=7"}).code, 2) << "beyond the word";

  const CtlResult cleared = Run({"--service", "calibration", "clear-history"});
  EXPECT_EQ(cleared.code, 0) << cleared.err;
  EXPECT_EQ(relay_->WithModel([](sim::RelayModel& m) { return m.HistoryClears(); }), 1u);
  Fault("exception:16:1:0:3");
  EXPECT_EQ(Run({"--service", "calibration", "clear-history"}).code, 6);
}

TEST_F(Ctl, HistoryExport) {
  sim::RelayConfig config;
  config.history_fill = 30;
  Start(config);
  const CtlResult file = Run({"history", "--csv", Path("h.csv")});
  ASSERT_EQ(file.code, 0) << file.err;
  // The window's table of the same ring: the export's bytes.
  std::vector<nx480::HistoryRecord> records;
  for (const sim::EventRecord& e :
       relay_->WithModel([](sim::RelayModel& m) { return m.Events(); })) {
    nx480::HistoryRecord r{};
    const auto words = e.Registers();
    std::copy(words.begin(), words.end(), r.begin());
    records.push_back(r);
  }
  ASSERT_EQ(records.size(), 30u);
  std::string expected;
  ASSERT_TRUE(nx480::HistoryCsv(nx480::ctl::HistoryTable(records), expected));
  EXPECT_EQ(ReadAll(Path("h.csv")), expected);
  // A FIFO that a program reads gets the same bytes and stays a FIFO.
  ASSERT_EQ(::mkfifo(Path("h.fifo").c_str(), 0644), 0);
  const int reader = ::open(Path("h.fifo").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  EXPECT_EQ(Run({"history", "--csv", Path("h.fifo")}).code, 0);
  std::string piped(2 * expected.size(), '\0');
  piped.resize(
      static_cast<size_t>(std::max<ssize_t>(::read(reader, piped.data(), piped.size()), 0)));
  ::close(reader);
  EXPECT_EQ(piped, expected);
  struct stat fifo {};
  EXPECT_TRUE(::lstat(Path("h.fifo").c_str(), &fifo) == 0 && S_ISFIFO(fifo.st_mode));
  EXPECT_EQ(expected.rfind("Datum,\xE8"
                           "as;",
                           0),
            0u)
      << "Windows-1250";
  const CtlResult utf8 = Run({"history", "--csv", Path("u.csv"), "--utf8"});
  EXPECT_EQ(utf8.code, 0);
  EXPECT_EQ(ReadAll(Path("u.csv")), nx480::Cp1250ToUtf8(expected));
  EXPECT_EQ(Run({"history"}).out, nx480::Cp1250ToUtf8(expected));

  // A ring that cannot be read to its end writes nothing.
  Fault("silence:3:-1:10");
  const CtlResult broken = Run({"history", "--csv", Path("b.csv")});
  EXPECT_EQ(broken.code, 4);
  EXPECT_EQ(ReadAll(Path("b.csv")), "(missing)");
}

// Standard output, or a file, that takes no bytes: exit code 5 and a message, never a silent
// success. A pipe whose reader has gone fails the same way where SIGPIPE is ignored (the child
// inherits the test's disposition here).
TEST_F(Ctl, OutputThatCannotBeWritten) {
  Start();
  const bool root = ::geteuid() == 0;  // a copy of /dev/full: never the system's own node
  if (root) {
    ASSERT_EQ(::mknod(Path("full").c_str(), S_IFCHR | 0666, ::makedev(1, 7)), 0);
  }
  struct sigaction ignore {
  }, old{};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGPIPE, &ignore, &old);
  const struct {
    std::vector<std::string> args;
    const char* out;  // standard output: "full" (/dev/full), "gone" (a pipe nobody reads), ""
    std::string says;
  } cases[] = {
      {{"--help"}, "full", "standard output: No space left on device"},
      {{"--help"}, "gone", "standard output: Broken pipe"},
      {{"history"}, "full", "standard output: No space left on device"},
      {{"live", "--stream"}, "gone", "standard output: Broken pipe"},
      {{"settings", "read", Path("full")}, "", "the disk is full"},
      {{"history", "--csv", Path("full")}, "", "the disk is full"},
      {{"report", Path("full")}, "", "the disk is full"},
  };
  for (const auto& c : cases) {
    if (!root && std::count(c.args.begin(), c.args.end(), Path("full")) > 0) continue;
    std::string line = c.out;
    for (const std::string& a : c.args) line += " " + a;
    int out = -1;
    if (c.out == std::string("full")) {
      out = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    } else if (c.out == std::string("gone")) {
      int ends[2];
      ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
      ::close(ends[0]);
      out = ends[1];
    }
    std::vector<std::string> args{"--port", relay_->SlavePath()};
    args.insert(args.end(), c.args.begin(), c.args.end());
    CtlProcess ctl(args, {}, out);
    if (out >= 0) ::close(out);
    const CtlResult r = ctl.Finish(30s);
    EXPECT_EQ(r.code, 5) << line << "\n" << r.err;
    EXPECT_TRUE(Has(r.err, c.says)) << line << "\n" << r.err;
  }
  ::sigaction(SIGPIPE, &old, nullptr);
}

// Ctrl-C while the ring is read (for the export, for a record): the walk ends after the record
// in progress, nothing is written.
TEST_F(Ctl, HistoryInterrupted) {
  std::atomic<int> recordReads{0};
  sim::PtyOptions options;
  options.baud = 9600;
  options.trace = [&recordReads](bool incoming, std::span<const uint8_t> bytes) {
    if (incoming && bytes.size() >= 4 && bytes[1] == 0x03 && bytes[2] >= 0x41) ++recordReads;
  };
  sim::RelayConfig config;
  config.history_fill = 200;
  Start(config, options);
  const struct {
    std::vector<std::string> command;
    const char* says;  // after the number of records read
  } cases[] = {{{"history", "--csv", Path("h.csv")}, " records; no file written"},
               {{"history"}, " records; nothing written"},
               {{"report", Path("r.pdf")}, " events; no record written"}};
  for (const auto& [command, says] : cases) {
    SCOPED_TRACE(command.back());
    recordReads = 0;
    std::vector<std::string> args{"--port", relay_->SlavePath()};
    args.insert(args.end(), command.begin(), command.end());
    CtlProcess walk(args);
    // A process that starts and searches at 9600 baud, on a loaded machine too.
    if (!walk.ReadUntil([&recordReads](const CtlResult&) { return recordReads.load() >= 5; },
                        60s)) {
      const CtlResult early = walk.Finish();
      FAIL() << "the walk did not begin: exit " << early.code << ", " << early.err;
    }
    walk.Signal(SIGINT);
    const CtlResult r = walk.Finish();
    EXPECT_EQ(r.code, 130) << r.err;
    EXPECT_LT(recordReads.load(), 100);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(ReadAll(command.back()), "(missing)");
    // "interrupted after N records; ...": N those read, no fewer than before the signal.
    const size_t after = r.err.find("interrupted after ");
    ASSERT_NE(after, std::string::npos) << r.err;
    const int records = std::atoi(r.err.c_str() + after + 18);
    EXPECT_GE(records, 4) << r.err;
    EXPECT_LE(records, recordReads.load()) << r.err;
    EXPECT_TRUE(Has(r.err, std::to_string(records) + says)) << r.err;
  }
}

// The progress of the commands that take seconds: on a terminal a line rewritten in place and
// erased before what follows; into a pipe (a log, a script) nothing.
TEST_F(Ctl, ProgressOnATerminalOnly) {
  sim::RelayConfig config;
  config.history_fill = 30;
  Start(config);
  const struct {
    std::vector<std::string> args;
    std::string progress;  // its last text on a terminal
  } cases[] = {
      {{"history", "--csv", Path("h.csv")}, "reading the event history: 30 records"},
      {{"report", Path("r.pdf")}, "reading the record: history, 30 of at most 100 events"},
      {{"--service", "calibration", "clear-history"},
       "clearing the event history (30 records kept in the journal)"},
  };
  for (const auto& c : cases) {
    for (const bool terminal : {true, false}) {
      SCOPED_TRACE(c.progress + (terminal ? ", on a terminal" : ", into a pipe"));
      std::vector<std::string> args{"--port", relay_->SlavePath()};
      args.insert(args.end(), c.args.begin(), c.args.end());
      CtlProcess command(args, {{"XDG_DATA_HOME", Path("data")}}, -1, terminal);
      const CtlResult r = command.Finish();
      EXPECT_EQ(r.code, 0) << r.err;
      if (!terminal) {
        EXPECT_FALSE(Has(r.err, "\r")) << r.err;
        continue;
      }
      const size_t shown = r.err.rfind("\r" + c.progress);
      ASSERT_NE(shown, std::string::npos) << r.err;
      // Blanks over it and back to the start of the line, then the messages only.
      const std::string after = r.err.substr(shown + 1 + c.progress.size());
      const size_t end = std::min(after.find_first_not_of(" \r"), after.size());
      EXPECT_GE(std::count(after.begin(), after.begin() + end, ' '), c.progress.size()) << r.err;
      EXPECT_TRUE(end > 0 && after[end - 1] == '\r') << r.err;
      EXPECT_TRUE(end == after.size() || after.compare(end, 10, "nx480ctl: ") == 0) << r.err;
      EXPECT_FALSE(Has(after.substr(end), "\r")) << r.err;
    }
  }
}

TEST_F(Ctl, UploadWithProgressAndItsFailures) {
  sim::RelayConfig config;
  config.version = "1.13";
  config.restart_time = 300ms;
  Start(config);
  sim::ImageOptions imageOptions;
  imageOptions.version = "1.16";
  imageOptions.blocks = 10;
  const auto image = sim::WriteImage(imageOptions);
  WriteAll(Path("new.bn6"), std::string(image.begin(), image.end()));
  const CtlResult done = Run({"upload", Path("new.bn6")});
  ASSERT_EQ(done.code, 0) << done.err;
  for (int tenth = 1; tenth <= 10; ++tenth)
    EXPECT_TRUE(Has(done.err, "upload " + std::to_string(tenth * 10) + " % (")) << done.err;
  EXPECT_TRUE(Has(done.err, "current version: NX480 - 1.13")) << done.err;
  EXPECT_TRUE(Has(done.err, "new version: NX480 - 1.16")) << done.err;

  relay_->WithModel([](sim::RelayModel& m) { m.Upload().Faults().refuse_at = 5; });
  const CtlResult refused = Run({"upload", Path("new.bn6")});
  EXPECT_EQ(refused.code, 6) << refused.err;
  EXPECT_EQ(relay_->WithModel([](sim::RelayModel& m) { return m.Upload().Mode(); }),
            sim::UploadMode::kNormal);
}

// Writes to the upload control register (01 10 80 00 00 01 02 00 VV) that the relay received.
struct ControlWrites {
  std::atomic<int> cancels{0};
  std::atomic<int> starts{0};
  std::atomic<int> runs{0};
  sim::PtyOptions Options() {
    sim::PtyOptions options;
    options.trace = [this](bool incoming, std::span<const uint8_t> bytes) {
      if (!incoming || bytes.size() < 9 || bytes[1] != 0x10 || bytes[2] != 0x80 || bytes[3] != 0 ||
          bytes[7] != 0)
        return;
      if (bytes[8] == 0) ++cancels;
      if (bytes[8] == 1) ++starts;
      if (bytes[8] == 2) ++runs;
    };
    return options;
  }
};

// Ctrl-C, SIGTERM and SIGHUP during an upload: the relay is told to cancel (or, after Run, the
// identification of the restarting relay ends), the program says so and ends with 130, and it
// waits without busy waiting; a second signal ends it at once, the Cancel still sent.
TEST_F(Ctl, UploadEndsCleanlyOnEverySignal) {
  // Every data frame acknowledged 130 ms late: once repeated, it is taken, and a block lasts
  // about 3.5 s - long enough to see what the program does while it finishes the block.
  const std::string slowBlocks = "late:0x10:-1:1:130";
  const struct {
    const char* what;
    std::string fault;
    const char* signalWhen;  // a text in its standard error; else once data frames arrive
    std::vector<int> signals;
    const char* says;
    int cancels;
    std::chrono::milliseconds endsWithin;  // after the last signal
    // What the journal entry says came of it, the blocks sent as "N"; the Cancel's answer after
    // a second signal as it came.
    const char* journal;
  } cases[] = {
      // The Cancel's answer comes late too: the relay took it, its answer did not come in time.
      {"Ctrl-C",
       slowBlocks,
       nullptr,
       {SIGINT},
       "upload stopped",
       1,
       8s,
       "stopped by Ctrl-C or a signal after N of 2 blocks; Cancel sent, not acknowledged (no "
       "reply)"},
      {"a closed terminal",
       slowBlocks,
       nullptr,
       {SIGHUP},
       "upload stopped",
       1,
       8s,
       "stopped by Ctrl-C or a signal after N of 2 blocks; Cancel sent, not acknowledged (no "
       "reply)"},
      {"SIGTERM, then Ctrl-C",
       slowBlocks,
       nullptr,
       {SIGTERM, SIGINT},
       "upload stopped",
       1,
       1s,
       "stopped by Ctrl-C or a signal after N of 2 blocks; Cancel sent"},
      // Silent after the search's and the backup's identifications.
      {"Ctrl-C while the relay restarts",
       "silence:0x11:-1:2",
       "upload done",
       {SIGINT},
       "stopped waiting for the relay",
       0,
       1s,
       "2 blocks and Run sent, the waiting for its restart stopped by Ctrl-C or a signal"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ControlWrites writes;
    sim::RelayConfig config;
    config.version = "1.13";
    config.restart_time = 300ms;
    Start(config, writes.Options());
    Fault(c.fault);
    const auto image = sim::WriteImage({.blocks = 2});
    WriteAll(Path("new.bn6"), std::string(image.begin(), image.end()));
    CtlProcess upload({"--port", relay_->SlavePath(), "upload", Path("new.bn6")},
                      {{"XDG_DATA_HOME", Path("data")}});
    if (c.signalWhen) {
      ASSERT_TRUE(
          upload.ReadUntil([&c](const CtlResult& r) { return Has(r.err, c.signalWhen); }, 30s));
    } else {
      ASSERT_TRUE(WaitUntil(
          [this] {
            return relay_->WithModel([](sim::RelayModel& m) { return m.Upload().Frames(); });
          },
          30s));
    }
    for (size_t i = 0; i < c.signals.size(); ++i) {
      if (i > 0) std::this_thread::sleep_for(300ms);
      upload.Signal(c.signals[i]);
    }
    const auto signalled = std::chrono::steady_clock::now();
    const CtlResult r = upload.Finish();
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, c.endsWithin);
    EXPECT_EQ(r.code, 130) << r.err;
    EXPECT_TRUE(Has(r.err, c.says)) << r.err;
    // Waiting for the block, or for the relay, costs no processor time worth the name.
    EXPECT_LT(r.cpu, 1s);
    EXPECT_EQ(writes.cancels.load(), c.cancels);
    // Out of upload mode: cancelled, or restarting into the image (the model counts the restart
    // time only while it is asked something).
    EXPECT_TRUE(WaitUntil([this] { return UploadMode() != sim::UploadMode::kReceiving; }, 10s));
    relay_->Stop();
    // Its journal entry says it was stopped, where, and what became of the Cancel.
    const std::vector<nx480::JournalEntry> entries =
        nx480::ListJournal(Path("data/nx480-pc/journal"));
    ASSERT_FALSE(entries.empty());
    std::string said = English(entries[0]);
    const std::string asked = "firmware uploaded by nx480ctl upload: ";
    ASSERT_TRUE(said.starts_with(asked)) << said;
    said.erase(0, asked.size());
    if (const size_t after = said.find("after "); after != std::string::npos && c.cancels) {
      EXPECT_TRUE(said[after + 6] == '0' || said[after + 6] == '1') << said;  // of 2, not both
      said[after + 6] = 'N';
    }
    // A late Cancel answer: whether the link meets silence or, on a busy machine, the late
    // answer to an earlier frame in its place, the Cancel is not acknowledged.
    const std::string stale = "(acknowledgement differs from request)";
    if (const size_t at = said.find(stale); at != std::string::npos)
      said.replace(at, stale.size(), "(no reply)");
    EXPECT_TRUE(said.starts_with(c.journal)) << said;
    EXPECT_EQ(entries[0].outcome,
              c.cancels ? nx480::JournalOutcome::Failed : nx480::JournalOutcome::Unknown);
  }
}

// Its output read by a program that has ended (`nx480ctl upload new.bn6 2>&1 | head`): the
// upload goes on to its end instead of the program dying with the relay in upload mode.
TEST_F(Ctl, UploadOutlivesItsReader) {
  ControlWrites writes;
  sim::PtyOptions options = writes.Options();
  options.baud = 19200;
  sim::RelayConfig config;
  config.version = "1.13";
  config.restart_time = 300ms;
  Start(config, options);
  const auto image = sim::WriteImage({.version = "1.16", .blocks = 10});
  WriteAll(Path("new.bn6"), std::string(image.begin(), image.end()));
  CtlProcess upload({"--port", relay_->SlavePath(), "upload", Path("new.bn6")});
  ASSERT_TRUE(upload.ReadUntil([](const CtlResult& r) { return Has(r.err, "upload 10 %"); }, 30s));
  upload.CloseOutput();
  const CtlResult r = upload.Finish();
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(writes.runs.load(), 1);
  EXPECT_EQ(writes.cancels.load(), 0);
  EXPECT_TRUE(WaitUntil([this] { return UploadMode() == sim::UploadMode::kNormal; }, 10s));
}

// Ctrl-C while the ports are searched or a read is on its way, before a write: nothing more
// reaches the relay.
TEST_F(Ctl, InterruptSendsNothingMore) {
  std::vector<std::unique_ptr<PtyPair>> silent(20);  // ports nobody answers on
  std::string silentPorts;
  for (auto& pty : silent) {
    pty = std::make_unique<PtyPair>();
    ASSERT_TRUE(pty->ok());
    silentPorts += pty->path() + ":";
  }
  const std::vector<std::string> clear{"--service", "calibration", "clear-history"};
  const struct {
    const char* what;
    std::vector<std::string> args;
    bool silentFirst;
    std::string fault;  // makes the reply to the exchange in progress late
    uint64_t signalAt;  // requests the relay has got when the signal is sent
    uint64_t requests;  // that the relay gets: those before the signal is looked at
    const char* says = "interrupted";
  } cases[] = {
      // Signalled after 0.5 s: the search would reach the relay after about 4 s.
      {"among silent ports", clear, true, "", 0, 0},
      // The search ends with the relay found and its serial number read.
      {"while the relay identifies itself", clear, false, "late:0x11:1:0:90", 1, 2},
      // The walk before the clearing: it ends after the record in progress, nothing cleared.
      {"while the ring is read for the backup", clear, false, "late:0x03:1:4:90", 6, 6,
       "interrupted after 3 records of the journal's backup; nothing cleared"},
      // The calibration read that comes before the write (the search's serial number read,
      // of the same registers, is let through).
      {"while the calibration is read",
       {"--service", "calibration", "set", "KalU1=1.002"},
       false,
       "late:0x03:1:1:90",
       3,
       3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    // The relay's own thread sends the Ctrl-C as request `signalAt` comes in, before it answers
    // it: however the threads and processes run, the signal comes during that exchange.
    std::atomic<pid_t> pid{0};
    std::atomic<bool> sent{false};
    std::atomic<std::chrono::steady_clock::rep> sentAt{0};
    const auto interrupt = [&] {
      for (int i = 0; i < 20'000 && pid.load() == 0; ++i) std::this_thread::sleep_for(1ms);
      if (pid.load() == 0 || sent.exchange(true)) return;
      sentAt = std::chrono::steady_clock::now().time_since_epoch().count();
      ::kill(pid.load(), SIGINT);
    };
    sim::PtyOptions options;
    options.trace = [&](bool incoming, std::span<const uint8_t>) {
      if (incoming && c.signalAt > 0 && !sent && relay_->Counters().model.requests >= c.signalAt)
        interrupt();
    };
    Start({}, options);
    if (!c.fault.empty()) Fault(c.fault);
    CtlProcess command(c.args,
                       {{"NX480_PORTS", (c.silentFirst ? silentPorts : "") + relay_->SlavePath()}});
    pid = command.Pid();
    if (c.silentFirst) {
      // Once the search asks the first silent port; it would reach the relay seconds later.
      std::vector<pollfd> masters;
      for (const auto& pty : silent) masters.push_back({pty->master(), POLLIN, 0});
      ASSERT_GT(::poll(masters.data(), masters.size(), 20'000), 0) << "the search did not begin";
      interrupt();
    }
    const CtlResult r = command.Finish();
    ASSERT_TRUE(sent.load());
    const std::chrono::steady_clock::time_point signalled{
        std::chrono::steady_clock::duration(sentAt.load())};
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, 5s);
    EXPECT_EQ(r.code, 130) << r.err;
    EXPECT_TRUE(Has(r.err, c.says)) << r.err;
    EXPECT_EQ(relay_->Counters().model.requests, c.requests);
    EXPECT_EQ(relay_->WithModel([](sim::RelayModel& m) { return m.HistoryClears(); }), 0u);
    EXPECT_EQ(Holding(0x18), 1000);
    relay_->Stop();
  }
}

// An entry that cannot be closed - its folder taken away while the write is on the wire, which
// stops the superuser too - leaves the journal incomplete: the write is reported as it ended,
// and the program ends with 7, not 0.
TEST_F(Ctl, UnclosedEntryEndsWithItsOwnCode) {
  Start();
  nx480::SettingsWords file{};
  for (uint16_t i = 0; i < file.size(); ++i) file[i] = Holding(i);
  file[8] = static_cast<uint16_t>(file[8] - 6);
  nx480::FileError error;
  ASSERT_TRUE(nx480::SaveSettingsFile(Path("new.nx4"), file, error));
  const std::string root = Path("data/nx480-pc/journal");
  relay_->WithModel([&](sim::RelayModel& m) {
    m.SetAfterWriteHook([&](sim::Table, uint16_t, uint16_t, sim::RegisterBank&) {
      for (const nx480::JournalEntry& e : nx480::ListJournal(root)) {
        const std::string folder = root + "/" + e.relayFolder + "/" + e.id;
        std::filesystem::rename(folder, Path("taken"));
        WriteAll(folder, "not a folder");
      }
    });
  });
  const CtlResult r = Run({"settings", "write", Path("new.nx4")});
  EXPECT_EQ(r.code, 7) << r.err;
  EXPECT_TRUE(Has(r.err, "read back and equal")) << r.err;
  EXPECT_TRUE(Has(r.err, "the change journal is incomplete")) << r.err;
  EXPECT_EQ(Holding(8), file[8]);
}

// Ctrl-C while a change's journal entry is written (the test's fsync gate holds the entry's
// first file until the program has taken the signal): the change is held back, nothing of it
// reaches the relay, the entry says not sent, and the program ends with 130.
struct HeldBackCase {
  const char* name;
  std::vector<std::string> args;  // after --port; FILE stands for a settings file
  nx480::ChangeKind kind;
};

class CtlHeldBack : public Ctl, public ::testing::WithParamInterface<HeldBackCase> {};

TEST_P(CtlHeldBack, InterruptDuringTheJournalStepSendsNothing) {
  const HeldBackCase& c = GetParam();
  sim::RelayConfig config;
  config.serial = 1234;
  config.clock = sim::ParseDateTime("2026-12-09T10:20:30.45");
  config.clock_running = false;
  config.history_fill = 3;
  Start(config);
  std::array<uint16_t, 24> settings{};
  for (uint16_t i = 0; i < settings.size(); ++i) settings[i] = Holding(i);
  nx480::SettingsWords file{};
  std::copy(settings.begin(), settings.end(), file.begin());
  file[0] = static_cast<uint16_t>(file[0] + 2);
  nx480::FileError error;
  ASSERT_TRUE(nx480::SaveSettingsFile(Path("new.nx4"), file, error));
  const uint16_t factor = Holding(0x18);
  const size_t events = relay_->WithModel([](sim::RelayModel& m) { return m.Events(); }).size();

  std::vector<std::string> args{"--port", relay_->SlavePath()};
  for (const std::string& a : c.args) args.push_back(a == "FILE" ? Path("new.nx4") : a);
  CtlProcess command(args, {{"XDG_DATA_HOME", Path("data")},
                            {"LD_PRELOAD", NX480_FSYNC_GATE_PATH},
                            {"ASAN_OPTIONS", "verify_asan_link_order=0"},
                            {"NX480_FSYNC_GATE", Path("gate")}});
  ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(Path("gate")); }, 60s))
      << "the journal step was not reached";
  command.Signal(SIGINT);
  WriteAll(Path("gate.sent"), "");
  const CtlResult r = command.Finish();
  EXPECT_EQ(r.code, 130) << r.err;
  EXPECT_TRUE(Has(r.err, "interrupted before")) << r.err;
  EXPECT_TRUE(Has(r.err, "nothing was sent")) << r.err;
  for (uint16_t i = 0; i < settings.size(); ++i) EXPECT_EQ(Holding(i), settings[i]) << i;
  EXPECT_EQ(Holding(0x18), factor);
  EXPECT_EQ(relay_->WithModel([](sim::RelayModel& m) { return m.HistoryClears(); }), 0u);
  EXPECT_EQ(relay_->WithModel([](sim::RelayModel& m) { return m.Events(); }).size(), events);
  EXPECT_EQ(relay_->WithModel([](sim::RelayModel& m) { return m.ClockAt(); }), *config.clock);
  EXPECT_EQ(relay_->WithModel([](sim::RelayModel& m) { return m.ModeCommands(); }), 0u);
  const std::vector<nx480::JournalEntry> entries =
      nx480::ListJournal(Path("data/nx480-pc/journal"));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].kind, c.kind);
  EXPECT_EQ(entries[0].outcome, nx480::JournalOutcome::NotSent);
  EXPECT_FALSE(entries[0].damaged) << entries[0].damage;
}

INSTANTIATE_TEST_SUITE_P(
    EveryChange, CtlHeldBack,
    ::testing::Values(
        HeldBackCase{"SettingsWrite", {"settings", "write", "FILE"}, nx480::ChangeKind::Settings},
        HeldBackCase{"ClearHistory",
                     {"--service", "calibration", "clear-history"},
                     nx480::ChangeKind::HistoryClearing},
        HeldBackCase{"ClockSet", {"clock", "--set"}, nx480::ChangeKind::Clock},
        HeldBackCase{"CalibrationSet",
                     {"--service", "calibration", "set", "KalU1=1.002"},
                     nx480::ChangeKind::Calibration},
        HeldBackCase{"RelayOn", {"relay", "on"}, nx480::ChangeKind::RelayMode}),
    [](const ::testing::TestParamInfo<HeldBackCase>& info) { return info.param.name; });

// Ctrl-C while the relay restarts and does not answer: the waiting ends, the upload stays done.
TEST_F(Ctl, UploadInterruptedWhileTheRelayRestarts) {
  sim::RelayConfig config;
  config.version = "1.13";
  config.restart_time = std::chrono::hours(1);
  Start(config);
  const auto image = sim::WriteImage({.blocks = 1});
  WriteAll(Path("one.bn6"), std::string(image.begin(), image.end()));
  CtlProcess upload({"--port", relay_->SlavePath(), "upload", Path("one.bn6")});
  ASSERT_TRUE(
      upload.ReadUntil([](const CtlResult& r) { return Has(r.err, "the relay restarts"); }, 30s));
  ASSERT_TRUE(
      relay_->WaitFor([](const sim::RelayCounters& c) { return c.model.ignored >= 2; }, 30s));
  upload.Signal(SIGINT);
  const CtlResult r = upload.Finish(10s);  // not the rest of the 100 attempts (about 20 s)
  EXPECT_EQ(r.code, 130) << r.err;
  EXPECT_TRUE(Has(r.err, "upload done; stopped waiting for the relay")) << r.err;
}

// A journal entry of relay `serial` as a change leaves it: opened with its backups, then closed
// with its outcome.
nx480::JournalEntry JournalChange(const std::string& root, int32_t serial, nx480::ChangeKind kind,
                                  nx480::JournalOutcome outcome,
                                  std::vector<nx480::JournalBackup> backups = {}) {
  nx480::JournalEntry e;
  e.kind = kind;
  e.serialNumber = serial;
  e.firmware = 4;
  e.port = "/dev/ttyUSB0";
  e.identification = "NX480 -   1.04";
  e.description = nx480::Plain(std::string(nx480::ChangeKindWord(kind)) + " changed");
  e.details = {nx480::Plain("row: Uu1 190 V -> 196 V")};
  e.backups = std::move(backups);
  nx480::FileError error;
  EXPECT_TRUE(nx480::OpenJournalEntry(root, e, error));
  e.outcome = outcome;
  EXPECT_TRUE(nx480::CloseJournalEntry(root, e, error));
  return e;
}

// A line's columns: the texts between runs of two or more blanks.
std::vector<std::string> Columns(const std::string& line) {
  std::vector<std::string> cells;
  for (size_t start = 0; start < line.size();) {
    const size_t gap = line.find("  ", start);
    cells.push_back(line.substr(start, gap - start));
    start = gap == std::string::npos ? gap : line.find_first_not_of(' ', gap);
  }
  return cells;
}

// The moment of an entry's ID (UTC) as a reader at UTC+05:30 sees it.
std::string IndiaTimeOf(const std::string& id) {
  tm t{};
  std::sscanf(id.c_str(), "%4d-%2d-%2dT%2d-%2d-%2d", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour,
              &t.tm_min, &t.tm_sec);
  t.tm_year -= 1900;
  t.tm_mon -= 1;
  const time_t india = ::timegm(&t) + 19800;
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", ::gmtime_r(&india, &t));
  return text;
}

// A settings write keeps what it replaces in the journal first; without a journal it sends
// nothing.
TEST_F(Ctl, SettingsWriteKeepsItsJournalEntry) {
  Start();
  const std::string before = Path("before.nx4");
  ASSERT_EQ(Run({"settings", "read", before}).code, 0);
  std::string changed = ReadAll(before);
  changed[16] = static_cast<char>(190);  // Uu1
  changed[17] = 0;
  const std::string target = Path("target.nx4");
  WriteAll(target, changed);

  // The journal's folder under a regular file: refused, the relay untouched.
  const CtlResult refused = Run({"settings", "write", target}, before + "/data");
  EXPECT_EQ(refused.code, 5) << refused.err;
  EXPECT_TRUE(Has(refused.err, "nothing written")) << refused.err;
  EXPECT_EQ(Holding(8), 196);

  const CtlResult write = Run({"settings", "write", target});
  ASSERT_EQ(write.code, 0) << write.err;
  EXPECT_EQ(Holding(8), 190);
  const CtlResult list = RunCtl({"journal", "list", "--all"}, {{"XDG_DATA_HOME", Path("data")}});
  ASSERT_EQ(list.code, 0) << list.err;
  const std::vector<std::string> lines = Lines(list.out);
  ASSERT_EQ(lines.size(), 1u) << list.out;
  const std::vector<std::string> columns = Columns(lines[0]);
  ASSERT_GE(columns.size(), 5u) << lines[0];
  EXPECT_EQ(columns[0], "001234");
  EXPECT_EQ(columns[3], "settings");
  EXPECT_EQ(columns[4], "done");

  // The backup is the relay's settings as they were, byte for byte; the detail names the row.
  const std::string root = Path("data/nx480-pc/journal");
  const std::vector<nx480::JournalEntry> entries = nx480::ListJournal(root);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(English(entries[0].details),
            std::vector<std::string>{"row: Uu1 196 V (85 %) -> 190 V (83 %)"});
  std::vector<uint8_t> backup;
  nx480::FileError error;
  ASSERT_TRUE(nx480::ReadJournalBackup(root, entries[0], "settings.nx4", backup, error));
  EXPECT_EQ(std::string(backup.begin(), backup.end()), ReadAll(before));

  // A relay that keeps its own Uu1: refused, by the exit code and in the journal, which names
  // what the relay holds - in its list and its record as nx480ctl shows them.
  relay_->WithModel([](sim::RelayModel& m) {
    m.SetAfterWriteHook(
        [](sim::Table, uint16_t, uint16_t, sim::RegisterBank& bank) { bank.holding.Set(8, 200); });
  });
  EXPECT_EQ(Run({"settings", "write", before}).code, 6);
  const std::vector<nx480::JournalEntry> after = nx480::ListJournal(root);
  ASSERT_EQ(after.size(), 2u);
  EXPECT_EQ(after[0].outcome, nx480::JournalOutcome::Refused);
  EXPECT_EQ(English(after[0].details),
            (std::vector<std::string>{"row: Uu1 190 V (83 %) -> 196 V (85 %)",
                                      "held: Uu1 200 V (87 %)"}));
  const std::string refusedDescription =
      "settings written by nx480ctl settings write: refused: the relay holds Uu1 otherwise";
  const CtlResult listed = Run({"journal", "list"});
  ASSERT_EQ(listed.code, 0) << listed.err;
  const std::vector<std::string> newest = Columns(Lines(listed.out).at(0));
  ASSERT_EQ(newest.size(), 5u) << listed.out;
  EXPECT_EQ(newest[0], after[0].id);
  EXPECT_EQ(newest[3], "refused");
  EXPECT_EQ(newest[4], refusedDescription);
  const CtlResult shown = Run({"journal", "show", after[0].id});
  EXPECT_EQ(shown.code, 0) << shown.err;
  for (const std::string& part :
       {std::string("\noutcome: refused\n"), "\ndescription: " + refusedDescription + "\n",
        std::string("\ndetail: held: Uu1 200 V (87 %)\n")})
    EXPECT_TRUE(Has(shown.out, part)) << part << "\n" << shown.out;
  EXPECT_FALSE(Has(shown.out, "@detail")) << shown.out;

  // A relay gone silent after the first block: the write may be held in part - unknown, as the
  // exit code and the message say; the second block never went out.
  relay_->WithModel([](sim::RelayModel& m) { m.SetAfterWriteHook({}); });
  Fault("silence:0x10:1:1");
  const CtlResult silent = Run({"settings", "write", target});
  EXPECT_EQ(silent.code, 4) << silent.err;
  EXPECT_TRUE(Has(silent.err, "no valid acknowledgement (the relay may hold all or a part"))
      << silent.err;
  const nx480::JournalEntry unknown = nx480::ListJournal(root).at(0);
  EXPECT_EQ(unknown.outcome, nx480::JournalOutcome::Unknown);
  EXPECT_EQ(English(unknown),
            "settings written by nx480ctl settings write: sent, no valid acknowledgement (no "
            "reply): the relay may hold all or part of it");
  EXPECT_EQ(Holding(8), 200);  // the second block, words 8-23 with Uu1, was not carried out
}

// A restore writes an entry's settings backup back, journaled itself; another relay's entry only
// when asked for, a damaged entry or one without a backup never.
TEST_F(Ctl, JournalRestore) {
  Start();
  const std::string before = Path("before.nx4");
  ASSERT_EQ(Run({"settings", "read", before}).code, 0);
  std::string changed = ReadAll(before);
  changed[16] = static_cast<char>(190);  // Uu1
  WriteAll(Path("changed.nx4"), changed);
  ASSERT_EQ(Run({"settings", "write", Path("changed.nx4")}).code, 0);
  ASSERT_EQ(Holding(8), 190);

  const std::string root = Path("data/nx480-pc/journal");
  const std::string write = nx480::ListJournal(root).at(0).id;
  nx480::SettingsWords other{};
  nx480::FileError error;
  ASSERT_TRUE(nx480::LoadSettingsFile(before, other, error));
  other[8] = 184;
  const auto foreign = JournalChange(root, 4321, nx480::ChangeKind::Settings,
                                     nx480::JournalOutcome::Done, {nx480::SettingsBackup(other)});
  const auto clock =
      JournalChange(root, 1234, nx480::ChangeKind::Clock, nx480::JournalOutcome::Done);
  auto damaged = JournalChange(root, 1234, nx480::ChangeKind::Settings, nx480::JournalOutcome::Done,
                               {nx480::SettingsBackup(other)});
  WriteAll(root + "/001234/" + damaged.id + "/settings.nx4", std::string(48, '\0'));
  // Kept under firmware 1.04, whose delays count 1/10 s: 20 s of tUu1 is no byte in 1/20 s.
  nx480::SettingsWords longDelay = other;
  longDelay[0] = 200;
  const auto overflow =
      JournalChange(root, 1234, nx480::ChangeKind::Settings, nx480::JournalOutcome::Done,
                    {nx480::SettingsBackup(longDelay)});

  const struct {
    std::vector<std::string> args;
    int code;
    const char* says;
  } refused[] = {
      {{"journal", "restore", foreign.id}, 2, "is of relay 004321, the connected relay is 001234"},
      {{"journal", "restore", clock.id}, 2, "keeps nothing that can be written back"},
      {{"journal", "restore", damaged.id}, 5, "never restored"},
      {{"journal", "restore", overflow.id}, 5, "the delays tUu1 of journal entry"},
      {{"journal", "restore", "none"}, 2, "no journal entry"},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.args[2]);
    const CtlResult r = Run(c.args);
    EXPECT_EQ(r.code, c.code) << r.err;
    EXPECT_TRUE(Has(r.err, c.says)) << r.err;
    EXPECT_EQ(Holding(8), 190);
  }
  EXPECT_EQ(nx480::ListJournal(root).size(), 5u);

  const CtlResult restored = Run({"journal", "restore", write});
  ASSERT_EQ(restored.code, 0) << restored.err;
  EXPECT_EQ(Holding(8), 196);
  const std::vector<nx480::JournalEntry> entries = nx480::ListJournal(root, 1234);
  ASSERT_EQ(entries.size(), 5u);
  EXPECT_EQ(English(entries[0]),
            "settings restored from journal entry 001234/" + write + ": done, read back equal");
  EXPECT_EQ(English(entries[0].details),
            std::vector<std::string>{"row: Uu1 190 V (83 %) -> 196 V (85 %)"});

  // Another relay's, kept under firmware 1.04: its delays written in this relay's 1/20 s.
  const CtlResult there = Run({"journal", "restore", foreign.id, "--other-relay"});
  ASSERT_EQ(there.code, 0) << there.err;
  EXPECT_EQ(Holding(8), 184);
  EXPECT_EQ(Holding(0), ((other[0] >> 8) * 2) << 8 | (other[0] & 0xFF) * 2);
}

// Relays without a serial number cannot be told apart: a restore from one onto another (both
// holding 0) is another relay's, written only with --other-relay.
TEST_F(Ctl, JournalRestoreWithoutSerialNumbers) {
  sim::RelayConfig config;
  config.serial = 0;
  Start(config);
  const std::string root = Path("data/nx480-pc/journal");
  ASSERT_EQ(Run({"settings", "read", Path("held.nx4")}).code, 0);
  nx480::SettingsWords kept{};
  nx480::FileError error;
  ASSERT_TRUE(nx480::LoadSettingsFile(Path("held.nx4"), kept, error));
  kept[8] = 184;  // Uu1
  ASSERT_NE(Holding(8), 184);
  const std::string id = JournalChange(root, 0, nx480::ChangeKind::Settings,
                                       nx480::JournalOutcome::Done, {nx480::SettingsBackup(kept)})
                             .id;
  const CtlResult refused = Run({"journal", "restore", id});
  EXPECT_EQ(refused.code, 2) << refused.err;
  EXPECT_TRUE(Has(refused.err, "is of relay unknown, the connected relay is unknown"))
      << refused.err;
  EXPECT_NE(Holding(8), 184);
  const CtlResult confirmed = Run({"journal", "restore", id, "--other-relay"});
  ASSERT_EQ(confirmed.code, 0) << confirmed.err;
  EXPECT_EQ(Holding(8), 184);
}

// A calibration entry's block is written back in service mode only; another relay's keeps the
// connected relay's serial number unless --with-serial asks for the entry's.
TEST_F(Ctl, JournalRestoreOfACalibration) {
  sim::RelayConfig config;
  config.serial = 5678;
  Start(config);
  std::vector<uint16_t> block;
  for (uint16_t a = 0x18; a < 0x20; ++a) block.push_back(Holding(a));
  ASSERT_EQ(Run({"--service", "calibration", "set", "KalU2=1.100"}).code, 0);
  ASSERT_NE(Holding(0x19), block[1]);
  const std::string id = nx480::ListJournal(Path("data/nx480-pc/journal")).at(0).id;
  const CtlResult plain = Run({"journal", "restore", id});
  EXPECT_EQ(plain.code, 2);
  EXPECT_TRUE(Has(plain.err, "nx480ctl --service journal restore " + id)) << plain.err;
  const CtlResult restored = Run({"--service", "journal", "restore", id});
  ASSERT_EQ(restored.code, 0) << restored.err;
  for (uint16_t a = 0x18; a < 0x20; ++a) EXPECT_EQ(Holding(a), block[a - 0x18]) << a;

  nx480::CalibrationWords foreign{};
  for (uint16_t a = 0x18; a < 0x20; ++a) foreign[a - 0x18] = Holding(a);
  foreign[0] = 1050;  // KalU1
  foreign[5] = 1234;  // serial number 1234
  foreign[6] = 0;
  const std::string other =
      JournalChange(Path("data/nx480-pc/journal"), 1234, nx480::ChangeKind::Calibration,
                    nx480::JournalOutcome::Done, {nx480::CalibrationBackup(foreign)})
          .id;
  const CtlResult unasked = Run({"--service", "journal", "restore", other});
  EXPECT_EQ(unasked.code, 2) << unasked.err;
  EXPECT_TRUE(Has(unasked.err, "is of relay 001234, the connected relay is 005678")) << unasked.err;
  const CtlResult notService = Run({"journal", "restore", other, "--other-relay", "--with-serial"});
  EXPECT_EQ(notService.code, 2);
  EXPECT_TRUE(Has(notService.err, "add --service")) << notService.err;
  EXPECT_EQ(Holding(0x18), block[0]);

  const CtlResult kept = Run({"--service", "journal", "restore", other, "--other-relay"});
  ASSERT_EQ(kept.code, 0) << kept.err;
  EXPECT_EQ(Holding(0x18), 1050);
  EXPECT_EQ(Holding(0x1D), 5678) << "the relay keeps its serial number";
  EXPECT_EQ(Holding(0x1E), 0);
  const CtlResult named =
      Run({"--service", "journal", "restore", other, "--other-relay", "--with-serial"});
  ASSERT_EQ(named.code, 0) << named.err;
  EXPECT_EQ(Holding(0x1D), 1234) << "asked for by name";
}

// An upload keeps what it replaces in the journal first, and without a journal sends nothing; a
// new firmware that starts with its factory settings is named row by row, with the command that
// writes the saved ones back.
TEST_F(Ctl, UploadKeepsItsJournalEntryAndNamesWhatTheFirmwareChanged) {
  ControlWrites writes;
  sim::RelayConfig config;
  config.restart_time = 300ms;
  config.reset_on_upload = true;
  Start(config, writes.Options());
  relay_->SetRegister(sim::Table::kHolding, 8, 200);    // Uu1
  relay_->SetRegister(sim::Table::kHolding, 15, 1200);  // tRel
  const std::string before = Path("before.nx4");
  ASSERT_EQ(Run({"settings", "read", before}).code, 0);
  const auto image = sim::WriteImage({.version = "1.14", .blocks = 2});
  const std::string file = Path("new.bn6");
  WriteAll(file, std::string(image.begin(), image.end()));

  // The journal's folder under a regular file: refused before Start.
  const CtlResult refused = Run({"upload", file}, before + "/data");
  EXPECT_EQ(refused.code, 5) << refused.err;
  EXPECT_TRUE(Has(refused.err, "nothing uploaded")) << refused.err;
  EXPECT_EQ(writes.starts.load(), 0);

  const CtlResult done = Run({"upload", file});
  ASSERT_EQ(done.code, 0) << done.err;
  EXPECT_EQ(Holding(8), 196);
  const std::string root = Path("data/nx480-pc/journal");
  const std::vector<nx480::JournalEntry> entries = nx480::ListJournal(root);
  ASSERT_EQ(entries.size(), 1u);
  const nx480::JournalEntry& entry = entries[0];
  EXPECT_EQ(entry.kind, nx480::ChangeKind::FirmwareUpload);
  EXPECT_EQ(entry.outcome, nx480::JournalOutcome::Done);
  const std::vector<std::string> changed{"after restart: Uu1 200 V (87 %) -> 196 V (85 %)",
                                         "after restart: tRel 60.0 s -> 30.0 s"};
  std::vector<std::string> details{"image: " + file + ", NX480 1.14, 524 bytes, 2 blocks"};
  details.insert(details.end(), changed.begin(), changed.end());
  EXPECT_EQ(English(entry.details), details);
  EXPECT_EQ(English(entry),
            "firmware uploaded by nx480ctl upload: done, 2 blocks and Run sent, the "
            "relay restarted as NX480   1.14");
  std::vector<uint8_t> backup;
  nx480::FileError error;
  ASSERT_TRUE(nx480::ReadJournalBackup(root, entry, "settings.nx4", backup, error));
  EXPECT_EQ(std::string(backup.begin(), backup.end()), ReadAll(before));
  ASSERT_TRUE(nx480::ReadJournalBackup(root, entry, "identification.txt", backup, error));
  EXPECT_EQ(std::string(backup.begin(), backup.end()), "NX480   1.14.d\n");
  for (const std::string& line : changed) EXPECT_TRUE(Has(done.err, line)) << done.err;
  EXPECT_TRUE(Has(done.err, "nx480ctl journal restore " + entry.id)) << done.err;

  // The command it names writes the saved settings back.
  const CtlResult restored = Run({"journal", "restore", entry.id});
  ASSERT_EQ(restored.code, 0) << restored.err;
  EXPECT_EQ(Holding(8), 200);
  EXPECT_EQ(Holding(15), 1200);
}

// The calibration's changes keep what they replace first: without a journal nothing is sent,
// with one the entry holds the calibration block, or the ring as `history --csv` writes it.
TEST_F(Ctl, CalibrationChangesKeepTheirJournalEntries) {
  const std::string root = Path("data/nx480-pc/journal");
  const struct {
    std::vector<std::string> args;
    const char* refusal;
    nx480::ChangeKind kind;
    const char* backup;
  } cases[] = {
      {{"--service", "calibration", "set", "KalU2=1.002"},
       "nothing written",
       nx480::ChangeKind::Calibration,
       "calibration.txt"},
      {{"--service", "calibration", "clear-history"},
       "nothing cleared",
       nx480::ChangeKind::HistoryClearing,
       "history.csv"},
  };
  Start();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.back());
    // What the change replaces, as nx480ctl shows it.
    const CtlResult ring = Run({"history", "--csv", Path("ring.csv")});
    ASSERT_EQ(ring.code, 0) << ring.err;
    std::string block;
    for (uint16_t a = 0x18; a < 0x20; ++a) {
      char line[16];
      std::snprintf(line, sizeof line, "0x%02X 0x%04X\n", a, Holding(a));
      block += line;
    }
    const bool clearing = c.kind == nx480::ChangeKind::HistoryClearing;
    const size_t events = relay_->WithModel([](sim::RelayModel& m) { return m.Events(); }).size();
    const uint16_t kalU2 = Holding(0x19);

    const CtlResult refused = Run(c.args, Path("ring.csv") + "/data");  // under a regular file
    EXPECT_EQ(refused.code, 5) << refused.err;
    EXPECT_TRUE(Has(refused.err, c.refusal)) << refused.err;
    EXPECT_EQ(Holding(0x19), kalU2);
    EXPECT_EQ(relay_->WithModel([](sim::RelayModel& m) { return m.HistoryClears(); }), 0u);

    const CtlResult done = Run(c.args);
    ASSERT_EQ(done.code, 0) << done.err;
    const std::vector<nx480::JournalEntry> entries = nx480::ListJournal(root);
    ASSERT_FALSE(entries.empty());
    const nx480::JournalEntry& entry = entries[0];
    EXPECT_EQ(entry.kind, c.kind);
    EXPECT_EQ(entry.outcome, nx480::JournalOutcome::Done);
    EXPECT_EQ(English(entry.details),
              std::vector<std::string>{clearing ? "records: " + std::to_string(events)
                                                : "row: KalU2 1.000 -> 1.002"});
    EXPECT_EQ(English(entry), clearing ? "event history cleared by nx480ctl calibration "
                                         "clear-history: done: the relay emptied its event history"
                                       : "calibration written by nx480ctl calibration set: done, "
                                         "read back equal");
    std::vector<uint8_t> backup;
    nx480::FileError error;
    ASSERT_TRUE(nx480::ReadJournalBackup(root, entry, c.backup, backup, error));
    EXPECT_EQ(std::string(backup.begin(), backup.end()),
              clearing ? ReadAll(Path("ring.csv")) : block);
  }
}

// A relay's journal folder that is a link to a folder elsewhere (a journal moved to another disk)
// is written through, so it is listed and shown too; a link that leads nowhere is passed over.
TEST_F(Ctl, LinkedRelayFolderIsListedAsWritten) {
  const std::string root = Path("data/nx480-pc/journal");
  std::filesystem::create_directories(root);
  std::filesystem::create_directories(Path("elsewhere"));
  std::filesystem::create_directory_symlink(Path("elsewhere"), root + "/007777");
  std::filesystem::create_directory_symlink(Path("nowhere"), root + "/005555");
  const auto linked =
      JournalChange(root, 7777, nx480::ChangeKind::Clock, nx480::JournalOutcome::Done);
  ASSERT_TRUE(std::filesystem::exists(Path("elsewhere/" + linked.id + "/entry.txt")));
  const std::map<std::string, std::string> env{{"XDG_DATA_HOME", Path("data")}};
  const CtlResult list = RunCtl({"journal", "list", "--all"}, env);
  EXPECT_EQ(list.code, 0) << list.err;
  ASSERT_EQ(Lines(list.out).size(), 1u) << list.out;
  EXPECT_TRUE(Has(list.out, "007777")) << list.out;
  EXPECT_TRUE(Has(list.out, linked.id)) << list.out;
  const CtlResult shown = RunCtl({"journal", "show", linked.id}, env);
  EXPECT_EQ(shown.code, 0) << shown.err;
  EXPECT_TRUE(Has(shown.out, "outcome: done\n")) << shown.out;
}

// The journal read without a relay: every relay's entries newest first, an entry shown with its
// settings decoded, damaged entries, IDs that name none or two, no journal at all.
TEST_F(Ctl, JournalWithoutARelay) {
  const std::string root = Path("data/nx480-pc/journal");
  // Written at UTC-03:00, read at UTC+05:30: the list converts the recorded time.
  const std::string zone = std::getenv("TZ") ? std::getenv("TZ") : "";
  ::setenv("TZ", "WST+3", 1);
  ::tzset();
  nx480::SettingsWords record{};
  record[nx480::kWordUu1] = 196;
  record[nx480::kWordTRel] = 600;  // 60 s at firmware 4's ten steps per second
  const auto settings = JournalChange(root, 1234, nx480::ChangeKind::Settings,
                                      nx480::JournalOutcome::Done, {nx480::SettingsBackup(record)});
  const auto clock =
      JournalChange(root, 4321, nx480::ChangeKind::Clock, nx480::JournalOutcome::Failed);
  const auto calibration =
      JournalChange(root, 1234, nx480::ChangeKind::Calibration, nx480::JournalOutcome::Done,
                    {nx480::CalibrationBackup({1000, 1000, 1000, 10000, 200, 1234, 0, 0})});
  const auto lost = JournalChange(root, 1234, nx480::ChangeKind::Settings,
                                  nx480::JournalOutcome::Pending, {nx480::SettingsBackup(record)});
  zone.empty() ? ::unsetenv("TZ") : ::setenv("TZ", zone.c_str(), 1);
  ::tzset();
  std::ofstream(root + "/001234/" + calibration.id + "/calibration.txt", std::ios::app) << "x";
  std::filesystem::remove(root + "/001234/" + lost.id + "/entry.txt");
  const std::map<std::string, std::string> env{{"XDG_DATA_HOME", Path("data")}, {"TZ", "IST-5:30"}};

  const CtlResult list = RunCtl({"journal", "list", "--all"}, env);
  ASSERT_EQ(list.code, 0) << list.err;
  using Row = std::vector<std::string>;
  const std::vector<Row> expected = {
      {"001234", lost.id, IndiaTimeOf(lost.id), "settings", "-", "DAMAGED: entry.txt is missing"},
      {"001234", calibration.id, IndiaTimeOf(calibration.id), "calibration", "done",
       "calibration changed", "DAMAGED: calibration.txt is larger than entry.txt says"},
      {"004321", clock.id, IndiaTimeOf(clock.id), "clock", "failed", "clock changed"},
      {"001234", settings.id, IndiaTimeOf(settings.id), "settings", "done", "settings changed"}};
  const std::vector<std::string> lines = Lines(list.out);
  ASSERT_EQ(lines.size(), expected.size()) << list.out;
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(Columns(lines[i]), expected[i]) << lines[i];
    EXPECT_EQ(lines[i].find(expected[i][2]), lines[0].find(expected[0][2])) << "aligned\n"
                                                                            << list.out;
  }

  // The same ID under two relays (the copy names the other relay in its entry.txt).
  std::filesystem::copy(root + "/001234/" + settings.id, root + "/004321/" + settings.id);
  const struct {
    std::string id;
    int code;
    std::string says;  // in standard output and error
  } shows[] = {
      {settings.id, 2, "give one as SERIAL/ID: 001234/" + settings.id},
      {"4321/" + settings.id, 5, "DAMAGED: entry.txt names another relay than its folder"},
      {"1234/" + clock.id, 2, "no journal entry"},
      {calibration.id, 5, "\ndescription: calibration changed\n"},
      {lost.id, 5, "DAMAGED: entry.txt is missing\nserial number: 001234\nchange: settings\n"},
  };
  for (const auto& c : shows) {
    const CtlResult r = RunCtl({"journal", "show", c.id}, env);
    EXPECT_EQ(r.code, c.code) << c.id << "\n" << r.err;
    EXPECT_TRUE(Has(r.out + r.err, c.says)) << c.id << "\n" << r.out << r.err;
  }
  const CtlResult shown = RunCtl({"journal", "show", "1234/" + settings.id}, env);
  EXPECT_EQ(shown.code, 0) << shown.err;
  for (const char* part : {"outcome: done\n", "\ntime scale: 10 steps per second (firmware 4)\n",
                           "detail: row: Uu1 190 V -> 196 V\n", "Uu1      196 V (85 %)\n",
                           "tRel     60.0 s\n", "firmware: 4\n"})
    EXPECT_TRUE(Has(shown.out, part)) << part << "\n" << shown.out;
  char crc[16];
  std::snprintf(crc, sizeof crc, "%08x", settings.backups[0].crc32);
  EXPECT_TRUE(Has(shown.out, std::string("file: settings.nx4, 48 bytes, CRC-32 ") + crc))
      << shown.out;

  // A list nobody reads fails as a write, whatever the shell did with SIGPIPE.
  int ends[2];
  ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
  ::close(ends[0]);
  CtlProcess unread({"journal", "list", "--all"}, env, ends[1]);
  ::close(ends[1]);
  const CtlResult gone = unread.Finish(30s);
  EXPECT_EQ(gone.code, 5) << gone.err;
  EXPECT_TRUE(Has(gone.err, "Broken pipe")) << gone.err;

  const struct {
    std::vector<std::string> args;
    std::map<std::string, std::string> env;
    int code;
    std::string says;
  } without[] = {
      {{"journal", "list", "--all"}, {{"XDG_DATA_HOME", Path("none")}}, 0, "no journal entries"},
      {{"journal", "list", "--all"}, {{"XDG_DATA_HOME", ""}, {"HOME", "home"}}, 5, "no journal"},
      {{"journal", "show", settings.id}, {{"XDG_DATA_HOME", ""}, {"HOME", "home"}}, 5, "HOME"},
  };
  for (const auto& c : without) {
    const CtlResult r = RunCtl(c.args, c.env);
    EXPECT_EQ(r.code, c.code) << c.args[1] << "\n" << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(Has(r.err, c.says)) << r.err;
  }
}

// The connected relay's entries only, found by its serial number.
TEST_F(Ctl, JournalOfTheConnectedRelay) {
  const std::string root = Path("data/nx480-pc/journal");
  const auto own =
      JournalChange(root, 1234, nx480::ChangeKind::RelayMode, nx480::JournalOutcome::NotSent);
  JournalChange(root, 4321, nx480::ChangeKind::Clock, nx480::JournalOutcome::Done);
  sim::RelayConfig config;
  config.serial = 1234;
  Start(config);
  const std::map<std::string, std::string> env{{"XDG_DATA_HOME", Path("data")}};
  const CtlResult r = RunCtl({"--port", relay_->SlavePath(), "journal", "list"}, env);
  ASSERT_EQ(r.code, 0) << r.err;
  const std::vector<std::string> lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 1u) << r.out;
  const std::vector<std::string> cells = Columns(lines[0]);
  ASSERT_EQ(cells.size(), 5u) << lines[0];
  EXPECT_EQ(cells[0], own.id);
  EXPECT_EQ(cells[2], "relay-mode");
  EXPECT_EQ(cells[3], "not-sent");
  EXPECT_EQ(cells[4], "relay-mode changed");

  relay_->Stop();
  config.serial = 5555;
  Start(config);
  const CtlResult none = RunCtl({"--port", relay_->SlavePath(), "journal", "list"}, env);
  EXPECT_EQ(none.code, 0) << none.err;
  EXPECT_EQ(none.out, "");
  EXPECT_TRUE(Has(none.err, "no journal entries for relay 005555")) << none.err;
  EXPECT_EQ(RunCtl({"--port", Path("absent"), "journal", "list"}, env).code, 3);
}

}  // namespace

// --demo: the relay inside the program, on its port "demo", with no serial port at all; each run
// makes it anew. Its changes are journaled under its own serial number.
TEST_F(Ctl, DemoRelayWithoutASerialPort) {
  const std::map<std::string, std::string> env = {{"NX480_PORTS", Path("absent")},
                                                  {"XDG_DATA_HOME", Path("data")}};
  const CtlResult id = RunCtl({"--demo", "identify"}, env);
  ASSERT_EQ(id.code, 0) << id.err;
  EXPECT_EQ(id.out,
            "port: demo\nidentification: NX480 - 1.14.d\nfirmware: 14 (delays in steps of 1/20 "
            "s)\ntemperature: no\nserial number: 999999\n");
  const CtlResult both = RunCtl({"--demo", "--port", Path("absent"), "identify"}, env);
  EXPECT_EQ(both.code, 2);
  EXPECT_TRUE(Has(both.err, "--demo and --port exclude each other")) << both.err;

  // Its live values move: three snapshots, not all alike (their times aside).
  const CtlResult live = RunCtl({"--demo", "live", "--count", "3"}, env);
  ASSERT_EQ(live.code, 0) << live.err;
  std::vector<std::string> voltages;
  for (const std::string& line : Lines(live.out))
    if (Has(line, "U1 ")) voltages.push_back(line.substr(line.find("U1 ")));
  ASSERT_EQ(voltages.size(), 3u) << live.out;
  EXPECT_FALSE(voltages[0] == voltages[1] && voltages[1] == voltages[2]) << live.out;

  // A settings write, read back by the relay's own answer and journaled.
  const std::string before = Path("before.nx4");
  ASSERT_EQ(RunCtl({"--demo", "settings", "read", before}, env).code, 0);
  std::string changed = ReadAll(before);
  ASSERT_EQ(changed.size(), 48u);
  changed[16] = static_cast<char>(190);  // Uu1
  changed[17] = 0;
  const std::string target = Path("target.nx4");
  WriteAll(target, changed);
  const CtlResult write = RunCtl({"--demo", "settings", "write", target}, env);
  ASSERT_EQ(write.code, 0) << write.err;
  EXPECT_TRUE(Has(write.err, "read back and equal")) << write.err;
  const CtlResult list = RunCtl({"--demo", "journal", "list"}, env);
  ASSERT_EQ(list.code, 0) << list.err;
  const std::vector<std::string> lines = Lines(list.out);
  ASSERT_EQ(lines.size(), 1u) << list.out;
  const std::vector<std::string> columns = Columns(lines[0]);
  ASSERT_GE(columns.size(), 4u) << lines[0];
  EXPECT_EQ(columns[3], "done") << lines[0];
  EXPECT_TRUE(std::filesystem::is_directory(Path("data/nx480-pc/journal/999999")));
}
