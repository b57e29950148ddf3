// Firmware upload on holding 0x8000: Start, data frames into the image, Status, Run into the
// new firmware, Cancel, and the upload's test faults.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "relay_model.h"
#include "test_util.h"

namespace nx480::sim {
namespace {

using namespace std::chrono_literals;
using test::BlockFrames;
using test::Bytes;
using test::Hex;
using test::WriteRequest;
using Steady = RelayModel::Steady;

const std::string kStart = "01 10 80 00 00 01 02 00 01 E6 58";
const std::string kStartAck = "01 10 80 00 00 01 28 09";
const std::string kRun = "01 10 80 00 00 01 02 00 02 A6 59";
const std::string kCancel = "01 10 80 00 00 01 02 00 00 27 98";
const std::string kStatus = "01 03 80 00 00 01 AD CA";
const std::string kReady = "01 03 02 00 00 B8 44";
const std::string kBusy = "01 03 02 00 01 79 84";
const std::string kIdent = "01 11 C0 2C";

std::string Ask(RelayModel& model, const std::vector<std::uint8_t>& frame, Steady::time_point now) {
  const auto reply = model.Handle(frame, now);
  return reply ? Hex(reply->bytes) : "(none)";
}
std::string Ask(RelayModel& model, const std::string& hex, Steady::time_point now) {
  return Ask(model, Bytes(hex), now);
}

TEST(SimUpload, ImageGoesInAndTheRelayRestartsIntoIt) {
  RelayConfig config;
  config.history_fill = 0;
  RelayModel model(config);
  const auto t0 = Steady::now();
  EXPECT_EQ(Ask(model, kStatus, t0), kReady);  // readable in normal operation too
  EXPECT_EQ(Ask(model, kStart, t0), kStartAck);
  // Block 0 at byte address 0 lands on registers 0-127, where the settings live: it goes to
  // the image, not to them. Block 1 at 0x0100 follows at register 0x80.
  auto frames = BlockFrames(0x0000, "NX480 X", "2.01");
  for (const auto& f : BlockFrames(0x0100, "", "")) frames.push_back(f);
  for (const auto& frame : frames) {
    EXPECT_EQ(Ask(model, frame, t0).substr(0, 17), Hex(frame).substr(0, 17));
  }
  EXPECT_EQ(model.Upload().Frames(), 16);
  EXPECT_EQ(model.Bank().holding.Get(0), kDefaultSettings[0]);
  EXPECT_EQ(model.Upload().Word(0), 0x0801);     // data bytes 01 08
  EXPECT_EQ(model.Upload().Word(0x80), 0x0801);  // block 1, same pattern
  EXPECT_TRUE(model.Upload().Written(0xFF));
  EXPECT_FALSE(model.Upload().Written(0x100));
  EXPECT_EQ(Ask(model, kStatus, t0), kReady);

  // Run: no reply, silence for the restart time, then the image's name and version.
  EXPECT_EQ(Ask(model, kRun, t0 + 1s), "(none)");
  EXPECT_EQ(Ask(model, kIdent, t0 + 2400ms), "(none)");
  EXPECT_EQ(model.Counters().ignored, 1U);
  const auto reply = model.Handle(Bytes(kIdent), t0 + 2600ms);
  ASSERT_TRUE(reply);
  EXPECT_EQ(std::string(reply->bytes.begin() + 3, reply->bytes.begin() + 19),
            std::string("NX480 X") + std::string(9, '\0'));
  EXPECT_EQ(std::string(reply->bytes.begin() + 19, reply->bytes.begin() + 23), "2.01");
  EXPECT_EQ(model.Upload().Mode(), UploadMode::kNormal);
  // Normal operation again: register writes reach the settings.
  EXPECT_EQ(Ask(model, WriteRequest(0, {7}), t0 + 3s), "01 10 00 00 00 01 01 C9");
  EXPECT_EQ(model.Bank().holding.Get(0), 7);
  std::vector<int> codes;  // newest first: parameters, start, stop
  for (const EventRecord& e : model.Events()) codes.push_back(static_cast<int>(e.code));
  EXPECT_EQ(codes, (std::vector<int>{16, 1, 0}));
}

TEST(SimUpload, CommandsCancelAndTestFaults) {
  RelayModel model;
  model.Upload().Faults() = UploadFaults{.lose_reply_at = 2, .refuse_at = 4, .busy_once = true};
  const auto t = Steady::now();
  const auto frames = BlockFrames(0x0400, "NX480", "1.15");
  const std::string ack1 = "01 10 02 00 00 10", ack2 = "01 10 02 10 00 10",
                    ack3 = "01 10 02 20 00 10", ack4 = "01 10 02 30 00 10";
  const std::string refused = "01 90 04 4D C3", bad_value = "01 90 03 0C 01";
  struct Step {
    std::vector<std::uint8_t> request;
    std::string reply;  // its start
  } steps[] = {
      {Bytes(kRun), bad_value},  // not in upload mode
      {Bytes("01 10 80 00 00 01 02 00 07 66 5A"), bad_value},
      {Bytes(kStart), kStartAck},
      {WriteRequest(0x0200, std::vector<std::uint16_t>(8, 1)), bad_value},  // not 16 registers
      {frames[0], ack1},                                                    // data frame 1
      {frames[1], "(none)"},  // 2: kept, its reply lost; the tool sends it again
      {frames[1], ack2},      // 3
      {frames[2], refused},   // 4: refused, and refused again when repeated
      {frames[2], refused},   // 5
      {frames[2], ack3},      // 6
      {frames[3], ack4},      // 7
      {Bytes(kStatus), kBusy},
      {Bytes(kStatus), kReady},
      {Bytes(kCancel), kStartAck},
      {WriteRequest(1, {9}), "01 10 00 01 00 01"},
  };
  for (const Step& step : steps) {
    EXPECT_EQ(Ask(model, step.request, t).substr(0, step.reply.size()), step.reply)
        << Hex(step.request);
  }
  EXPECT_EQ(model.Upload().Mode(), UploadMode::kNormal);
  EXPECT_EQ(model.Bank().holding.Get(1), 9);
  EXPECT_EQ(model.Config().version, "1.14.d");
  EXPECT_EQ(model.Upload().Faults().lose_reply_at, 0);
  EXPECT_EQ(model.Upload().Faults().refuse_at, 0);
}

// The new firmware starts with the factory settings of its own version when the relay is told
// to reset on upload, and keeps the written ones otherwise; calibration and serial are kept.
class SimUploadReset : public testing::TestWithParam<bool> {};

TEST_P(SimUploadReset, SettingsAfterTheRestart) {
  RelayConfig config;
  config.version = "1.04";  // delays in 1/10 s; the image's 1.15 counts them in 1/20 s
  config.reset_on_upload = GetParam();
  RelayModel model(config);
  const auto old_defaults = DefaultSettings("1.04");
  const auto new_defaults = DefaultSettings("1.15");
  ASSERT_NE(old_defaults, new_defaults);
  std::vector<std::uint16_t> written;  // settings 0-23, then calibration and serial 0x18-0x1F
  for (std::uint16_t a = 0; a < 0x20; ++a) written.push_back(static_cast<std::uint16_t>(a + 7));
  const auto t0 = Steady::now();
  ASSERT_EQ(Ask(model, WriteRequest(0, written), t0).substr(0, 17), "01 10 00 00 00 20");
  ASSERT_EQ(Ask(model, kStart, t0), kStartAck);
  for (const auto& frame : BlockFrames(0x0000, "NX480", "1.15")) Ask(model, frame, t0);
  ASSERT_EQ(Ask(model, kRun, t0), "(none)");

  std::vector<std::uint16_t> expected = written;
  if (GetParam()) std::copy(new_defaults.begin(), new_defaults.end(), expected.begin());
  EXPECT_EQ(Ask(model, test::ReadRequest(kReadHolding, 0, 0x20), t0 + 2s),
            Hex(test::ReadReply(expected)));
  EXPECT_EQ(model.Config().version, "1.15");
  EXPECT_EQ(model.Serial(), 0x00250024U);
}

INSTANTIATE_TEST_SUITE_P(ResetOnUpload, SimUploadReset, testing::Bool());

}  // namespace
}  // namespace nx480::sim
