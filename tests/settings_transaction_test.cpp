// ReadParameters and WriteParameters against the simulated relay.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "relay_fixture.h"
#include "setting_clamp.h"
#include "settings_record.h"
#include "settings_transactions.h"

using namespace nx480;
using namespace std::chrono_literals;

namespace {

using Outcomes = std::vector<Outcome>;

// The settings window as the transactions see it, recording what they do.
class FakeWindow : public ParameterWindow {
 public:
  void StoreParameterWords(size_t first, const uint16_t* words, size_t count) override {
    for (size_t i = 0; i < count; ++i) record[first + i] = words[i];
  }
  void SettingsToBoxes() override { ++boxesFilled; }
  void StoreDifferences(const SettingsWords& written, const SettingsWords& held) override {
    differing = DifferingNames(written, held);
  }
  void ShowResult(Outcome outcome) override { statuses.push_back(outcome); }
  const SettingsWords& WriteHandOver() const override { return toWrite; }
  bool JournalBefore(const SettingsWords& held, const SettingsWords& written) override {
    backups.push_back(held);
    EXPECT_EQ(written, toWrite);
    if (onJournal) onJournal();
    return letGo;
  }
  void JournalAfter(Outcome outcome, const SettingsWords&) override {
    journalled.push_back(outcome);
  }

  SettingsWords record{};
  bool letGo = true;                   // JournalBefore's answer
  std::function<void()> onJournal;     // called inside JournalBefore
  std::vector<SettingsWords> backups;  // what each JournalBefore was given as held
  std::vector<Outcome> journalled;
  SettingsWords toWrite{};
  int boxesFilled = 0;
  std::vector<std::string> differing;
  std::vector<Outcome> statuses;
};

class ParameterTransactions : public RelayLinkTest<> {
 protected:
  void SetUp() override { Connect(); }
  SettingsWords RelaySettings() const { return HoldingRegisters<kSettingsWords>(0); }
  // A relay whose received bytes are kept in wire_.
  void ConnectTraced() {
    sim::VirtualOptions options;
    options.trace = [this](bool incoming, std::span<const uint8_t> bytes,
                           std::chrono::steady_clock::time_point) {
      std::lock_guard lock(wireMutex_);
      if (incoming) wire_.insert(wire_.end(), bytes.begin(), bytes.end());
    };
    Connect({}, TestLine(), std::move(options));
  }
  std::vector<uint8_t> Wire() {
    std::lock_guard lock(wireMutex_);
    return wire_;
  }

  FakeWindow window_;
  std::mutex wireMutex_;
  std::vector<uint8_t> wire_;
};

SettingsWords Pattern(uint16_t base) {
  SettingsWords words{};
  for (size_t i = 0; i < words.size(); ++i) words[i] = static_cast<uint16_t>(base + 0x0101 * i);
  return words;
}

}  // namespace

TEST_F(ParameterTransactions, ReadTakesAll24Registers) {
  const SettingsWords expected = Pattern(0x1000);
  for (uint16_t a = 0; a < kSettingsWords; ++a)
    relay_->SetRegister(sim::Table::kHolding, a, expected[a]);
  ReadParameters(link_, window_);
  EXPECT_EQ(window_.record, expected);
  EXPECT_EQ(window_.boxesFilled, 1);
  EXPECT_EQ(window_.statuses, Outcomes{Outcome::Ok});
  EXPECT_EQ(Requests(), 2u);
}

TEST_F(ParameterTransactions, FailedSecondHalfKeepsWords8To23) {
  const SettingsWords relayWords = Pattern(0x2000);
  for (uint16_t a = 0; a < kSettingsWords; ++a)
    relay_->SetRegister(sim::Table::kHolding, a, relayWords[a]);
  const SettingsWords before = Pattern(0x7000);

  // Each way the second reply can fail: missing, bad CRC, short, an exception.
  for (sim::FaultKind kind : {sim::FaultKind::kSilence, sim::FaultKind::kBadCrc,
                              sim::FaultKind::kShortReply, sim::FaultKind::kException}) {
    window_ = FakeWindow();
    window_.record = before;
    relay_->AddFault({.kind = kind, .function = 0x03, .count = 1, .skip = 1});
    ReadParameters(link_, window_);
    for (size_t i = 0; i < 8; ++i) EXPECT_EQ(window_.record[i], relayWords[i]) << i;
    for (size_t i = 8; i < kSettingsWords; ++i) EXPECT_EQ(window_.record[i], before[i]) << i;
    EXPECT_EQ(window_.boxesFilled, 0);
    EXPECT_EQ(window_.statuses, Outcomes{Outcome::CommunicationError});
    relay_->ClearFaults();
  }

  // A failed first half changes nothing; afterwards (the input drained) a read works again.
  window_ = FakeWindow();
  window_.record = before;
  relay_->AddFault({.kind = sim::FaultKind::kBadCrc, .function = 0x03, .count = 1});
  ReadParameters(link_, window_);
  EXPECT_EQ(window_.record, before);
  EXPECT_EQ(window_.statuses, Outcomes{Outcome::CommunicationError});
  window_.statuses.clear();
  ReadParameters(link_, window_);
  EXPECT_EQ(window_.record, relayWords);
  EXPECT_EQ(window_.statuses, Outcomes{Outcome::Ok});
}

TEST_F(ParameterTransactions, WriteReadsTheBackupThenSendsBothHalvesAndReadsBack) {
  ConnectTraced();
  const SettingsWords previous = Pattern(0x6000);
  for (uint16_t a = 0; a < kSettingsWords; ++a)
    relay_->SetRegister(sim::Table::kHolding, a, previous[a]);
  window_.toWrite = Pattern(0x3000);
  size_t wireAtJournal = 0;
  window_.onJournal = [&] { wireAtJournal = Wire().size(); };
  const auto t0 = Now();
  WriteParameters(link_, window_);
  const auto elapsed = Now() - t0;
  EXPECT_EQ(window_.statuses, Outcomes{Outcome::Ok});
  EXPECT_EQ(window_.journalled, Outcomes{Outcome::Ok});
  EXPECT_EQ(window_.backups, std::vector<SettingsWords>{previous});  // read right before
  EXPECT_EQ(RelaySettings(), window_.toWrite);
  EXPECT_GE(elapsed, 250ms);                   // the relay is given time to store the second block
  EXPECT_EQ(window_.record, SettingsWords{});  // the window's own record is not touched
  EXPECT_EQ(window_.boxesFilled, 0);

  // The requests as sent: the backup's reads of 0-7 and 8-23 (8 bytes each), then - after the
  // journal step - registers 0-7 (25 bytes), 8-23 (41 bytes, 32 data bytes high byte first),
  // then the read-back of 0-7 and of 8-23.
  const std::vector<uint8_t> wire = Wire();
  ASSERT_EQ(wire.size(), 8u + 8u + 25u + 41u + 8u + 8u);
  EXPECT_EQ(wireAtJournal, 16u);
  const uint8_t* low = &wire[16];
  EXPECT_EQ(low[1], 0x10);
  EXPECT_EQ(WireWord(&low[2]), 0);
  EXPECT_EQ(WireWord(&low[4]), 8);
  const uint8_t* high = &wire[41];
  EXPECT_EQ(high[0], 0x01);
  EXPECT_EQ(high[1], 0x10);
  EXPECT_EQ(WireWord(&high[2]), 8);
  EXPECT_EQ(WireWord(&high[4]), 16);
  EXPECT_EQ(high[6], 32);
  EXPECT_EQ(WireWord(&high[7]), window_.toWrite[8]);
  EXPECT_EQ(WireWord(&high[7 + 30]), window_.toWrite[23]);
  for (const auto& [at, first, count] :
       {std::tuple{0, 0, 8}, std::tuple{8, 8, 16}, std::tuple{82, 0, 8}, std::tuple{90, 8, 16}}) {
    EXPECT_EQ(wire[at + 1], 0x03) << at;
    EXPECT_EQ(WireWord(&wire[at + 2]), first) << at;
    EXPECT_EQ(WireWord(&wire[at + 4]), count) << at;
  }
}

// No backup kept, no write: a journal step that refuses, or a backup read that fails, ends the
// write before a word of it is sent.
TEST_F(ParameterTransactions, NoWriteWithoutTheJournalStep) {
  ConnectTraced();
  const SettingsWords original = RelaySettings();
  window_.toWrite = Pattern(0x3000);
  window_.letGo = false;
  WriteParameters(link_, window_);
  EXPECT_EQ(Wire().size(), 16u);  // the two reads only
  EXPECT_EQ(window_.backups, std::vector<SettingsWords>{original});
  EXPECT_EQ(RelaySettings(), original);
  EXPECT_TRUE(window_.statuses.empty());    // the step shows why itself
  EXPECT_TRUE(window_.journalled.empty());  // no entry to close

  for (int skip : {0, 1}) {
    window_ = FakeWindow();
    window_.toWrite = Pattern(0x3000);
    relay_->AddFault({.kind = sim::FaultKind::kBadCrc, .function = 0x03, .skip = skip});
    const uint64_t before = Requests();
    WriteParameters(link_, window_);
    EXPECT_EQ(window_.statuses, Outcomes{Outcome::CommunicationError}) << skip;
    EXPECT_TRUE(window_.backups.empty()) << skip;
    EXPECT_EQ(Requests() - before, uint64_t(skip + 1)) << skip;
    EXPECT_EQ(RelaySettings(), original) << skip;
    relay_->ClearFaults();
  }
}

// A stop that comes while the journal entry is written (nx480ctl's Ctrl-C) holds the write back:
// nothing but the backup's read reaches the relay, and the entry is closed as not sent.
TEST_F(ParameterTransactions, StopDuringTheJournalStepSendsNothing) {
  ConnectTraced();
  const SettingsWords original = RelaySettings();
  window_.toWrite = Pattern(0x3000);
  window_.onJournal = [this] { link_.HoldChanges(); };
  WriteParameters(link_, window_);
  EXPECT_EQ(Wire().size(), 16u);  // the two reads only
  EXPECT_EQ(RelaySettings(), original);
  ASSERT_EQ(window_.journalled.size(), 1u);
  EXPECT_EQ(window_.journalled[0].kind, kChangeHeldBack.kind);
  EXPECT_EQ(window_.journalled[0].error, LinkError::Stopped);
  EXPECT_EQ(window_.statuses.size(), 1u);
}

// A relay may clamp a value and still acknowledge it: the read-back tells, and names the rows.
TEST_F(ParameterTransactions, WriteReadsBackAndNamesWhatTheRelayHoldsOtherwise) {
  const struct {
    const char* what;
    std::vector<const char*> clamps;
    std::optional<sim::FaultRule> fault;  // on the read-back
    Outcome outcome;
    std::vector<std::string> differing;
  } cases[] = {
      {"held as written", {"8:180:260"}, {}, Outcome::Ok, {}},
      {"a word clamped", {"8:200:260"}, {}, Outcome::Differs, {"Uu1"}},
      {"a low byte clamped", {"0.lo:40:60"}, {}, Outcome::Differs, {"tUu1"}},
      {"a high byte clamped", {"0.hi:20:30"}, {}, Outcome::Differs, {"tUu2"}},
      {"a carried word", {"21:0:0"}, {}, Outcome::Differs, {"slovo 21"}},
      {"two rows, in the page's order",
       {"15:0:100", "8:200:260"},
       {},
       Outcome::Differs,
       {"Uu1", "tRel"}},
      {"no reply to the read-back",
       {"8:200:260"},
       sim::FaultRule{.kind = sim::FaultKind::kSilence, .function = 0x03, .skip = 2},
       {Outcome::Unknown, LinkError::NoReply},
       {}},
      {"its second half refused",
       {},
       sim::FaultRule{.kind = sim::FaultKind::kException, .function = 0x03, .skip = 3},
       {Outcome::Unknown, LinkError::Exception},
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    sim::RelayConfig config;
    for (const char* clamp : c.clamps) config.clamps.push_back(*sim::ParseSettingClamp(clamp));
    Connect(config);
    if (c.fault) relay_->AddFault(*c.fault);
    window_ = FakeWindow();
    window_.toWrite = RelaySettings();
    window_.toWrite[kWordUu1] = 190;
    window_.toWrite[kWordTUu] = 0x0A05;  // tUu1 5 steps, tUu2 10
    window_.toWrite[kWordTRel] = 600;
    window_.toWrite[21] = 0x1234;
    WriteParameters(link_, window_);
    ASSERT_EQ(window_.statuses.size(), 1u);
    ASSERT_EQ(window_.journalled.size(), 1u);
    EXPECT_EQ(window_.journalled[0].kind, c.outcome.kind);
    EXPECT_EQ(window_.statuses[0].kind, c.outcome.kind);
    EXPECT_EQ(window_.statuses[0].error, c.outcome.error);
    EXPECT_EQ(window_.differing, c.differing);
    // What the relay holds fills the record and the boxes only when it differs.
    const bool differs = c.outcome == Outcome::Differs;
    EXPECT_EQ(window_.record, differs ? RelaySettings() : SettingsWords{});
    EXPECT_EQ(window_.boxesFilled, differs ? 1 : 0);
  }
}

TEST_F(ParameterTransactions, FailedWritesReportAndStop) {
  const SettingsWords original = RelaySettings();
  window_.toWrite = Pattern(0x4000);

  // The first block refused: the second is never sent.
  relay_->AddFault({.kind = sim::FaultKind::kException, .function = 0x10, .count = 1});
  const uint64_t before = Requests();
  WriteParameters(link_, window_);
  EXPECT_EQ(window_.statuses, Outcomes{Outcome::CommunicationError});
  EXPECT_EQ(window_.journalled, Outcomes{Outcome::CommunicationError});
  EXPECT_EQ(Requests() - before, 3u);  // the backup's two reads and the refused block
  EXPECT_EQ(RelaySettings(), original);

  // The second block's acknowledgement lost: the first block is in, what the relay holds is not
  // known.
  window_.statuses.clear();
  relay_->ClearFaults();
  relay_->AddFault({.kind = sim::FaultKind::kSilence, .function = 0x10, .count = 1, .skip = 1});
  WriteParameters(link_, window_);
  EXPECT_EQ(window_.statuses, Outcomes{Outcome::Unknown});
  EXPECT_FALSE(window_.statuses[0].acknowledged);
  const SettingsWords now = RelaySettings();
  for (size_t i = 0; i < 8; ++i) EXPECT_EQ(now[i], window_.toWrite[i]) << i;
  for (size_t i = 8; i < kSettingsWords; ++i) EXPECT_EQ(now[i], original[i]) << i;

  // An acknowledgement that does not echo the request (a good CRC, another quantity) tells
  // nothing of what the relay took, in either block.
  for (int skip : {0, 1}) {
    window_.statuses.clear();
    relay_->ClearFaults();
    relay_->AddFault({.kind = sim::FaultKind::kBadEcho, .function = 0x10, .skip = skip});
    WriteParameters(link_, window_);
    EXPECT_EQ(window_.statuses, Outcomes{Outcome::Unknown}) << skip;
    EXPECT_EQ(link_.LastError(), LinkError::BadEcho) << skip;
  }
}

TEST_F(ParameterTransactions, LateRepliesAreDrainedBeforeTheNextTransaction) {
  // A reply that comes after its read gave up must not be taken as the next request's answer:
  // the failed transaction drains it.
  window_.toWrite = Pattern(0x5000);
  struct Case {
    uint8_t function;  // the request answered late
    void (*first)(TModbus&, ParameterWindow&);
    void (*next)(TModbus&, ParameterWindow&);
    OutcomeKind late;  // how the first one ends: a write that went out is not known
  } cases[] = {{0x10, WriteParameters, ReadParameters, Outcome::Unknown},
               {0x03, ReadParameters, WriteParameters, Outcome::CommunicationError}};
  for (const Case& c : cases) {
    window_.statuses.clear();
    relay_->AddFault({.kind = sim::FaultKind::kLateReply, .function = c.function, .param = 200});
    c.first(link_, window_);
    c.next(link_, window_);
    EXPECT_EQ(window_.statuses, (Outcomes{c.late, Outcome::Ok})) << int(c.function);
  }
  EXPECT_EQ(RelaySettings(), window_.toWrite);
}

TEST_F(ParameterTransactions, EditedRecordGoesOutAndComesBackWithTheRelaysOwnWords) {
  for (const char* version : {"1.04", "1.14.d"}) {
    sim::RelayConfig config;
    config.version = version;
    Connect(config);
    const int minor = std::string(version) == "1.04" ? 4 : 14;
    ReadParameters(link_, window_);
    ASSERT_EQ(window_.statuses.back(), Outcome::Ok);
    const SettingsWords read = window_.record;

    // The simulated relay's defaults are the same times at either step size.
    ParameterBoxes boxes;
    SettingsToBoxes(read, FirmwareFeaturesOf(minor), boxes);
    EXPECT_EQ(boxes.text[kBoxTUu1], "1.50") << version;
    EXPECT_EQ(boxes.text[kBoxTRel], "30.0") << version;
    EXPECT_EQ(boxes.text[kBoxUu1], "196");
    EXPECT_EQ(boxes.text[kBoxFu1], "47.5");
    EXPECT_EQ(boxes.fazeIndex, 1);

    // Every recording interval of the list goes out and comes back as the same item, and the
    // relay's own registers 4-6 and 20-23 go back as they were read.
    for (int item = 0; item < kLogItemCount; ++item) {
      boxes.logIndex = item;
      boxes.logChosen = true;  // as if the user picked it
      boxes.text[kBoxUu2] = std::to_string(180 + item);
      SettingsWords record = read;
      std::string error;
      ASSERT_TRUE(BoxesToSettings(boxes, FirmwareFeaturesOf(minor), record, error)) << error;
      window_.toWrite = record;
      WriteParameters(link_, window_);
      ASSERT_EQ(window_.statuses.back(), Outcome::Ok);
      window_.record = SettingsWords{};
      ReadParameters(link_, window_);
      ASSERT_EQ(window_.statuses.back(), Outcome::Ok);
      EXPECT_EQ(window_.record, record);
      ParameterBoxes back;
      SettingsToBoxes(window_.record, FirmwareFeaturesOf(minor), back);
      if (minor >= 5) {
        EXPECT_EQ(back.logIndex, item) << kLogItems[item];
      }
      EXPECT_EQ(back.text[kBoxUu2], std::to_string(180 + item));
      for (int w : {4, 5, 6, 20, 21, 22, 23}) EXPECT_EQ(window_.record[w], read[w]) << w;
      if (minor < 5) break;  // the list does not follow the record before x.05
    }
    link_.ClosePort();
  }
}
