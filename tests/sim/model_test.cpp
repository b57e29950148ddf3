// Protocol behaviour of the relay model, request by request.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "crc.h"
#include "relay_model.h"
#include "test_util.h"

namespace nx480::sim {
namespace {

using test::Bytes;
using test::Hex;

// The reply to `request` as hex text, or "(none)".
std::string Ask(RelayModel& model, const std::string& request) {
  const std::vector<std::uint8_t> frame = Bytes(request);
  const std::optional<Reply> reply = model.Handle(frame);
  return reply ? Hex(reply->bytes) : "(none)";
}

std::string Text(const std::vector<std::uint8_t>& bytes, std::size_t from, std::size_t n) {
  return std::string(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                     bytes.begin() + static_cast<std::ptrdiff_t>(from + n));
}

TEST(RelayModel, IdentificationLayoutAndLength) {
  {
    RelayModel model;  // defaults: NX480, 1.14.d, 30 bytes
    EXPECT_EQ(Ask(model, "01 11 C0 2C"),
              "01 11 19 4E 58 34 38 30 00 00 00 00 00 00 00 00 00 00 00 31 2E 31 34 2E 64 00 00 00 "
              "F4 B8");
  }
  {
    RelayConfig config;
    config.temperature = true;
    config.ident_length = 29;
    RelayModel model(config);
    EXPECT_EQ(
        Ask(model, "01 11 C0 2C"),
        "01 11 18 4E 58 34 38 30 20 54 00 00 00 00 00 00 00 00 00 31 2E 31 34 2E 64 00 00 2E 2B");
    // The tool's text is name + "   " + version: its 7th character is the 'T'.
    EXPECT_EQ(model.IdentificationData()[6], 'T');
  }
  {
    // An explicit name wins over the temperature switch; long texts are cut
    // to their fields and the CRC still matches the bytes sent.
    RelayConfig config;
    config.temperature = true;
    config.name = "NX480-LONGER-NAME-XYZ";
    config.version = "2.00.a-extra-long";
    RelayModel model(config);
    const auto reply = model.Handle(Bytes("01 11 C0 2C"));
    ASSERT_TRUE(reply);
    ASSERT_EQ(reply->bytes.size(), 30U);
    EXPECT_EQ(reply->bytes[2], 25);
    EXPECT_EQ(Text(reply->bytes, 3, 16), "NX480-LONGER-NAM");
    EXPECT_EQ(Text(reply->bytes, 19, 9), "2.00.a-ex");
    EXPECT_TRUE(CrcOk(reply->bytes));
  }
  {
    RelayModel model;
    EXPECT_EQ(Ask(model, "01 11 00 C0 2C"), "(none)");          // CRC does not match
    EXPECT_EQ(Ask(model, "01 11 00 2C 50"), "01 91 03 0D 91");  // stray data byte
  }
}

TEST(RelayModel, CalibrationBlockAndSerialNumber) {
  RelayModel model;
  // KalU1..3 = 1000, KalF = 10000, 0x1C = 0x00C8, serial 1234 = 0x04D2 low, 0 high, 0x1F = 0x0101.
  EXPECT_EQ(Ask(model, "01 03 00 18 00 08 C4 0B"),
            "01 03 10 03 E8 03 E8 03 E8 27 10 00 C8 04 D2 00 00 01 01 1A 11");

  // The whole block written as the service page does, kept and read back; the protection
  // settings beside it stay as they were.
  EXPECT_EQ(
      Ask(model, "01 10 00 18 00 08 10 03 E9 03 E7 04 00 27 0F 12 34 56 78 9A BC 00 01 52 D4"),
      "01 10 00 18 00 08 41 C8");
  EXPECT_EQ(Ask(model, "01 03 00 18 00 08 C4 0B"),
            "01 03 10 03 E9 03 E7 04 00 27 0F 12 34 56 78 9A BC 00 01 8C 9A");
  EXPECT_EQ(model.Serial(), 0x9ABC5678U);
  for (std::uint16_t a = 0; a < kSettingsCount; ++a)
    EXPECT_EQ(model.Bank().holding.Get(a), kDefaultSettings[a]) << a;

  RelayConfig config;
  config.serial = 0x12345678;
  RelayModel big(config);
  EXPECT_EQ(Ask(big, "01 03 00 1D 00 02 54 0D"), "01 03 04 56 78 12 34 66 D5");
  EXPECT_EQ(big.Serial(), 0x12345678U);
}

TEST(RelayModel, WritesAreEchoedAndKept) {
  RelayModel model;
  // Protection settings have non-zero defaults.
  for (std::uint16_t a = 0; a < kSettingsCount; ++a) EXPECT_NE(model.Bank().holding.Get(a), 0) << a;

  EXPECT_EQ(Ask(model, "01 10 00 00 00 02 04 00 0A 01 02 53 FC"), "01 10 00 00 00 02 41 C8");
  EXPECT_EQ(Ask(model, "01 03 00 00 00 02 C4 0B"), "01 03 04 00 0A 01 02 5A 60");

  // Input registers 0..15 exist.
  const auto inputs = model.Handle(Bytes("01 04 00 00 00 10 F1 C6"));
  ASSERT_TRUE(inputs);
  EXPECT_EQ(inputs->bytes.size(), 3U + 32U + 2U);
  EXPECT_EQ(inputs->bytes[2], 32);
}

TEST(RelayModel, ClampedSettingsAreAcknowledgedAsWrittenAndReadAsKept) {
  RelayConfig config;
  for (const char* rule : {"8:180:260", "0.hi:2:20", "0.lo:10:200", "15:0x64:1200", "25:0:1050"})
    config.clamps.push_back(*ParseSettingClamp(rule));
  RelayModel model(config);
  const struct {
    std::uint16_t first;
    std::vector<std::uint16_t> written;
    std::vector<std::uint16_t> kept;
  } rows[] = {
      {8, {300}, {260}},
      {8, {100}, {180}},
      {8, {200}, {200}},
      {15, {5}, {100}},
      {0, {0x1E32}, {0x1432}},  // the high byte clamped, the low one as written
      {0, {0x0105}, {0x020A}},  // both
      {0, {0x0A64}, {0x0A64}},
      {7, {0x0200, 999, 9}, {0x0200, 260, 9}},  // a write over several words: only 8 moves
      {16, {1}, {1}},                           // no rule for it
      {0x18, {1100, 1100}, {1100, 1050}},       // KalU2 of the calibration block
  };
  for (const auto& row : rows) {
    const std::vector<std::uint8_t> request = test::WriteRequest(row.first, row.written);
    std::vector<std::uint8_t> echo(request.begin(), request.begin() + 6);
    AppendCrc(echo);
    const auto count = static_cast<std::uint16_t>(row.written.size());
    SCOPED_TRACE(Hex(request));
    const auto ack = model.Handle(request);
    ASSERT_TRUE(ack);
    EXPECT_EQ(Hex(ack->bytes), Hex(echo));
    const auto read = model.Handle(test::ReadRequest(kReadHolding, row.first, count));
    ASSERT_TRUE(read);
    EXPECT_EQ(Hex(read->bytes), Hex(test::ReadReply(row.kept)));
  }

  const struct {
    const char* text;
    const char* parsed;  // Describe(), or "" when refused
  } texts[] = {
      {"0x17:0:0xFFFF", "23:0:65535"},
      {"1.lo:3:3", "1.lo:3:3"},
      {"3.hi:0:255", "3.hi:0:255"},
      {"0x1F:0:1", "31:0:1"},  // the calibration block's last word
      {"32:0:1", ""},
      {"8:9:1", ""},
      {"0.lo:0:256", ""},
      {"8:0:65536", ""},
      {"8:-1:2", ""},
      {"8:1", ""},
      {"8:1:2:3", ""},
      {"8.mid:1:2", ""},
      {":1:2", ""},
  };
  for (const auto& t : texts) {
    const auto clamp = ParseSettingClamp(t.text);
    EXPECT_EQ(clamp ? Describe(*clamp) : "", t.parsed) << t.text;
  }
}

TEST(RelayModel, RelayModeCoilsAreWriteOnlyAndKeptApartFromTheStages) {
  RelayModel model;
  // The stage coils as the live values leave them: U<< picked up, U<< tripped, f>> picked up.
  for (std::uint16_t c : {1, 9, 17}) model.Bank().coils.Set(c, 1);
  const std::string stages = "01 01 03 02 02 02";  // coils 0-23, before the CRC
  EXPECT_EQ(Ask(model, "01 01 00 00 00 18 3C 00").substr(0, stages.size()), stages);

  struct Case {
    std::string request;
    std::string reply;
    RelayMode mode;  // afterwards
  } cases[] = {
      {"01 0F 00 00 00 02 01 01 1F 57", "01 0F 00 00 00 02 D4 0A", RelayMode::kOn},
      {"01 0F 00 00 00 02 01 02 5F 56", "01 0F 00 00 00 02 D4 0A", RelayMode::kOff},
      {"01 0F 00 00 00 02 01 03 9E 96", "01 8F 03 04 31", RelayMode::kOff},  // on and off
      {"01 0F 00 00 00 02 01 00 DE 97", "01 0F 00 00 00 02 D4 0A", RelayMode::kAuto},
      {"01 0F 00 00 00 01 01 01 EF 57", "01 8F 02 C5 F1", RelayMode::kAuto},  // coil 0 alone
      {"01 0F 00 01 00 02 01 01 22 97", "01 8F 02 C5 F1", RelayMode::kAuto},
      {"01 0F 00 02 00 02 01 01 66 97", "01 8F 02 C5 F1", RelayMode::kAuto},
      {"01 0F 00 00 00 0A 02 CD 01 70 68", "01 8F 02 C5 F1", RelayMode::kAuto},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Ask(model, c.request), c.reply) << c.request;
    EXPECT_EQ(model.Mode(), c.mode) << c.request;
    EXPECT_EQ(Ask(model, "01 01 00 00 00 18 3C 00").substr(0, stages.size()), stages) << c.request;
  }
  EXPECT_EQ(model.ModeCommands(), 3U);
}

TEST(RelayModel, ClearHistoryCommandWantsItsCode) {
  RelayModel model;
  struct Case {
    std::string request;
    std::string reply;
  } cases[] = {
      {"01 10 80 01 00 01 02 0D 8F 63 7D", "01 10 80 01 00 01 79 C9"},  // 3471
      {"01 10 80 01 00 01 02 0D 8E A2 BD", "01 90 03 0C 01"},           // 3470
      {"01 10 80 01 00 01 02 00 00 26 49", "01 90 03 0C 01"},
      {"01 10 80 01 00 02 04 0D 8F 00 00 60 E2", "01 90 02 CD C1"},  // runs past it
      {"01 03 80 01 00 01 FC 0A", "01 83 02 C0 F1"},                 // not readable
      {"01 10 80 01 00 01 02 0D 8F 63 7D", "01 10 80 01 00 01 79 C9"},
  };
  for (const Case& c : cases) EXPECT_EQ(Ask(model, c.request), c.reply) << c.request;
  EXPECT_EQ(model.HistoryClears(), 2U);
}

// The relay answers a write into the calibration block once it has stored it, and an accepted
// clear-history command once the ring is erased; every other request, a refused one too, at
// once. The times come from the configuration; a late-reply fault adds its own.
TEST(RelayModel, AnswersOnlyOnceTheCalibrationIsStoredOrTheHistoryCleared) {
  using std::chrono::milliseconds;
  using test::ReadRequest;
  using test::WriteRequest;
  enum class Work { kNone, kStore, kClear };
  const struct Case {
    const char* what;
    std::vector<std::uint8_t> request;
    Work work;
  } cases[] = {
      {"calibration block", WriteRequest(0x18, {1001, 999, 1100, 9987, 0xC8, 7, 0, 0x101}),
       Work::kStore},
      {"serial number alone", WriteRequest(0x1D, {4711, 0}), Work::kStore},
      {"last setting and KalU1", WriteRequest(0x17, {0xFFFE, 1002}), Work::kStore},
      {"last word of the block", WriteRequest(0x1F, {0x101}), Work::kStore},
      {"last setting", WriteRequest(0x17, {0xFFFD}), Work::kNone},
      {"first word after the block", WriteRequest(0x20, {5}), Work::kNone},
      {"calibration read", ReadRequest(kReadHolding, 0x18, 8), Work::kNone},
      {"clear history", WriteRequest(kRegClearHistory, {kClearHistoryCode}), Work::kClear},
      {"wrong code", WriteRequest(kRegClearHistory, {3470}), Work::kNone},
  };
  RelayConfig quick;
  quick.calibration_store_time = milliseconds(7);
  quick.history_clear_time = milliseconds(11);
  for (const RelayConfig& config : {RelayConfig{}, quick}) {
    RelayModel model(config);
    for (const Case& c : cases) {
      const std::optional<Reply> reply = model.Handle(c.request);
      ASSERT_TRUE(reply) << c.what;
      const milliseconds expected = c.work == Work::kStore   ? config.calibration_store_time
                                    : c.work == Work::kClear ? config.history_clear_time
                                                             : milliseconds(0);
      EXPECT_EQ(reply->delay, expected) << c.what;
    }
  }
  RelayModel late(quick);
  late.Faults().Add(FaultRule{FaultKind::kLateReply, kWriteRegisters, 1, 0, 50});
  const std::optional<Reply> slow = late.Handle(WriteRequest(0x18, {1000}));
  ASSERT_TRUE(slow);
  EXPECT_EQ(slow->delay, milliseconds(57));
}

TEST(RelayModel, ExceptionsForBadAddressValueAndFunction) {
  RelayModel model;
  EXPECT_EQ(Ask(model, "01 03 00 80 00 01 85 E2"), "01 83 02 C0 F1");  // past holding 0x7F
  EXPECT_EQ(Ask(model, "01 03 00 7F 00 02 F5 D3"), "01 83 02 C0 F1");  // runs over the end
  EXPECT_EQ(Ask(model, "01 03 FF FF 00 02 C4 2F"), "01 83 02 C0 F1");  // wraps the address space
  EXPECT_EQ(Ask(model, "01 03 00 00 00 00 45 CA"), "01 83 03 01 31");  // quantity 0
  EXPECT_EQ(Ask(model, "01 03 00 00 00 7E C5 EA"), "01 83 03 01 31");  // quantity 126
  EXPECT_EQ(Ask(model, "01 04 00 10 00 01 30 0F"), "01 84 02 C2 C1");  // input 16
  EXPECT_EQ(Ask(model, "01 01 00 18 00 01 7D CD"), "01 81 02 C1 91");  // coil 24
  EXPECT_EQ(Ask(model, "01 05 00 00 FF 00 8C 3A"), "01 85 01 83 50");  // not served
  EXPECT_EQ(Ask(model, "01 2B 0E 01 00 70 77"), "01 AB 01 9E F0");     // unknown
  // Byte count that does not fit the quantity.
  EXPECT_EQ(Ask(model, "01 10 00 00 00 02 03 00 0A 01 52 E6"), "01 90 03 0C 01");
  // Write outside the map is refused and leaves nothing behind.
  EXPECT_EQ(Ask(model, "01 10 00 80 00 01 02 00 07 F8 52"), "01 90 02 CD C1");
  EXPECT_FALSE(model.Bank().holding.IsDefined(0x80));
  EXPECT_EQ(model.Bank().holding.Get(0x80), 0);
  EXPECT_EQ(model.Counters().exceptions, 11U);
}

TEST(RelayModel, NoReplyToOtherSlavesOrDamagedFrames) {
  RelayModel model;
  EXPECT_EQ(Ask(model, "02 03 00 00 00 08 44 3F"), "(none)");  // valid, but for slave 2
  EXPECT_EQ(Ask(model, "01 03 00 00 00 08 44 0D"), "(none)");  // CRC bit flipped
  EXPECT_EQ(Ask(model, "01 03 00 00 00 08 44"), "(none)");     // cut short
  EXPECT_EQ(Ask(model, "01"), "(none)");
  EXPECT_EQ(model.Counters().requests, 0U);
  EXPECT_EQ(model.Counters().other_address, 1U);
  EXPECT_EQ(model.Counters().bad_frames, 3U);

  RelayConfig config;
  config.address = 2;
  RelayModel two(config);
  EXPECT_EQ(Ask(two, "02 03 00 00 00 08 44 3F").substr(0, 8), "02 03 10");
  EXPECT_EQ(Ask(two, "01 03 00 00 00 08 44 0C"), "(none)");
}

TEST(RelayModel, HooksAndHandlersExtendTheModel) {
  RelayModel model;
  // Live values: the hook sees the range asked for and fills it in.
  int calls = 0;
  model.SetBeforeReadHook(
      [&](Table table, std::uint16_t first, std::uint16_t count, RegisterBank& bank) {
        ++calls;
        EXPECT_EQ(table, Table::kInputs);
        EXPECT_EQ(first, 0);
        EXPECT_EQ(count, 16);
        bank.inputs.Set(3, 0xBEEF);
      });
  const auto inputs = model.Handle(Bytes("01 04 00 00 00 10 F1 C6"));
  ASSERT_TRUE(inputs);
  EXPECT_EQ(inputs->bytes[3 + 6], 0xBE);
  EXPECT_EQ(inputs->bytes[3 + 7], 0xEF);
  EXPECT_EQ(Ask(model, "01 04 00 10 00 01 30 0F"), "01 84 02 C2 C1");
  EXPECT_EQ(calls, 1);  // not called for a refused read
  model.SetBeforeReadHook(nullptr);

  // A command register outside the map, served by a write handler.
  std::vector<std::uint16_t> seen;
  model.AddWriteHandler(
      Table::kHolding, 0x9000, 4,
      [&](RelayModel&, Table, std::uint16_t first, std::span<const std::uint16_t> values) {
        EXPECT_EQ(first, 0x9001);
        seen.assign(values.begin(), values.end());
        return values[0] == 0xA5A5 ? std::uint8_t{0} : kIllegalDataValue;
      });
  auto write = [](std::uint16_t address, std::uint16_t qty, std::vector<std::uint16_t> values) {
    std::vector<std::uint8_t> f = {1,
                                   0x10,
                                   static_cast<std::uint8_t>(address >> 8),
                                   static_cast<std::uint8_t>(address),
                                   0,
                                   static_cast<std::uint8_t>(qty),
                                   static_cast<std::uint8_t>(2 * qty)};
    for (auto v : values) {
      f.push_back(static_cast<std::uint8_t>(v >> 8));
      f.push_back(static_cast<std::uint8_t>(v));
    }
    AppendCrc(f);
    return f;
  };
  auto reply = model.Handle(write(0x9001, 1, {0xA5A5}));
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->bytes[1], 0x10);
  EXPECT_EQ(seen, std::vector<std::uint16_t>{0xA5A5});
  reply = model.Handle(write(0x9001, 1, {0x0001}));
  ASSERT_TRUE(reply);
  EXPECT_EQ(Hex(reply->bytes).substr(0, 8), "01 90 03");
  reply = model.Handle(write(0x9003, 2, {1, 2}));  // runs out of the handler's range
  ASSERT_TRUE(reply);
  EXPECT_EQ(Hex(reply->bytes).substr(0, 8), "01 90 02");

  // After-write hook sees generic writes.
  std::uint16_t written_first = 0xFFFF;
  model.SetAfterWriteHook(
      [&](Table, std::uint16_t first, std::uint16_t, RegisterBank&) { written_first = first; });
  EXPECT_EQ(Ask(model, "01 10 00 00 00 01 02 00 07 E7 92"), "01 10 00 00 00 01 01 C9");
  EXPECT_EQ(written_first, 0);

  // New function codes plug in; removing a handler makes the code illegal.
  model.SetFunctionHandler(0x2B, [](RelayModel&, const Request& r) {
    return Response::Data({static_cast<std::uint8_t>(r.data.size())});
  });
  EXPECT_EQ(Ask(model, "01 2B 0E 01 00 70 77").substr(0, 8), "01 2B 03");
  model.SetFunctionHandler(kReadHolding, nullptr);
  EXPECT_EQ(Ask(model, "01 03 00 00 00 02 C4 0B").substr(0, 8), "01 83 01");
}

TEST(RelayModel, EachFaultKindShapesTheReply) {
  const std::string request = "01 03 00 00 00 02 C4 0B";
  const std::string good = "01 03 04 04 1E 02 04";  // defaults of holding 0 and 1, without CRC

  auto with = [](FaultKind kind, int param = -1, std::uint8_t function = 0) {
    RelayModel model;
    model.Faults().Add(FaultRule{kind, function, 1, 0, param});
    return model;
  };
  {
    RelayModel model = with(FaultKind::kSilence);
    EXPECT_EQ(Ask(model, request), "(none)");
    EXPECT_EQ(Ask(model, request).substr(0, good.size()), good);  // used up
    EXPECT_EQ(model.Counters().faults, 1U);
  }
  {
    RelayModel model = with(FaultKind::kBadCrc);
    const auto reply = model.Handle(Bytes(request));
    ASSERT_TRUE(reply);
    EXPECT_EQ(Hex(reply->bytes).substr(0, good.size()), good);
    EXPECT_EQ(reply->bytes.size(), 9U);
    EXPECT_FALSE(CrcOk(reply->bytes));
    EXPECT_EQ(reply->fault, FaultKind::kBadCrc);
  }
  {
    RelayModel model = with(FaultKind::kShortReply);
    EXPECT_EQ(Ask(model, request), good + " 9B");  // last CRC byte missing
    RelayModel three = with(FaultKind::kShortReply, 3);
    EXPECT_EQ(Ask(three, request), "01 03 04 04 1E 02");
  }
  {
    RelayModel model = with(FaultKind::kExtraBytes);
    const auto reply = model.Handle(Bytes(request));
    ASSERT_TRUE(reply);
    ASSERT_EQ(reply->bytes.size(), 11U);
    EXPECT_TRUE(CrcOk(std::span(reply->bytes).first(9)));
  }
  {
    RelayModel model = with(FaultKind::kLateReply);
    auto reply = model.Handle(Bytes(request));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->delay, std::chrono::milliseconds(400));
    EXPECT_TRUE(CrcOk(reply->bytes));
    RelayModel slower = with(FaultKind::kLateReply, 900);
    reply = slower.Handle(Bytes(request));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->delay, std::chrono::milliseconds(900));
    reply = slower.Handle(Bytes(request));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->delay, std::chrono::milliseconds(0));
  }
  {
    RelayModel model = with(FaultKind::kException);
    EXPECT_EQ(Ask(model, request), "01 83 04 40 F3");
    RelayModel three = with(FaultKind::kException, 3);
    EXPECT_EQ(Ask(three, request), "01 83 03 01 31");
  }
  {
    // A refused or unheard write is not carried out; a write whose reply is
    // damaged on the way back is.
    RelayModel silent = with(FaultKind::kSilence, -1, kWriteRegisters);
    EXPECT_EQ(Ask(silent, "01 10 00 00 00 01 02 00 07 E7 92"), "(none)");
    EXPECT_EQ(silent.Bank().holding.Get(0), kDefaultSettings[0]);
    RelayModel refused = with(FaultKind::kException, -1, kWriteRegisters);
    EXPECT_EQ(Ask(refused, "01 10 00 00 00 01 02 00 07 E7 92"), "01 90 04 4D C3");
    EXPECT_EQ(refused.Bank().holding.Get(0), kDefaultSettings[0]);
    RelayModel damaged = with(FaultKind::kBadCrc, -1, kWriteRegisters);
    EXPECT_EQ(Ask(damaged, "01 10 00 00 00 01 02 00 07 E7 92"), "01 10 00 00 00 01 01 C8");
    EXPECT_EQ(damaged.Bank().holding.Get(0), 7);
  }
  {
    // Frames that get no reply anyway do not use up a rule.
    RelayModel model = with(FaultKind::kSilence);
    EXPECT_EQ(Ask(model, "02 03 00 00 00 08 44 3F"), "(none)");
    EXPECT_EQ(Ask(model, "01 03 00 00 00 08 44 0D"), "(none)");
    EXPECT_EQ(Ask(model, request), "(none)");
    EXPECT_EQ(Ask(model, request).substr(0, good.size()), good);
  }
}

TEST(RelayModel, DamagedRepliesKeepAGoodCrcAndTheRequestIsCarriedOut) {
  const std::string read = "01 03 00 00 00 02 C4 0B";  // good: 01 03 04 04 1E 02 04
  const std::string write = "01 10 00 00 00 01 02 00 07 E7 92";
  const std::string coils = "01 0F 00 00 00 02 01 00 DE 97";
  struct Case {
    FaultKind kind;
    int param;
    std::string request;
    std::string reply;
  } cases[] = {
      {FaultKind::kBadEcho, -1, write, "01 10 00 00 00 02 41 C8"},  // quantity 1 -> 2
      {FaultKind::kBadEcho, -1, coils, "01 0F 00 00 00 03 15 CA"},
      {FaultKind::kBadEcho, -1, read, "01 03 04 05 1E 02 04 9A 5A"},  // first data byte
      {FaultKind::kBadEcho, 3, read, "01 03 04 04 1E 02 05 5A 66"},
      {FaultKind::kBadEcho, 200, read, "01 03 04 04 1E 02 05 5A 66"},  // at most the last
      {FaultKind::kBadEcho, -1, "01 03 00 80 00 01 85 E2", "01 83 02 C0 F1"},
      {FaultKind::kWrongAddress, -1, read, "02 03 04 04 1E 02 04 A8 A6"},
      {FaultKind::kWrongAddress, 7, read, "07 03 04 04 1E 02 04 FD A6"},
      {FaultKind::kWrongFunction, -1, read, "01 04 04 04 1E 02 04 9A 11"},
      {FaultKind::kWrongFunction, -1, write, "01 0F 00 00 00 01 94 0B"},
      {FaultKind::kWrongFunction, -1, coils, "01 10 00 00 00 02 41 C8"},
      {FaultKind::kWrongFunction, -1, "01 04 00 10 00 01 30 0F", "01 83 02 C0 F1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(FaultKindName(c.kind)) + " " + std::to_string(c.param) + " on " +
                 c.request);
    RelayModel model;
    model.Faults().Add(FaultRule{c.kind, 0, 1, 0, c.param});
    EXPECT_EQ(Ask(model, c.request), c.reply);
    EXPECT_EQ(model.Bank().holding.Get(0), c.request == write ? 7 : kDefaultSettings[0]);
    EXPECT_TRUE(model.Faults().Empty());
  }
  // A babbling reply is the good reply; the babble itself is the pty's business.
  RelayModel model;
  model.Faults().Add(FaultRule{FaultKind::kBabble, 0, 1, 0, -1});
  const auto reply = model.Handle(Bytes(read));
  ASSERT_TRUE(reply);
  EXPECT_EQ(Hex(reply->bytes), "01 03 04 04 1E 02 04 9B A6");
  EXPECT_EQ(reply->babble, std::chrono::milliseconds(3000));
}

TEST(RelayModel, NoiseComesBeforeTheWholeReplyOfACarriedOutRequest) {
  const std::string write = "01 10 00 00 00 01 02 00 07 E7 92";
  const std::string ack = "01 10 00 00 00 01 01 C9";
  RelayModel model;
  model.Faults().Add(FaultRule{FaultKind::kNoise, 0, 2, 0, 5});
  const auto first = model.Handle(Bytes(write));
  ASSERT_TRUE(first);
  ASSERT_EQ(first->bytes.size(), 5U + 8U);
  EXPECT_EQ(Hex(std::span(first->bytes).subspan(5)), ack);
  EXPECT_EQ(first->fault, FaultKind::kNoise);
  EXPECT_EQ(model.Bank().holding.Get(0), 7);
  // Random, not one byte repeated, and different the next time.
  const auto second = model.Handle(Bytes(write));
  ASSERT_TRUE(second);
  const std::vector<std::uint8_t> noise1(first->bytes.begin(), first->bytes.begin() + 5);
  const std::vector<std::uint8_t> noise2(second->bytes.begin(), second->bytes.begin() + 5);
  EXPECT_NE(noise1, noise2);
  EXPECT_NE(std::count(noise1.begin(), noise1.end(), noise1[0]), 5);
  // The default is 4 bytes; the rule is used up after its count.
  model.Faults().Add(FaultRule{FaultKind::kNoise, 0, 1, 0, -1});
  EXPECT_EQ(model.Handle(Bytes(write))->bytes.size(), 4U + 8U);
  EXPECT_EQ(Ask(model, write), ack);
}

}  // namespace
}  // namespace nx480::sim
