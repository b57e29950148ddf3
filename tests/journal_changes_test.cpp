// What each kind of change keeps in the journal: its backups, its detail lines in English and
// what came of it; the calibration backup read back strictly.
#include "journal_changes.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "journal_samples.h"
#include "relay_time.h"

using namespace nx480;
using namespace nx480::test;

TEST(JournalTextTest, ChecksumAndClockLines) {
  const std::string check = "123456789";
  EXPECT_EQ(Crc32({reinterpret_cast<const uint8_t*>(check.data()), check.size()}), 0xCBF43926u);

  const double pc = ComposeDateTime(*EncodeDate(2026, 12, 9), *EncodeTime(23, 15, 2, 120));
  const struct {
    double relayMinusPc;  // seconds
    const char* offset;
  } cases[] = {{-1.234, "clock offset: -1.23 s"},
               {1.236, "clock offset: +1.24 s"},
               {0.001, "clock offset: +0.00 s"},
               {-0.001, "clock offset: +0.00 s"},
               {-3600, "clock offset: -3600.00 s"}};
  for (const auto& c : cases) {
    const std::vector<std::string> lines = English(ClockDetails(pc + c.relayMinusPc / 86400, pc));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], "pc time: 2026-12-09 23:15:02.120");
    EXPECT_EQ(lines[2], c.offset);
  }
  EXPECT_EQ(English(ClockDetails(pc - 1.5 / 86400, pc))[0], "relay time: 2026-12-09 23:15:00.620");
}

// A settings write's lines: the rows it changes, the rows held otherwise, and its outcome.
TEST(JournalTextTest, SettingsWriteLines) {
  SettingsWords held{};
  held[8] = 196;      // Uu1
  held[0] = 0x041E;   // tUu1 30 steps, tUu2 4
  held[21] = 0x00C8;  // carried
  SettingsWords toWrite = held;
  toWrite[8] = 200;
  toWrite[0] = 0x0A1E;  // tUu2 10 steps
  toWrite[21] = 0x1234;
  const FirmwareFeatures firmware = FirmwareFeaturesOf(14);
  EXPECT_EQ(
      English(SettingsChangeDetails(held, toWrite, firmware)),
      (std::vector<std::string>{"row: Uu1 196 V (85 %) -> 200 V (87 %)",
                                "row: tUu2 0.20 s -> 0.50 s", "row: word 21 0x00C8 -> 0x1234"}));
  EXPECT_TRUE(SettingsChangeDetails(held, held, firmware).empty());
  EXPECT_EQ(English(SettingsHeldDetails(toWrite, held, firmware)),
            (std::vector<std::string>{"held: Uu1 196 V (85 %)", "held: tUu2 0.20 s",
                                      "held: word 21 0x00C8"}));
  // After a firmware upload each side is read in its own firmware's units (1/10 s before x.05).
  EXPECT_EQ(English(SettingsAfterRestartDetails(held, FirmwareFeaturesOf(4), toWrite, firmware)),
            (std::vector<std::string>{"after restart: Uu1 196 V (85 %) -> 200 V (87 %)",
                                      "after restart: tUu2 0.40 s -> 0.50 s",
                                      "after restart: word 21 0x00C8 -> 0x1234"}));
  EXPECT_EQ(English(SettingsAfterRestartDetails(held, firmware, held, firmware)),
            std::vector<std::string>{"after restart: settings kept"});
  EXPECT_EQ(English(SettingsAfterRestartDetails(held, firmware, std::nullopt, firmware)),
            std::vector<std::string>{"after restart: settings not read"});
}

// How a change's outcome is kept, and what came of it in words: a write read back otherwise is
// refused, naming the rows; a change that went out without a good answer is not known; one that
// never went out whole, or that the relay refused, changed nothing.
TEST(JournalTextTest, WhatCameOfAChange) {
  const struct {
    ChangeKind kind;
    Outcome outcome;
    std::vector<JournalText> details;  // added at the close
    JournalOutcome kept;
    const char* result;
  } cases[] = {
      {ChangeKind::Settings, Outcome::Ok, {}, JournalOutcome::Done, "done, read back equal"},
      {ChangeKind::Settings,
       Outcome::Differs,
       {Keyed("held", {"Uu1", "195 V (85 %)"}), Keyed("held", {"word:21", "0x0000"})},
       JournalOutcome::Refused,
       "refused: the relay holds Uu1, word 21 otherwise"},
      {ChangeKind::Calibration,
       Outcome::Differs,
       {Keyed("calibration-held", {"s/n", "none"})},
       JournalOutcome::Refused,
       "refused: the relay holds s/n otherwise"},
      {ChangeKind::Settings,
       {Outcome::Unknown, LinkError::NoReply},
       {},
       JournalOutcome::Unknown,
       "sent, no valid acknowledgement (no reply): the relay may hold all or part of it"},
      {ChangeKind::Clock,
       {Outcome::Unknown, LinkError::BadCrc},
       {},
       JournalOutcome::Unknown,
       "sent, no valid acknowledgement (reply with bad CRC): the relay may have taken it"},
      {ChangeKind::Calibration,
       {Outcome::Unknown, LinkError::NoReply, true},
       {},
       JournalOutcome::Unknown,
       "acknowledged, the read-back failed (no reply): what the relay holds is not known"},
      {ChangeKind::Settings,
       {Outcome::CommunicationError, LinkError::DeviceGone},
       {},
       JournalOutcome::Failed,
       "not sent (device gone), the relay unchanged"},
      {ChangeKind::Calibration,
       kChangeHeldBack,
       {},
       JournalOutcome::NotSent,
       "not sent: stopped before it went out, the relay unchanged"},
      {ChangeKind::Clock,
       {Outcome::CommunicationError, LinkError::Exception},
       {},
       JournalOutcome::Refused,
       "refused by the relay (exception reply), nothing changed"},
      {ChangeKind::HistoryClearing,
       Outcome::Ok,
       {},
       JournalOutcome::Done,
       "done: the relay emptied its event history"},
      {ChangeKind::HistoryClearing,
       {Outcome::Refused, LinkError::Exception},
       {},
       JournalOutcome::Refused,
       "refused by the relay: wrong code, nothing cleared"},
      {ChangeKind::RelayMode,
       Outcome::Ok,
       {},
       JournalOutcome::Done,
       "done, acknowledged by the relay"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.result);
    JournalEntry entry = Sample(c.kind);
    const size_t before = entry.details.size();
    SetOutcome(entry, c.outcome, c.details);
    EXPECT_EQ(entry.outcome, c.kept);
    EXPECT_EQ(RenderJournalTexts(entry.results, TextLanguage::English), c.result);
    EXPECT_EQ(entry.details.size(), before + c.details.size());
    EXPECT_EQ(
        JournalDescription(entry, TextLanguage::English).ends_with(std::string(": ") + c.result),
        true);
  }
}

// How an upload's end is kept: a failure after Start changed no firmware, even when a pause cut
// the wait for its answer; only one stopped before Start never went out.
TEST(JournalTextTest, HowAnUploadIsKept) {
  using Step = UploadEnd::Step;
  const struct {
    Step step;
    Outcome outcome;
    JournalOutcome kept;
  } cases[] = {
      {Step::Restart, Outcome::Ok, JournalOutcome::Done},
      {Step::Restart, {Outcome::Unknown, LinkError::NoReply}, JournalOutcome::Unknown},
      {Step::BeforeStart, kChangeHeldBack, JournalOutcome::NotSent},
      {Step::Start, {Outcome::CommunicationError, LinkError::Stopped}, JournalOutcome::Failed},
      {Step::Blocks, {Outcome::CommunicationError, LinkError::Exception}, JournalOutcome::Refused},
      {Step::Run, {Outcome::CommunicationError, LinkError::DeviceGone}, JournalOutcome::Failed},
  };
  for (const auto& c : cases) {
    UploadEnd end;
    end.step = c.step;
    end.outcome = c.outcome;
    EXPECT_EQ(UploadJournalOutcome(end), c.kept) << static_cast<int>(c.step);
  }
}

TEST(JournalTextTest, CalibrationWriteLines) {
  const CalibrationWords held{1000, 1000, 1000, 10000, 0x00C8, 0, 0, 0x0101};  // no s/n
  const CalibrationWords toWrite{1000, 1002, 1000, 9999, 0x00C9, 4711, 0, 0x0101};
  EXPECT_EQ(English(CalibrationChangeDetails(held, toWrite)),
            (std::vector<std::string>{"row: KalU2 1.000 -> 1.002", "row: KalF 1.0000 -> 0.9999",
                                      "row: s/n none -> 004711", "row: word 4 0x00C8 -> 0x00C9"}));
  EXPECT_TRUE(CalibrationChangeDetails(held, held).empty());
  EXPECT_EQ(English(CalibrationHeldDetails(toWrite, held)),
            (std::vector<std::string>{"held: KalU2 1.000", "held: KalF 1.0000", "held: s/n none",
                                      "held: word 4 0x00C8"}));
}

TEST(JournalTextTest, CalibrationFileReadStrictly) {
  const JournalBackup backup = CalibrationBackup(kCalibration);
  const std::string good(backup.bytes.begin(), backup.bytes.end());
  ASSERT_EQ(good.substr(0, 24), "0x18 0x03EB\n0x19 0x03E8\n");
  const auto parse = [](const std::string& text, CalibrationWords& record, std::string& error) {
    return ParseCalibrationBackup({reinterpret_cast<const uint8_t*>(text.data()), text.size()},
                                  record, error);
  };
  CalibrationWords record{};
  std::string error;
  ASSERT_TRUE(parse(good, record, error)) << error;
  EXPECT_EQ(record, kCalibration);
  record = {};
  ASSERT_TRUE(parse("0x18 0x03eb" + good.substr(11), record, error)) << error;
  EXPECT_EQ(record[0], 1003);

  const std::string eighth = "0x1F 0x0101\n";
  const struct {
    const char* name;
    std::string text;
  } bad[] = {
      {"empty", ""},
      {"no last newline", good.substr(0, good.size() - 1)},
      {"seven lines", good.substr(0, good.size() - eighth.size())},
      {"nine lines", good + eighth},
      {"out of order", good.substr(12, 12) + good.substr(0, 12) + good.substr(24)},
      {"three digits", "0x18 0x3EB" + good.substr(11)},
      {"capital X", "0X18 0x03EB" + good.substr(11)},
      {"two spaces", "0x18  0x03EB" + good.substr(11)},
      {"CRLF", "0x18 0x03EB\r" + good.substr(11)},
      {"not hex", "0x18 0x03EG" + good.substr(11)},
      {"junk after", good + "x"},
  };
  for (const auto& c : bad) {
    record = {};
    error.clear();
    EXPECT_FALSE(parse(c.text, record, error)) << c.name;
    EXPECT_FALSE(error.empty()) << c.name;
    EXPECT_EQ(record, CalibrationWords{}) << c.name;
  }
}
