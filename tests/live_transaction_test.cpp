// The live values transaction against the simulated relay: what goes over the wire for each
// firmware, what is handed to the window, and the failure path with its drain.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "live_values.h"
#include "relay_fixture.h"

using namespace nx480;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// The window as the transaction sees it, recording the calls.
class RecordingWindow : public LiveValuesWindow {
 public:
  void StoreLiveValues(const LiveImage& image, uint32_t stageFlags) override {
    calls += "store ";
    firmware = image.firmware.minor;
    bytes.assign(image.bytes.begin(), image.bytes.end());
    registers = image.registers;
    secondFrequency = image.SecondFrequency();
    flags = stageFlags;
  }
  void ClearLiveValues() override { calls += "clear "; }
  void ShowLiveValues() override { calls += "show "; }

  int firmware = -1;  // of the snapshot handed over
  std::string calls;
  std::vector<uint8_t> bytes;
  int registers = -1;
  uint16_t secondFrequency = 0;
  uint32_t flags = 0xDEADBEEF;
};

// Every byte the relay received, with the time it arrived.
struct Wire {
  std::mutex mutex;
  std::vector<uint8_t> bytes;
  std::vector<Clock::time_point> times;

  void Clear() {
    std::lock_guard lock(mutex);
    bytes.clear();
    times.clear();
  }
  std::vector<uint8_t> Bytes() {
    std::lock_guard lock(mutex);
    return bytes;
  }
};

std::vector<uint8_t> Frame(const FrameTemplate& tmpl) {
  std::vector<uint8_t> frame(64);
  frame.resize(BuildFrame(frame, tmpl));
  return frame;
}

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

class LiveTransaction : public RelayLinkTest<> {
 protected:
  void SetUp() override {
    sim::VirtualOptions options;
    options.trace = [this](bool incoming, std::span<const uint8_t> data,
                           std::chrono::steady_clock::time_point at) {
      if (!incoming) return;
      std::lock_guard lock(wire_.mutex);
      for (uint8_t b : data) {
        wire_.bytes.push_back(b);
        wire_.times.push_back(at);
      }
    };
    Connect({}, TestLine(), options);
    // Input register k holds 0x1100 + k; coils 1, 9, 16, 17 and 23 are set.
    for (uint16_t k = 0; k < 16; ++k)
      relay_->SetRegister(sim::Table::kInputs, k, static_cast<uint16_t>(0x1100 + k));
    for (uint16_t c : {1, 9, 16, 17, 23}) relay_->SetRegister(sim::Table::kCoils, c, 1);
    Firmware(14);
  }
  // The relay's firmware number as the connection search took it.
  void Firmware(int minor) {
    RelaySession session;
    session.firmware = FirmwareFeaturesOf(minor);
    ASSERT_TRUE(link_.SetSession(session));
  }

  Wire wire_;
};

}  // namespace

TEST_F(LiveTransaction, RegisterAndCoilCountsAtEveryFirmwareBoundary) {
  struct Case {
    int v;
    const FrameTemplate& registers;
    int count;
    const FrameTemplate& coils;
    uint32_t flags;
  };
  const Case cases[] = {
      {4, templates::kLiveRegisters5, 5, templates::kCoils16, 0x000202},
      {5, templates::kLiveRegisters9, 9, templates::kCoils16, 0x000202},
      {8, templates::kLiveRegisters9, 9, templates::kCoils16, 0x000202},
      {9, templates::kLiveRegisters9, 9, templates::kCoils24, 0x830202},
      {10, templates::kLiveRegisters9, 9, templates::kCoils24, 0x830202},
      {11, templates::kLiveRegisters13, 13, templates::kCoils24, 0x830202},
      {12, templates::kLiveRegisters10, 10, templates::kCoils24, 0x830202},
      {13, templates::kLiveRegisters16, 16, templates::kCoils24, 0x830202},
      {14, templates::kLiveRegisters16, 16, templates::kCoils24, 0x830202},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("V" + std::to_string(c.v));
    const LivePlan plan = LivePlanFor(FirmwareFeaturesOf(c.v));
    EXPECT_EQ(plan.registers, &c.registers);
    EXPECT_EQ(plan.coils, &c.coils);

    RecordingWindow window;
    Firmware(c.v);
    wire_.Clear();
    link_.ReplyBuffer.fill(0xEE);
    const uint64_t before = Requests();
    ASSERT_TRUE(ReadLiveValues(link_, window));
    EXPECT_EQ(Requests() - before, 3u);
    EXPECT_EQ(wire_.Bytes(),
              Concat({Frame(c.registers), Frame(c.coils), Frame(templates::kFrequencyAgain)}));
    EXPECT_EQ(window.calls, "store show ");
    EXPECT_EQ(window.registers, c.count);
    EXPECT_EQ(window.firmware, c.v);
    ASSERT_EQ(window.bytes.size(), 253u);
    for (int k = 0; k < c.count; ++k) {
      EXPECT_EQ(WireWord(&window.bytes[2 * k]), 0x1100 + k) << "register " << k;
    }
    // Nothing past the registers asked for was read (the reply's CRC follows them).
    for (size_t i = 2 * c.count + 2; i < kFrequencyReply - kLiveImageStart; ++i) {
      ASSERT_EQ(window.bytes[i], 0xEE) << "byte " << i;
    }
    EXPECT_EQ(window.secondFrequency, 0x1103);
    EXPECT_EQ(window.flags, c.flags);  // with 16 coils nothing above bit 15
  }
}

TEST_F(LiveTransaction, FrequencyIsReadAgainAfter80ms) {
  RecordingWindow window;
  ASSERT_TRUE(ReadLiveValues(link_, window));
  std::lock_guard lock(wire_.mutex);
  ASSERT_EQ(wire_.bytes.size(), 24u);
  // From the last byte of the coil request to the first of the frequency request.
  const auto gap = wire_.times[16] - wire_.times[15];
  EXPECT_GE(gap, 78ms);
  EXPECT_LT(gap, 2s);
}

TEST_F(LiveTransaction, AnyFailedStepClearsShowsAndDrains) {
  struct Case {
    sim::FaultKind kind;
    uint8_t function;
    int skip;
    int requests;  // requests that reached the relay
  };
  const Case cases[] = {
      {sim::FaultKind::kSilence, 0x04, 0, 1},     // register read unanswered
      {sim::FaultKind::kBadCrc, 0x04, 0, 1},      //
      {sim::FaultKind::kSilence, 0x01, 0, 2},     // registers answered, coils not
      {sim::FaultKind::kException, 0x01, 0, 2},   //
      {sim::FaultKind::kShortReply, 0x04, 1, 3},  // the second frequency reading
      {sim::FaultKind::kBadCrc, 0x04, 1, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(sim::FaultKindName(c.kind)) + " on function " +
                 std::to_string(c.function) + " skip " + std::to_string(c.skip));
    relay_->AddFault({.kind = c.kind, .function = c.function, .count = 1, .skip = c.skip});
    RecordingWindow window;
    const uint64_t before = Requests();
    const auto t0 = Now();
    EXPECT_FALSE(ReadLiveValues(link_, window));
    const auto took = Now() - t0;
    // No partial display: nothing is handed over, the window shows its failure state.
    EXPECT_EQ(window.calls, "clear show ");
    EXPECT_EQ(window.registers, -1);
    EXPECT_EQ(Requests() - before, static_cast<uint64_t>(c.requests));
    // The drain: 50 ms and one read time-out of 101 ms at least.
    EXPECT_GE(took, 150ms);
    if (c.kind == sim::FaultKind::kSilence && c.function == 0x01) {
      EXPECT_GE(took, 250ms);  // the silent coil read (108 ms) and the drain
    }
    // The next snapshot is whole again.
    RecordingWindow next;
    EXPECT_TRUE(ReadLiveValues(link_, next));
    EXPECT_EQ(next.calls, "store show ");
  }
}

TEST_F(LiveTransaction, ALateCoilReplyIsDrainedBeforeTheNextSnapshot) {
  // The coil reply comes after its read has given up (108 ms) but while the drain listens.
  relay_->AddFault({.kind = sim::FaultKind::kLateReply, .function = 0x01, .param = 200});
  RecordingWindow window;
  Firmware(9);
  EXPECT_FALSE(ReadLiveValues(link_, window));
  EXPECT_EQ(window.calls, "clear show ");
  EXPECT_EQ(relay_->Counters().replies_sent, 2u);  // registers, then the late coils

  // Had the late bytes stayed on the line, they would be taken as the next register reply.
  RecordingWindow next;
  ASSERT_TRUE(ReadLiveValues(link_, next));
  EXPECT_EQ(next.calls, "store show ");
  EXPECT_EQ(WireWord(&next.bytes[0]), 0x1100);
  EXPECT_EQ(next.flags, 0x830202u);
}
