// Identification, serial number, reply checks and recovery against the simulated relay.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

#include "relay_fixture.h"

using namespace nx480;
using namespace std::chrono_literals;

namespace {

sim::RelayConfig Relay(const std::string& version, bool temperature, int identLength,
                       uint32_t serial = 1234) {
  sim::RelayConfig config;
  config.version = version;
  config.temperature = temperature;
  config.ident_length = identLength;
  config.serial = serial;
  return config;
}

using LinkFixture = RelayLinkTest<>;

}  // namespace

TEST_F(LinkFixture, IdentificationOf29And30BytesAndTemperatureVariant) {
  Connect(Relay("1.14.d", false, 29));
  std::string text;
  ASSERT_TRUE(link_.Identify(text));
  EXPECT_EQ(text, "NX480   1.14.d");
  EXPECT_EQ(link_.LastReplyCount(), 29u);
  link_.ClosePort();

  Connect(Relay("2.07", true, 30));
  ASSERT_TRUE(link_.Identify(text));
  EXPECT_EQ(text, "NX480 T   2.07");
  EXPECT_EQ(link_.LastReplyCount(), 30u);

  // A reply cut to 28 bytes is no identification; the text stays as it was.
  relay_->AddFault({.kind = sim::FaultKind::kShortReply, .function = 0x11, .param = 2});
  text = "before";
  EXPECT_FALSE(link_.Identify(text));
  EXPECT_EQ(text, "before");
  EXPECT_EQ(link_.LastError(), LinkError::WrongLength);
}

// A reply that says its own length (the identification by its byte count, an exception reply by
// its function code) ends the read when it is whole, not one inter-byte gap later; one that
// stops short of what it says still ends by the gap.
TEST_F(LinkFixture, RepliesThatSayTheirLengthEndTheReadWhenWhole) {
  LineSettings line = TestLine(3000);
  line.timeouts.readInterval = 1000;  // a read that waited for the gap would show it
  Connect(Relay("1.14.d", false, 29), line);
  std::string text;
  auto t0 = Now();
  ASSERT_TRUE(link_.Identify(text));
  EXPECT_LT(MsSince(t0), 5);  // the request, the answer delay, 29 bytes at 115200 baud
  EXPECT_EQ(link_.LastReplyCount(), 29u);

  relay_->AddFault({.kind = sim::FaultKind::kException, .function = 0x03, .param = 2});
  link_.SendRequest(link_.BuildRequest(templates::kCalibrationRead));
  t0 = Now();
  EXPECT_FALSE(link_.CheckReply(kMainReply, 21));
  EXPECT_LT(MsSince(t0), 5);
  EXPECT_EQ(link_.LastError(), LinkError::Exception);

  relay_->AddFault({.kind = sim::FaultKind::kShortReply, .function = 0x11, .param = 1});
  t0 = Now();
  EXPECT_FALSE(link_.Identify(text));
  EXPECT_GE(MsSince(t0), 1000);  // one gap after the last byte
  EXPECT_LT(MsSince(t0), 1005);
  EXPECT_EQ(link_.LastError(), LinkError::WrongLength);
}

TEST_F(LinkFixture, SerialNumberAndItsFailure) {
  Connect(Relay("1.14.d", false, 30, 1234));
  EXPECT_EQ(link_.ReadSerialNumber(), 1234);
  relay_->SetRegister(sim::Table::kHolding, 0x1E, 0x0001);
  relay_->SetRegister(sim::Table::kHolding, 0x1D, 0x0002);
  EXPECT_EQ(link_.ReadSerialNumber(), 0x00010002);
  relay_->SetRegister(sim::Table::kHolding, 0x1E, 0x8000);
  EXPECT_LT(link_.ReadSerialNumber(), 0);
  relay_->AddFault({.kind = sim::FaultKind::kSilence, .function = 0x03});
  EXPECT_EQ(link_.ReadSerialNumber(), -1);
  EXPECT_EQ(link_.LastError(), LinkError::NoReply);
}

TEST_F(LinkFixture, ReplyChecksKeepTheirFailureKindsApart) {
  Connect();
  struct Case {
    sim::FaultKind kind;
    int param;
    LinkError expected;
  } cases[] = {
      {sim::FaultKind::kSilence, -1, LinkError::NoReply},
      {sim::FaultKind::kBadCrc, -1, LinkError::BadCrc},
      {sim::FaultKind::kShortReply, 1, LinkError::WrongLength},
      {sim::FaultKind::kException, 2, LinkError::Exception},
  };
  for (const Case& c : cases) {
    relay_->AddFault({.kind = c.kind, .function = 0x03, .param = c.param});
    link_.SendRequest(link_.BuildRequest(templates::kCalibrationRead));
    EXPECT_FALSE(link_.CheckReply(kMainReply, 21)) << sim::FaultKindName(c.kind);
    EXPECT_EQ(link_.LastError(), c.expected) << sim::FaultKindName(c.kind);
    link_.DrainInput();
    // After the drain the next transaction is clean.
    EXPECT_EQ(link_.ReadSerialNumber(), 1234) << sim::FaultKindName(c.kind);
  }
  // An exception reply is 5 bytes: address, function with its high bit, code, CRC.
  relay_->AddFault({.kind = sim::FaultKind::kException, .function = 0x03, .param = 2});
  link_.SendRequest(link_.BuildRequest(templates::kCalibrationRead));
  EXPECT_FALSE(link_.CheckReply(kMainReply, 21));
  EXPECT_EQ(link_.LastReplyCount(), 5u);
  EXPECT_EQ(link_.ReplyBuffer[1], 0x83);
  EXPECT_EQ(link_.ReplyBuffer[2], 2);
  link_.DrainInput();
}

TEST_F(LinkFixture, ALateReplyIsDrainedAndNotTakenAsTheNextAnswer) {
  Connect();
  // The identification reply comes 250 ms late: after the 130 ms read limit, within the drain.
  relay_->AddFault({.kind = sim::FaultKind::kLateReply, .function = 0x11, .param = 250});
  std::string text = "none";
  EXPECT_FALSE(link_.Identify(text));
  EXPECT_EQ(text, "none");
  link_.DrainInput();
  EXPECT_EQ(link_.ReadSerialNumber(), 1234);

  // Without the drain the late bytes would be read as the next reply: the check catches it.
  relay_->AddFault({.kind = sim::FaultKind::kLateReply, .function = 0x11, .param = 250});
  EXPECT_FALSE(link_.Identify(text));
  ASSERT_TRUE(link_.Sleep(300ms));
  EXPECT_EQ(link_.ReadSerialNumber(), -1);
  link_.DrainInput();
  EXPECT_EQ(link_.ReadSerialNumber(), 1234);
}

TEST_F(LinkFixture, SurplusBytesCostOneTransactionAndNoMore) {
  Connect();
  relay_->AddFault({.kind = sim::FaultKind::kExtraBytes, .function = 0x03, .param = 3});
  // The reply itself is whole: it passes; the surplus spoils the next read, whose failure
  // drains the line.
  EXPECT_EQ(link_.ReadSerialNumber(), 1234);
  EXPECT_EQ(link_.ReadSerialNumber(), -1);
  link_.DrainInput();
  EXPECT_EQ(link_.ReadSerialNumber(), 1234);
}

TEST_F(LinkFixture, DrainCostsItsWaitWhenTheLineIsQuietAndNothingOnAClosedPort) {
  // On a closed port there is nothing to wait for: even the drain's first wait ends at once.
  Connect();
  auto t0 = Now();
  link_.DrainInput();
  EXPECT_EQ(MsSince(t0), 50 + 1 + 100);  // 50 ms, then one read of 1 + 100 ms
  link_.ClosePort();
  t0 = Now();
  link_.DrainInput();
  EXPECT_EQ(MsSince(t0), 0);
  std::string text;
  EXPECT_FALSE(link_.Identify(text));
}

TEST(EchoCheck, QuantityDifferingFromTheRequestFailsDespiteAGoodCrc) {
  TModbus link;
  uint16_t words[8] = {};
  link.BuildRequest(templates::kParamsWriteLow, {.words = words, .wordCount = 8});
  const uint8_t good[8] = {0x01, 0x10, 0x00, 0x00, 0x00, 0x08};
  std::memcpy(link.ReplyBuffer.data(), good, 6);
  EXPECT_TRUE(link.CheckEcho());
  link.ReplyBuffer[5] = 0x07;
  EXPECT_FALSE(link.CheckEcho());
  EXPECT_EQ(link.LastError(), LinkError::BadEcho);
  link.ReplyBuffer[5] = 0x08;
  link.ReplyBuffer[3] = 0x01;  // first register differs
  EXPECT_FALSE(link.CheckEcho());
}
