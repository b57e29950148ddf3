// The worker loop, pausing and the synchronous hand-over into the user-interface thread.
// The test's main thread plays the user-interface thread.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link_support.h"
#include "modbus.h"
#include "pty.h"
#include "pty_relay.h"
#include "relay_fixture.h"

using namespace nx480;
using namespace std::chrono_literals;

namespace {

// Ends the test run instead of hanging when a call that must return does not.
template <typename F>
void WithinSeconds(int seconds, F&& f, const char* what) {
  auto done = std::async(std::launch::async, std::forward<F>(f));
  if (done.wait_for(std::chrono::seconds(seconds)) != std::future_status::ready) {
    std::fprintf(stderr, "deadlock: %s did not return within %d s\n", what, seconds);
    std::abort();
  }
  done.get();
}

struct Flags {
  std::array<Request, kRequestSlotCount> flag{};
};

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 20000ms) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

// The descriptors of this process that refer to `path` (also once its device has vanished).
int Holders(const std::string& path) {
  int count = 0;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
    std::error_code e;
    const std::string target = std::filesystem::read_symlink(entry.path(), e).string();
    count += target == path || target == path + " (deleted)";
  }
  return count;
}

}  // namespace

TEST(Worker, ServesEveryFlagInTableOrderOncePerRequest) {
  TModbus worker;
  Flags flags;
  std::mutex m;
  std::vector<int> served;
  for (int i = 0; i < kRequestSlotCount; ++i) {
    BindSimple(worker, static_cast<RequestSlot>(i), &flags.flag[i], [&, i] {
      std::lock_guard<std::mutex> lock(m);
      served.push_back(i);
    });
  }
  // Created paused: flags set now are not served.
  for (auto& f : flags.flag) f.Set(1);
  std::this_thread::sleep_for(150ms);  // none is served meanwhile
  {
    std::lock_guard<std::mutex> lock(m);
    EXPECT_TRUE(served.empty());
  }
  EXPECT_TRUE(worker.IsParked());

  // After the resume all of them are served at once, in table order, and cleared.
  worker.Resume();
  ASSERT_TRUE(WaitUntil([&] {
    std::lock_guard<std::mutex> lock(m);
    return served.size() == kRequestSlotCount;
  }));
  {
    std::lock_guard<std::mutex> lock(m);
    for (int i = 0; i < kRequestSlotCount; ++i) EXPECT_EQ(served[i], i);
  }
  for (auto& f : flags.flag) EXPECT_EQ(f.Value(), 0);

  // With no flag set the loop only sleeps: passes go on, nothing more is served.
  const uint64_t passes = worker.Passes();
  ASSERT_TRUE(WaitUntil([&] { return worker.Passes() >= passes + 3; }));
  {
    std::lock_guard<std::mutex> lock(m);
    EXPECT_EQ(served.size(), size_t(kRequestSlotCount));
  }
  // A flag without a transaction is simply cleared.
  Request unbound;
  BindSimple(worker, kRelayCommand, &unbound, nullptr);
  unbound.Set(3);
  ASSERT_TRUE(WaitUntil([&] { return unbound.Value() == 0; }));
  worker.Suspend();
}

TEST(Worker, NoTransactionStartsAfterAPauseIsRequested) {
  TModbus worker;
  Request live, read;
  std::atomic<bool> liveRunning{false}, liveDone{false};
  std::atomic<int> readRuns{0};
  // It runs on until the pause is asked for, and a little after it.
  BindSimple(worker, kLiveRequest, &live, [&] {
    liveRunning = true;
    for (int i = 0; i < 30'000 && worker.IsRunning(); ++i) std::this_thread::sleep_for(1ms);
    std::this_thread::sleep_for(100ms);
    liveDone = true;
  });
  BindSimple(worker, kReadParamsRequest, &read, [&] { ++readRuns; });
  worker.Resume();
  read.Set(1);  // data first, flag last: here both are set for the same pass
  live.Set(1);
  ASSERT_TRUE(WaitUntil([&] { return liveRunning.load(); }));
  read.Set(1);
  WithinSeconds(
      30, [&] { worker.Suspend(); }, "Suspend during a transaction");
  // Suspend returned only once the running transaction had ended ...
  EXPECT_TRUE(liveDone.load());
  EXPECT_TRUE(worker.IsParked());
  // ... and the flag behind it was not started; it waits for the next resume.
  const int runsAtPause = readRuns.load();
  std::this_thread::sleep_for(150ms);  // nothing starts meanwhile
  EXPECT_EQ(readRuns.load(), runsAtPause);
  EXPECT_EQ(read.Value(), 1);
  worker.Resume();
  ASSERT_TRUE(WaitUntil([&] { return read.Value() == 0; }));
  EXPECT_EQ(readRuns.load(), runsAtPause + 1);
  worker.Suspend();
}

TEST(Worker, SynchronousCallsRunOnTheUiThreadAndNeverDeadlockAPause) {
  TModbus worker;
  const auto uiThread = std::this_thread::get_id();
  std::atomic<int> posts{0};
  worker.SetUiPoster([&] { ++posts; });  // the "event loop" is this test's main thread

  Request live;
  std::thread::id ranOn;
  int handedOver = 0;  // written by the worker, read on the UI thread after the call
  int seenByStep = -1;
  std::atomic<bool> afterCall{false};
  BindSimple(worker, kLiveRequest, &live, [&] {
    handedOver = 42;
    worker.Synchronize([&] {
      ranOn = std::this_thread::get_id();
      seenByStep = handedOver;
    });
    afterCall = true;
  });
  worker.Resume();
  live.Set(1);

  // The UI thread serves the call when its event loop gets to it.
  ASSERT_TRUE(WaitUntil([&] { return posts.load() > 0; }));
  EXPECT_FALSE(afterCall.load());  // the worker waits for the step
  worker.ServiceSyncCalls();
  ASSERT_TRUE(WaitUntil([&] { return afterCall.load(); }));
  EXPECT_EQ(ranOn, uiThread);
  EXPECT_EQ(seenByStep, 42);
  ASSERT_TRUE(WaitUntil([&] { return live.Value() == 0; }));

  // Now pause while the worker waits in a synchronous call that the event loop never gets to:
  // Suspend runs the step itself instead of waiting for a worker that waits for it.
  afterCall = false;
  ranOn = {};
  const int postsBefore = posts.load();
  live.Set(1);
  ASSERT_TRUE(WaitUntil([&] { return posts.load() > postsBefore; }));
  WithinSeconds(
      30, [&] { worker.Suspend(); }, "Suspend against a pending synchronous call");
  EXPECT_TRUE(afterCall.load());
  EXPECT_TRUE(worker.IsParked());

  // The grace wait before a pause serves calls as well.
  worker.Resume();
  afterCall = false;
  live.Set(1);
  ASSERT_TRUE(WaitUntil([&] { return posts.load() > postsBefore + 1; }));
  EXPECT_TRUE(worker.WaitServicing(20000ms, [&] { return afterCall.load(); }));
  WithinSeconds(
      30, [&] { worker.Suspend(); }, "Suspend after the grace wait");
}

TEST(Worker, ThrowingTransactionsAndStepsFailButTheWorkerGoesOn) {
  // A transaction that throws, or whose step on the user-interface thread throws, ends as a
  // failed transaction: its window is told, and the worker serves the next flags.
  TModbus worker;
  worker.SetUiPoster([] {});
  Request live, read, write;
  std::atomic<int> failures{0}, served{0};
  std::atomic<bool> afterStep{false};
  BindSimple(
      worker, kLiveRequest, &live,
      [&] {
        worker.Synchronize([] { throw std::runtime_error("display failed"); });
        afterStep = true;
      },
      [&] { ++failures; });
  BindSimple(
      worker, kReadParamsRequest, &read, [] { throw std::logic_error("transaction failed"); },
      [&] { ++failures; });
  BindSimple(worker, kWriteParamsRequest, &write, [&] { ++served; });
  worker.Resume();
  live.Set(1);
  read.Set(1);
  write.Set(1);
  bool escaped = false;
  ASSERT_TRUE(WaitUntil([&] {
    try {
      worker.ServiceSyncCalls();
    } catch (...) {
      escaped = true;
    }
    return served.load() == 1;
  }));
  EXPECT_FALSE(escaped);  // nothing reaches the user-interface thread's event loop
  EXPECT_FALSE(afterStep.load());
  EXPECT_EQ(failures.load(), 2);
  EXPECT_EQ(live.Value() + read.Value() + write.Value(), 0);
  WithinSeconds(
      30, [&] { worker.Suspend(); }, "Suspend after throwing transactions");
}

TEST(Worker, ClosingThePortEndsARunningTransactionAsOnAClosedPort) {
  sim::PtyRelay relay;
  relay.Start();
  relay.AddFault({.kind = sim::FaultKind::kSilence, .function = 0x11, .count = -1});
  TModbus worker;
  // A long read constant: the transaction would wait 30 s for the silent relay.
  ASSERT_TRUE(worker.OpenPort(relay.SlavePath(), TestLine(30000), 50));
  Request live;
  std::atomic<bool> started{false}, finished{false};
  LinkError error = LinkError::None;
  BindSimple(worker, kLiveRequest, &live, [&] {
    started = true;
    worker.SendRequest(worker.BuildRequest(templates::kIdentification));
    worker.CheckReply(kMainReply, 30);
    error = worker.LastError();
    worker.DrainInput();
    finished = true;
  });
  worker.Resume();
  live.Set(1);
  ASSERT_TRUE(WaitUntil([&] { return started.load(); }));
  // The request is out: the transaction waits for the reply (or is about to).
  ASSERT_TRUE(relay.WaitFor([](const sim::RelayCounters& c) { return c.model.faults >= 1; }, 20s));
  const auto t0 = std::chrono::steady_clock::now();
  WithinSeconds(
      30, [&] { worker.ClosePort(); }, "ClosePort during a transaction");
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
          .count();
  EXPECT_TRUE(finished.load());
  EXPECT_EQ(error, LinkError::PortClosed);
  EXPECT_LT(ms, 10000);  // far below the 30-second read limit
  EXPECT_FALSE(worker.PortIsOpen());
  EXPECT_TRUE(worker.IsParked());
}

TEST(Worker, AFlagIsClearedOnlyAfterItsTransactionHasReturned) {
  // The window refuses a second write while the first is on its way by looking at the flag.
  TModbus worker;
  Request write;
  std::atomic<int32_t> seenInside{-1};
  BindSimple(worker, kWriteParamsRequest, &write, [&] { seenInside = write.Value(); });
  worker.Resume();
  write.Set(1);
  ASSERT_TRUE(WaitUntil([&] { return write.Value() == 0; }));
  EXPECT_EQ(seenInside.load(), 1);
  worker.Suspend();
}

TEST(Worker, AnotherValueSetWhileATransactionRunsIsServedNext) {
  // "Auto" clicked while a forced state goes out: the loop clears only the value it served.
  TModbus worker;
  Request mode;
  std::array<std::atomic<int32_t>, 3> served{};
  std::atomic<int> runs{0};
  BindSimple(worker, kRelayCommand, &mode, [&] {
    const int run = runs.fetch_add(1);
    if (run < 3) served[run] = mode.Value();
    if (run == 0) mode.Set(1);
  });
  worker.Resume();
  mode.Set(2);
  ASSERT_TRUE(WaitUntil([&] { return mode.Value() == 0 && runs.load() >= 2; }));
  std::this_thread::sleep_for(100ms);  // no third run meanwhile
  worker.Suspend();
  EXPECT_EQ(runs.load(), 2);
  EXPECT_EQ(served[0].load(), 2);
  EXPECT_EQ(served[1].load(), 1);
}

TEST(Worker, APauseCutsARunningTransactionsWaitsShort) {
  // A relay that never answers, a read limit of thirty seconds and long fixed waits: a pause
  // still ends the transaction within milliseconds, and the transaction sees why.
  sim::PtyRelay relay;
  relay.Start();
  relay.AddFault({.kind = sim::FaultKind::kSilence, .count = -1});
  TModbus worker;
  ASSERT_TRUE(worker.OpenPort(relay.SlavePath(), TestLine(30000), 50));
  Request write, history;
  std::atomic<int> step{0};
  std::atomic<LinkError> error{LinkError::None};
  std::atomic<bool> sleptWhole{true}, walkEnded{false};
  BindSimple(worker, kWriteParamsRequest, &write, [&] {
    step = 1;
    sleptWhole = worker.Sleep(30s);
    worker.SendRequest(worker.BuildRequest(templates::kParamsReadLow));
    worker.CheckReply(kMainReply, 21);
    error = worker.LastError();
    worker.DrainInput();
  });
  BindSimple(worker, kHistoryRequest, &history, [&] {
    // A long walk asks between its steps whether to go on.
    step = 2;
    while (!worker.StopRequested()) worker.Sleep(10ms);
    walkEnded = true;
  });
  for (int round = 0; round < 2; ++round) {
    Request& request = round == 0 ? write : history;
    step = 0;
    worker.Resume();
    request.Set(1);
    ASSERT_TRUE(WaitUntil([&] { return step.load() != 0; }));
    std::this_thread::sleep_for(30ms);  // into its wait, most likely; a pause before it ends it too
    const auto t0 = std::chrono::steady_clock::now();
    bool parked = false;
    WithinSeconds(
        60, [&] { parked = worker.Suspend(); }, "Suspend during a long transaction");
    EXPECT_TRUE(parked);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 10s) << round;  // a third of the read limit
  }
  EXPECT_FALSE(sleptWhole.load());
  EXPECT_EQ(error.load(), LinkError::Stopped);
  EXPECT_TRUE(walkEnded.load());
  EXPECT_TRUE(worker.PortIsOpen());
  worker.ClosePort();
}

TEST(Worker, APauseAskedForInsideASynchronousStepIsNotTakenForAParkedWorker) {
  TModbus worker;
  std::atomic<int> posts{0};
  worker.SetUiPoster([&] { ++posts; });
  Request live, other;
  std::atomic<bool> transactionDone{false};
  bool suspended = true, bound = true, mine = false;
  BindSimple(worker, kLiveRequest, &live, [&] {
    worker.Synchronize([&] {
      // The user-interface thread, inside the step the worker waits for.
      suspended = worker.Suspend();
      bound = BindSimple(worker, kReadParamsRequest, &other, [] {});
      mine = worker.PortIsMine();
    });
    transactionDone = true;
  });
  worker.Resume();
  live.Set(1);
  bool done = false;
  WithinSeconds(
      60,
      [&] {
        done = WaitUntil([&] {
          worker.ServiceSyncCalls();
          return transactionDone.load();
        });
      },
      "a pause inside a synchronous step");
  ASSERT_TRUE(done);
  EXPECT_FALSE(suspended);  // refused: the worker was running the transaction
  EXPECT_FALSE(bound);
  EXPECT_TRUE(mine);  // the step may use the port, the worker waits for it
  // The pause was recorded: the worker parks once the transaction has ended.
  ASSERT_TRUE(WaitUntil([&] { return worker.IsParked(); }));
  EXPECT_TRUE(worker.Suspend());
}

TEST(Worker, DestroyingTheWorkerServesTheCallItWaitsIn) {
  // A transaction waits for the user-interface thread, whose event loop is gone: the
  // destructor pauses the worker, serving that call, instead of waiting forever in the join.
  std::atomic<bool> served{false};
  WithinSeconds(
      30,
      [&] {
        Request live;
        auto worker = std::make_unique<TModbus>();
        std::atomic<bool> waiting{false};
        worker->SetUiPoster([&] { waiting = true; });
        BindSimple(*worker, kLiveRequest, &live,
                   [&] { worker->Synchronize([&] { served = true; }); });
        worker->Resume();
        live.Set(1);
        while (!waiting) std::this_thread::sleep_for(2ms);
        worker.reset();
      },
      "destroying a worker that waits in a synchronous call");
  EXPECT_TRUE(served.load());
}

// ---- The worker over the simulated relay in virtual time: its waits are the line's, so what
// a pause, a babbling line or a vanished device does to a transaction is exact.

using WorkerOnLine = RelayLinkTest<>;

TEST_F(WorkerOnLine, UiThreadMayNotUseThePortWhileTheWorkerRuns) {
  Connect();
  EXPECT_TRUE(link_.PortIsMine());  // paused by OpenPort
  link_.Resume();
  std::string text = "kept";
  EXPECT_FALSE(link_.Identify(text));
  EXPECT_EQ(link_.LastError(), LinkError::PortBusy);
  EXPECT_EQ(link_.ReadSerialNumber(), -1);
  EXPECT_EQ(text, "kept");
  EXPECT_EQ(Requests(), 0u);  // nothing went on the wire

  link_.Suspend();
  EXPECT_TRUE(link_.Identify(text));
  EXPECT_EQ(text, "NX480   1.14.d");
}

TEST_F(WorkerOnLine, ABabblingLineCannotHoldOffAPause) {
  Connect();
  // After the identification's reply the relay babbles for a minute.
  relay_->AddFault({.kind = sim::FaultKind::kBabble, .function = 0x11, .param = 60'000});
  std::string text;
  ASSERT_TRUE(link_.Identify(text));
  Request live;
  std::chrono::steady_clock::duration drainTook{};
  BindSimple(link_, kLiveRequest, &live, [&] {
    const auto t0 = Now();
    link_.DrainInput();  // bytes keep coming: it would never end by itself
    drainTook = Now() - t0;
  });
  // A pause asked for 300 ms into the drain ends it there.
  line_->At(Now() + 300ms, [&] { EXPECT_FALSE(link_.Suspend()); });
  Serve(live, 1);
  EXPECT_EQ(drainTook, 300ms);

  // Without a pause the drain gives up by itself after its limit, so the other requests and
  // their status texts keep going.
  Serve(live, 1);
  EXPECT_GE(drainTook, 50ms + TModbus::kDrainLimit);
  EXPECT_LT(drainTook, 50ms + TModbus::kDrainLimit + 1ms);
}

TEST_F(WorkerOnLine, AVanishedDeviceParksTheWorkerAndIsReportedOnce) {
  Connect();
  relay_->AddFault({.kind = sim::FaultKind::kSilence, .count = -1});
  std::mutex m;
  std::vector<uint64_t> reports;
  link_.SetGonePoster([&](uint64_t connection) {
    std::lock_guard<std::mutex> lock(m);
    reports.push_back(connection);
  });
  const uint64_t connection = link_.Connection();
  Request live, write;
  std::atomic<int> lives{0}, writes{0};
  std::atomic<LinkError> error{LinkError::None};
  BindSimple(link_, kLiveRequest, &live, [&] {
    ++lives;
    link_.SendRequest(link_.BuildRequest(templates::kLiveRegisters16));
    if (!link_.CheckReply(kMainReply, 37)) error = link_.LastError();
    link_.DrainInput();
  });
  BindSimple(link_, kWriteParamsRequest, &write, [&] { ++writes; });
  Serve(live, 1);
  EXPECT_EQ(error.load(), LinkError::NoReply);  // silent, not gone: the worker goes on

  relay_->Unplug(Now() + 20ms);
  write.Set(1);
  live.Set(1);
  link_.Resume();
  ASSERT_TRUE(WaitUntil([&] { return link_.IsParked(); }));
  EXPECT_EQ(error.load(), LinkError::DeviceGone);
  EXPECT_TRUE(link_.DeviceGone());
  EXPECT_EQ(writes.load(), 0);  // no transaction after it on the dead line
  EXPECT_EQ(write.Value(), 1);
  const int livesSoFar = lives.load();
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(lives.load(), livesSoFar);  // no spinning on the dead line
  {
    std::lock_guard<std::mutex> lock(m);
    EXPECT_EQ(reports, std::vector<uint64_t>{connection});
  }
}

TEST_F(WorkerOnLine, TheDrainTellsNoMoreBytesFromAVanishedDevice) {
  Connect();
  // No more bytes: the drain waits out one read (50 ms, then 1 + 100 ms), and the line is
  // still there.
  auto t0 = Now();
  link_.DrainInput();
  EXPECT_EQ(MsSince(t0), 151);
  EXPECT_FALSE(link_.DeviceGone());

  // Bytes keep coming, then the adapter is pulled out: the drain takes what came and ends
  // there, knowing the device is gone, long before its limit for a babbling line.
  t0 = Now();
  relay_->Emit(std::vector<uint8_t>(3000, 0x55), t0);  // 260 ms of bytes
  relay_->Unplug(t0 + 300ms);
  link_.DrainInput();
  EXPECT_TRUE(link_.DeviceGone());
  EXPECT_EQ(MsSince(t0), 300);

  // Draining a gone device reads nothing and does not wait for bytes: its first 50 ms only.
  t0 = Now();
  link_.DrainInput();
  EXPECT_EQ(MsSince(t0), 50);
}

// The descriptor of a vanished device goes with the close (the test's own hold on the line
// stays): nothing stale is kept open.
TEST(Worker, AVanishedDevicesDescriptorGoesWithTheClose) {
  PtyPair line;
  ASSERT_TRUE(line.ok());
  TModbus link;
  ASSERT_TRUE(link.OpenPort(line.path(), TestLine(), 50));
  line.Unplug();
  link.DrainInput();
  EXPECT_TRUE(link.DeviceGone());
  const int holders = Holders(line.path());
  link.ClosePort();
  EXPECT_EQ(Holders(line.path()), holders - 1);
}
