// The relay on a real pseudo-terminal, talked to as the tool does.
#include "pty.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <mutex>
#include <thread>

#include "crc.h"
#include "pty_relay.h"
#include "relay_live.h"
#include "test_util.h"

namespace nx480::sim {
namespace {

using namespace std::chrono_literals;
using test::Hex;
using Port = RawLine;
using Clock = std::chrono::steady_clock;

const std::string kIdent = "01 11 C0 2C";
const std::string kIdentReply =
    "01 11 19 4E 58 34 38 30 00 00 00 00 00 00 00 00 00 00 00 31 2E 31 34 2E 64 00 00 00 F4 B8";
const std::string kReadCal = "01 03 00 18 00 08 C4 0B";
const std::string kReadCalReply = "01 03 10 03 E8 03 E8 03 E8 27 10 00 C8 04 D2 00 00 01 01 1A 11";

std::string TempPath(const std::string& name) {
  return testing::TempDir() + "nx480sim_" + std::to_string(::getpid()) + "_" + name;
}

bool IsSymlink(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

TEST(PtyRelay, AnswersWithoutEchoAndSurvivesReopening) {
  std::mutex trace_mutex;
  std::vector<std::string> trace;
  PtyOptions options;
  options.trace = [&](bool incoming, std::span<const std::uint8_t> bytes) {
    std::lock_guard lock(trace_mutex);
    trace.push_back((incoming ? "<- " : "-> ") + Hex(bytes));
  };
  PtyRelay relay({}, options);
  relay.Start();
  ASSERT_TRUE(relay.Running());
  ASSERT_FALSE(relay.SlavePath().empty());

  {
    // The port is raw before the tool touches it: no echo, no line editing,
    // no newline translation (the request carries a 0x0A byte).
    Port plain(relay.SlavePath(), /*configure=*/false);
    ASSERT_TRUE(plain.Ok());
    termios tio{};
    ASSERT_EQ(::tcgetattr(plain.Fd(), &tio), 0);
    EXPECT_EQ(tio.c_lflag & (ECHO | ICANON | ISIG), 0U);
    EXPECT_EQ(tio.c_oflag & OPOST, 0U);
    EXPECT_EQ(tio.c_iflag & (ICRNL | IXON), 0U);
    EXPECT_EQ(plain.Ask("01 03 00 0A 00 01 A4 08", 7), "01 03 02 00 FD 79 C5");
  }

  for (int round = 0; round < 3; ++round) {
    Port port(relay.SlavePath());
    ASSERT_TRUE(port.Ok()) << "round " << round;
    EXPECT_EQ(port.Ask(kIdent, 30), kIdentReply) << "round " << round;
    EXPECT_EQ(port.Ask(kReadCal, 21), kReadCalReply) << "round " << round;
    // Nothing else follows: no echo, no stray bytes.
    EXPECT_EQ(Hex(port.ReadFor(100ms)), "") << "round " << round;
  }

  // Had the replies been echoed back to the relay, it would have received
  // more than the requests and seen damaged frames.
  ASSERT_TRUE(relay.WaitFor([](const RelayCounters& c) { return c.replies_sent == 7; }, 10000ms));
  const RelayCounters c = relay.Counters();
  EXPECT_EQ(c.model.requests, 7U);
  EXPECT_EQ(c.bytes_received, 8U + 3U * (4 + 8));
  EXPECT_EQ(c.bytes_sent, 7U + 3U * (30 + 21));
  EXPECT_EQ(c.framer.bad_crc + c.framer.torn + c.model.bad_frames, 0U);

  relay.Stop();  // the trace callback has run for every reply by now
  std::lock_guard lock(trace_mutex);
  ASSERT_GE(trace.size(), 4U);
  EXPECT_EQ(trace[2], "<- " + kIdent);
  EXPECT_EQ(trace[3], "-> " + kIdentReply);
}

TEST(PtyRelay, TornAndDamagedRequestsDoNotWedgeIt) {
  PtyRelay relay;
  relay.Start();
  Port port(relay.SlavePath());
  ASSERT_TRUE(port.Ok());

  // A torn request, then silence: dropped, and the next request is answered.
  ASSERT_TRUE(port.Write("01 03 00"));
  EXPECT_EQ(Hex(port.ReadFor(150ms)), "");
  EXPECT_EQ(port.Ask(kIdent, 30), kIdentReply);

  // A torn request straight followed by a full one.
  ASSERT_TRUE(port.Write("01 03 00"));
  EXPECT_EQ(port.Ask(kReadCal, 21), kReadCalReply);

  // Bad CRC, another slave, unknown function noise: no reply to any.
  ASSERT_TRUE(port.Write("01 03 00 18 00 08 C4 0A"));
  ASSERT_TRUE(port.Write("02 03 00 00 00 08 44 3F"));
  EXPECT_EQ(Hex(port.ReadFor(200ms)), "");
  ASSERT_TRUE(port.Write("01 2B 0E 01 00 70 78"));
  EXPECT_EQ(Hex(port.ReadFor(200ms)), "");
  EXPECT_EQ(port.Ask(kIdent, 30), kIdentReply);

  // An unknown function with a good CRC ends at the silence gap and is refused.
  EXPECT_EQ(port.Ask("01 2B 0E 01 00 70 77", 5), "01 AB 01 9E F0");
  EXPECT_EQ(port.Ask(kReadCal, 21), kReadCalReply);

  const RelayCounters c = relay.Counters();
  EXPECT_GE(c.framer.torn, 1U);
  EXPECT_EQ(c.model.other_address, 1U);
  EXPECT_EQ(c.replies_sent, 5U);
}

TEST(PtyRelay, PacesRepliesAndDelaysAnswers) {
  {
    PtyOptions options;
    options.baud = 9600;  // 30 bytes * 10 bits / 9600 = 31 ms on the wire
    PtyRelay relay({}, options);
    relay.Start();
    Port port(relay.SlavePath());
    ASSERT_TRUE(port.Ok());
    for (int i = 0; i < 2; ++i) {
      const auto start = Clock::now();
      ASSERT_TRUE(port.Write(kIdent));
      const auto first = port.Read(1, 10000ms);
      const auto rest = port.Read(29, 10000ms);
      const auto elapsed = Clock::now() - start;
      std::vector<std::uint8_t> all = first;
      all.insert(all.end(), rest.begin(), rest.end());
      EXPECT_EQ(Hex(all), kIdentReply);
      EXPECT_GE(elapsed, 25ms);
    }
  }
  {
    PtyOptions options;
    options.answer_delay = 60ms;
    PtyRelay relay({}, options);
    relay.Start();
    Port port(relay.SlavePath());
    ASSERT_TRUE(port.Ok());
    const auto start = Clock::now();
    EXPECT_EQ(port.Ask(kIdent, 30), kIdentReply);
    EXPECT_GE(Clock::now() - start, 55ms);
  }
}

TEST(PtyRelay, FaultsAndChangesWhileRunning) {
  PtyRelay relay;
  relay.Start();
  Port port(relay.SlavePath());
  ASSERT_TRUE(port.Ok());

  // Silence for the first read of holding registers only.
  relay.AddFault({FaultKind::kSilence, 0x03, 1, 0, -1});
  EXPECT_EQ(port.Ask(kReadCal, 21, 300ms), "");
  EXPECT_EQ(port.Ask(kReadCal, 21), kReadCalReply);

  // A late reply misses a 150 ms read window but comes in the end.
  relay.AddFault({FaultKind::kLateReply, 0, 1, 0, -1});
  auto start = Clock::now();
  EXPECT_EQ(port.Ask(kIdent, 30, 150ms), "");
  EXPECT_EQ(Hex(port.Read(30, 10000ms)), kIdentReply);
  EXPECT_GE(Clock::now() - start, 380ms);

  // A request sent while a late reply is pending is answered after it.
  relay.AddFault({FaultKind::kLateReply, 0x11, 1, 0, 300});
  ASSERT_TRUE(port.Write(kIdent));
  ASSERT_TRUE(port.Write(kReadCal));
  EXPECT_EQ(Hex(port.Read(51, 10000ms)), kIdentReply + " " + kReadCalReply);

  relay.AddFault({FaultKind::kException, 0, 1, 0, 3});
  EXPECT_EQ(port.Ask(kIdent, 5), "01 91 03 0D 91");
  relay.AddFault({FaultKind::kExtraBytes, 0, 1, 0, 3});
  EXPECT_EQ(port.Ask(kIdent, 33).substr(0, kIdentReply.size()), kIdentReply);
  relay.AddFault({FaultKind::kSilence, 0, -1, 0, -1});
  relay.ClearFaults();
  EXPECT_EQ(port.Ask(kIdent, 30), kIdentReply);

  // Registers and hooks changed from this thread show up in replies.
  ASSERT_TRUE(relay.SetRegister(Table::kHolding, kRegSerialLow, 99));
  EXPECT_FALSE(relay.SetRegister(Table::kHolding, 0x80, 1));
  EXPECT_EQ(relay.GetRegister(Table::kHolding, kRegSerialLow), 99);
  EXPECT_FALSE(relay.GetRegister(Table::kInputs, 16));
  EXPECT_EQ(port.Ask("01 03 00 1D 00 02 54 0D", 9), "01 03 04 00 63 00 00 0A 2D");
  relay.WithModel([](RelayModel& m) {
    m.SetBeforeReadHook([](Table table, std::uint16_t, std::uint16_t, RegisterBank& bank) {
      if (table == Table::kInputs)
        bank.inputs.Set(0, static_cast<std::uint16_t>(bank.inputs.Get(0) + 1));
    });
  });
  EXPECT_EQ(port.Ask("01 04 00 00 00 01 31 CA", 7), "01 04 02 00 01 78 F0");
  EXPECT_EQ(port.Ask("01 04 00 00 00 01 31 CA", 7), "01 04 02 00 02 38 F1");
}

TEST(PtyRelay, ABabblingReplyKeepsTheLineBusyThenFallsSilent) {
  PtyRelay relay;
  relay.Start();
  Port port(relay.SlavePath());
  ASSERT_TRUE(port.Ok());
  relay.AddFault({FaultKind::kBabble, 0x11, 1, 0, 800});
  const auto start = Clock::now();
  EXPECT_EQ(port.Ask(kIdent, 30), kIdentReply);
  // Collect until the line has been quiet for a second (or 20 s have passed). The babble is
  // paced as 115200 baud would carry it (11.52 bytes a millisecond): never ahead of that pace
  // since the request, however late the relay's thread may run.
  auto last = start;
  std::size_t babbled = 0;
  std::size_t ahead = 0;  // the most bytes beyond the pace at any read
  while (Clock::now() - start < 20s) {
    pollfd p{port.Fd(), POLLIN, 0};
    if (::poll(&p, 1, 1000) <= 0) break;
    std::uint8_t buf[4096];
    const ssize_t n = ::read(port.Fd(), buf, sizeof buf);
    if (n <= 0) continue;
    babbled += static_cast<std::size_t>(n);
    last = Clock::now();
    const double ms = std::chrono::duration<double, std::milli>(last - start).count();
    const double paced = 11.52 * ms + 23;  // and the first 2 ms chunk at once
    if (babbled > paced) ahead = std::max(ahead, babbled - static_cast<std::size_t>(paced));
  }
  EXPECT_GE(last - start, 750ms) << "fell silent early";  // its last chunk is due at 798 ms
  EXPECT_LT(last - start, 5s) << "did not stop";
  EXPECT_EQ(ahead, 0U) << "not paced";
  EXPECT_GT(babbled, 6000U);  // most of 800 ms at the pace
  EXPECT_EQ(relay.Counters().babble_bytes, babbled);
  // The line is clean again afterwards.
  EXPECT_EQ(port.Ask(kIdent, 30), kIdentReply);
  EXPECT_EQ(Hex(port.ReadFor(100ms)), "");
}

TEST(PtyRelay, StopIsPromptAndCleansUp) {
  const std::string link = TempPath("link");
  PtyOptions options;
  options.link_path = link;
  PtyRelay relay({}, options);
  relay.Start();
  EXPECT_THROW(relay.Start(), std::logic_error);
  ASSERT_TRUE(IsSymlink(link));
  {
    Port port(link);
    ASSERT_TRUE(port.Ok());
    EXPECT_EQ(port.Ask(kIdent, 30), kIdentReply);
  }

  auto start = Clock::now();
  relay.Stop();
  EXPECT_LT(Clock::now() - start, 2s);
  EXPECT_FALSE(relay.Running());
  EXPECT_FALSE(IsSymlink(link));
  relay.Stop();  // twice is harmless

  // Again, on a new pty, with a reply held back far into the future.
  relay.Start();
  ASSERT_TRUE(IsSymlink(link));
  {
    Port port(link);
    ASSERT_TRUE(port.Ok());
    EXPECT_EQ(port.Ask(kIdent, 30), kIdentReply);
    relay.AddFault({FaultKind::kLateReply, 0, 1, 0, 30000});
    const RelayCounters before = relay.Counters();  // counters run on across restarts
    EXPECT_EQ(before.model.requests, 2U);
    ASSERT_TRUE(port.Write(kIdent));
    ASSERT_TRUE(
        relay.WaitFor([](const RelayCounters& c) { return c.model.requests == 3; }, 20000ms));
    start = Clock::now();
    relay.Stop();
    EXPECT_LT(Clock::now() - start, 2s);
  }
  EXPECT_FALSE(IsSymlink(link));

  // A path that is not a symlink is never replaced.
  { std::ofstream(link) << "keep"; }
  EXPECT_THROW(relay.Start(), std::system_error);
  EXPECT_FALSE(relay.Running());
  std::ifstream in(link);
  std::string content;
  in >> content;
  EXPECT_EQ(content, "keep");
  ::unlink(link.c_str());

  // The destructor stops a running relay.
  auto scoped = std::make_unique<PtyRelay>();
  scoped->Start();
  start = Clock::now();
  scoped.reset();
  EXPECT_LT(Clock::now() - start, 2s);
}

TEST(PtyRelay, ConcurrentUseFromTheTestThread) {
  PtyRelay relay;
  auto live = AttachLiveValues(relay);
  relay.WithModel([](RelayModel& m) { return m.MakeHistory(32, 0); });
  relay.Start();
  Port port(relay.SlavePath());
  ASSERT_TRUE(port.Ok());

  // Registers, faults and stage trips changed from another thread while requests are served
  // and the trips go into the event ring.
  std::atomic<bool> done{false};
  int trips = 0;
  std::thread fiddler([&] {
    std::uint16_t v = 0;
    while (!done) {
      relay.SetRegister(Table::kHolding, 5, v++);
      (void)relay.GetRegister(Table::kHolding, 5);
      (void)relay.GetRegister(Table::kHolding, kRegHistoryNext);
      (void)relay.Counters();
      relay.WithModel([](RelayModel& m) { return m.Faults().Empty(); });
      if (trips < 1000) {
        live->Trip(*ParseStage("U<", 14), 1ms);
        ++trips;
      }
      std::this_thread::sleep_for(200us);
    }
  });
  int good = 0;
  for (int i = 0; i < 100; ++i) {
    const bool ring = i % 2 == 1;
    const auto reply =
        port.Ask(ring ? "01 03 00 44 00 02 84 1E" : "01 03 00 05 00 01 94 0B", ring ? 9 : 7);
    const auto bytes = test::Bytes(reply);
    if (bytes.size() == (ring ? 9U : 7U) && CrcOk(bytes) &&
        reply.substr(0, 8) == (ring ? "01 03 04" : "01 03 02"))
      ++good;
  }
  done = true;
  fiddler.join();
  EXPECT_EQ(good, 100);
  const auto events = relay.WithModel([](RelayModel& m) { return m.Events(); });
  EXPECT_EQ(std::count_if(events.begin(), events.end(),
                          [](const EventRecord& e) { return e.code == EventCode::kDisconnection; }),
            trips);
}

}  // namespace
}  // namespace nx480::sim
