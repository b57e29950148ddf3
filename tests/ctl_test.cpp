// nx480ctl without a relay: its command line, and what it prints of settings, live values,
// history and upload progress.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "command_line.h"
#include "console_interrupts.h"
#include "history_command.h"
#include "live_command.h"
#include "settings_record.h"
#include "settings_rows.h"
#include "upload_command.h"

using namespace nx480;
using namespace nx480::ctl;

namespace {

struct LineCase {
  std::vector<std::string> args;
  std::string error;  // a part of the error; "" for a good line
  Command command = Command::Help;
};

TEST(CtlCommandLine, CommandsAndErrors) {
  const LineCase cases[] = {
      {{}, "no command"},
      {{"--version"}, "", Command::Version},
      {{"--help"}, "", Command::Help},
      {{"frobnicate"}, "unknown command 'frobnicate'"},
      {{"identify", "now"}, "unexpected argument 'now'"},
      {{"identify", "--stream"}, "unknown option --stream for identify"},
      {{"--port"}, "--port needs a value"},
      {{"--port=", "identify"}, "--port needs a device"},
      {{"--trace=yes", "identify"}, "--trace takes no value"},
      {{"identify", "--port", "/dev/ttyUSB3", "--trace"}, "", Command::Identify},
      {{"live", "--count", "0"}, "--count takes a whole number"},
      {{"live", "--count", "5x"}, "--count takes a whole number"},
      {{"live", "--csv", "--count=3"}, "", Command::Live},
      {{"live", "--csv", "--csv-semicolon"}, "--csv and --csv-semicolon exclude each other"},
      {{"settings"}, "settings needs read, write, show, diff or check"},
      {{"settings", "check"}, "settings check needs a profile"},
      {{"settings", "check", "p", "a.nx4", "b"}, "unexpected argument 'b'"},
      {{"settings", "check", "p", "--firmware", "4"}, "--firmware goes with a file"},
      {{"settings", "check", "p", "a.nx4", "--firmware", "4"}, "", Command::SettingsCheck},
      {{"settings", "copy", "a.nx4"}, "unknown settings command 'copy'"},
      {{"settings", "read"}, "settings read needs a file"},
      {{"settings", "read", "a.nx4", "b.nx4"}, "unexpected argument 'b.nx4'"},
      {{"settings", "diff", "a.nx4", "--firmware", "14"}, "--firmware goes with settings show"},
      {{"settings", "show", "a.nx4", "--firmware", "100"}, "--firmware takes"},
      {{"settings", "show", "a.nx4", "--firmware", "4"}, "", Command::SettingsShow},
      {{"settings", "write", "--", "-a.nx4"}, "", Command::SettingsWrite},
      {{"clock", "--set"}, "", Command::Clock},
      {{"relay"}, "missing relay mode"},
      {{"relay", "closed"}, "relay mode must be auto, on or off"},
      {{"relay", "auto", "--hold"}, "--hold goes with relay on or off"},
      {{"relay", "off", "--hold"}, "", Command::Relay},
      {{"calibration"}, "add --service"},
      {{"--service", "calibration"}, "", Command::Calibration},
      {{"calibration", "clear-history", "--service"}, "", Command::ClearHistory},
      {{"--service", "calibration", "set"}, "calibration set needs NAME=VALUE"},
      {{"--service", "calibration", "set", "KalX=1"}, "is not NAME=VALUE"},
      {{"--service", "calibration", "set", "KalU1"}, "is not NAME=VALUE"},
      {{"--service", "calibration", "set", "KalU1=1", "KalU1=2"}, "KalU1 is given twice"},
      {{"--service", "calibration", "set", "KalF=1.0001", "serial=7"}, "", Command::CalibrationSet},
      {{"history", "--csv"}, "--csv needs a value"},
      {{"history", "--csv", "h.csv", "--utf8"}, "", Command::History},
      {{"upload"}, "missing firmware image"},
      {{"upload", "a.bn6", "--check"}, "", Command::Upload},
      {{"journal"}, "journal needs list, show or restore"},
      {{"journal", "clear"}, "unknown journal command 'clear'"},
      {{"journal", "list", "--all"}, "", Command::JournalList},
      {{"journal", "show"}, "journal show needs an entry's ID"},
      {{"journal", "show", "a", "--all"}, "--all goes with journal list only"},
      {{"journal", "show", "1234/a"}, "", Command::JournalShow},
      {{"journal", "restore", "a", "--other-relay"}, "", Command::JournalRestore},
      {{"journal", "show", "a", "--other-relay"}, "--other-relay goes with journal restore only"},
      {{"journal", "list", "--other-relay"}, "--other-relay goes with journal restore only"},
      // A command's help wins over the rest of its line.
      {{"settings", "--help", "copy"}, "", Command::Help},
  };
  for (const LineCase& c : cases) {
    std::string line;
    for (const std::string& a : c.args) line += a + " ";
    const ParsedLine parsed = ParseCommandLine(c.args);
    if (c.error.empty()) {
      EXPECT_TRUE(parsed.Ok()) << line << "-> " << parsed.error;
      EXPECT_EQ(parsed.invocation.command, c.command) << line;
    } else {
      EXPECT_NE(parsed.error.find(c.error), std::string::npos) << line << "-> " << parsed.error;
    }
  }
}

TEST(CtlCommandLine, ValuesReachTheInvocation) {
  Invocation a = ParseCommandLine({"live", "--port", "/dev/x", "--count=3", "--csv"}).invocation;
  EXPECT_EQ(a.port, "/dev/x");
  EXPECT_TRUE(a.stream);
  EXPECT_EQ(a.count, 3);
  EXPECT_TRUE(a.csv);
  Invocation b =
      ParseCommandLine({"--trace", "settings", "show", "f.nx4", "--firmware=4"}).invocation;
  EXPECT_TRUE(b.trace);
  EXPECT_EQ(b.file, "f.nx4");
  EXPECT_EQ(b.firmware, 4);
  EXPECT_EQ(ParseCommandLine({"relay", "off"}).invocation.relayMode, 3);
  EXPECT_EQ(ParseCommandLine({"relay", "on"}).invocation.relayMode, 2);
  EXPECT_EQ(ParseCommandLine({"relay", "auto"}).invocation.relayMode, 1);
  const Invocation c =
      ParseCommandLine({"--service", "calibration", "set", "KalU2=0.998", "serial=12"}).invocation;
  ASSERT_EQ(c.assignments.size(), 2u);
  EXPECT_EQ(c.assignments[0], std::make_pair(std::string("KalU2"), std::string("0.998")));
  EXPECT_EQ(c.assignments[1], std::make_pair(std::string("serial"), std::string("12")));
  EXPECT_EQ(ParseCommandLine({"history", "--csv=h.csv"}).invocation.file, "h.csv");
  EXPECT_EQ(ParseCommandLine({"upload", "--help"}).invocation.helpTopic, "upload");
}

TEST(CtlCommandLine, EveryCommandHasItsHelp) {
  const std::string overview = HelpText("");
  for (const std::string& name : CommandNames()) {
    const std::string help = HelpText(name);
    EXPECT_NE(help, overview) << name;
    EXPECT_EQ(help.rfind("Usage: nx480ctl", 0), 0u) << name;
    EXPECT_NE(help.find(" " + name), std::string::npos) << name;
    EXPECT_NE(overview.find("  " + name), std::string::npos) << name << " missing in the overview";
  }
}

// The factory settings of a relay: delays 1.5 s / 0.2 s, tRel 30 s, three-phase, Log 60 s.
SettingsWords FactoryRecord(int scale) {
  SettingsWords r{};
  r[kWordTUu] = static_cast<uint16_t>((scale / 5) << 8 | (scale * 3 / 2));
  r[kWordFaze] = 0x0100;
  r[kWordUu1] = 196;
  r[kWordUu2] = 184;
  r[kWordUo2] = 253;
  r[kWordUo3] = 264;
  r[kWordFu1] = 475;
  r[kWordFo1] = 515;
  r[kWordTRel] = static_cast<uint16_t>(30 * scale);
  r[kWordUo1] = 253;
  r[kWordLog] = 60;
  r[20] = 0xBEEF;
  return r;
}

TEST(CtlSettingsRows, ValuesWithUnitsAtTheFirmwaresTimeScale) {
  const struct {
    int firmware;
    int scale;
  } cases[] = {{4, 10}, {14, 20}};
  for (const auto& c : cases) {
    const std::vector<SettingsRow> rows =
        SettingsRows(FactoryRecord(c.scale), FirmwareFeaturesOf(c.firmware));
    auto value = [&](const std::string& name) {
      for (const SettingsRow& row : rows)
        if (row.name == name) return row.value;
      return std::string("(no row)");
    };
    EXPECT_EQ(value("Uu1"), "196 V (85 %)");
    EXPECT_EQ(value("tUu1"), "1.50 s") << c.firmware;
    EXPECT_EQ(value("tUu2"), "0.20 s") << c.firmware;
    EXPECT_EQ(value("tRel"), "30.0 s") << c.firmware;
    EXPECT_EQ(value("Fu1"), "47.5 Hz");
    EXPECT_EQ(value("Faze"), "three-phase");
    EXPECT_EQ(value("Log"), "60 s");
    EXPECT_EQ(value("word 20"), "0xBEEF");
  }
  // The same words read at the other scale: the delays halve or double.
  EXPECT_EQ(SettingsRows(FactoryRecord(20), FirmwareFeaturesOf(4))[2].value, "3.00 s");
  // A mode byte the radio group cannot show says its word.
  SettingsWords odd = FactoryRecord(20);
  odd[kWordFaze] = 0x0201;
  EXPECT_EQ(SettingsRows(odd, FirmwareFeaturesOf(14))[0].value, "three-phase (0x0201)");
}

TEST(CtlSettingsRows, EveryBitBelongsToExactlyOneRow) {
  const SettingsWords base = FactoryRecord(20);
  const std::vector<SettingsRow> rows = SettingsRows(base, FirmwareFeaturesOf(14));
  EXPECT_TRUE(DifferingRows(base, base).empty());
  for (size_t word = 0; word < kSettingsWords; ++word) {
    for (int bit = 0; bit < 16; ++bit) {
      SettingsWords changed = base;
      changed[word] ^= static_cast<uint16_t>(1u << bit);
      const std::vector<size_t> differing = DifferingRows(base, changed);
      ASSERT_EQ(differing.size(), 1u) << "word " << word << " bit " << bit;
    }
  }
  SettingsWords changed = base;
  changed[kWordTUu] = static_cast<uint16_t>(changed[kWordTUu] + 0x0101);  // tUu1 and tUu2
  changed[kWordFo2] = 520;
  const std::vector<size_t> differing = DifferingRows(base, changed);
  std::vector<std::string> names;
  for (size_t i : differing) names.push_back(rows[i].name);
  EXPECT_EQ(names, (std::vector<std::string>{"tUu1", "tUu2", "Fo2"}));
  const std::string table = DiffTable(base, changed, FirmwareFeaturesOf(14), "relay", "file.nx4");
  EXPECT_NE(table.find("Fo2"), std::string::npos);
  EXPECT_NE(table.find("52.0 Hz"), std::string::npos);
  EXPECT_EQ(DiffTable(base, base, FirmwareFeaturesOf(14), "relay", "file.nx4"), "");
}

TEST(CtlLive, TextAndCsvFollowTheWindowsDecisions) {
  LiveSnapshot s;
  s.good = true;
  s.firmware = FirmwareFeaturesOf(14);
  s.texts.U1 = "230";
  s.texts.U2 = "229";
  s.texts.U3 = "  5";
  s.texts.F = "50,00";
  s.texts.tRel = "12,5";
  s.texts.U10m1 = s.texts.U10m2 = s.texts.U10m3 = "230";
  s.texts.Progress10m = 700;                // more than the bar holds
  s.texts.Temp = "25,0";                    // the firmware's own reading of no sensor: not shown
  s.texts.StageFlags = 1u << 0 | 1u << 17;  // U< and f>> picked up
  EXPECT_EQ(LiveTextLine(s),
            "U1 230  U2 229  U3 5 V  F 50,00 Hz  tZap 12,5 s  10 min 230 230 230 V (600 s)  "
            "picked up: Uu1 Fo2");
  s.texts.StageFlags |= 1u << 14;  // f> tripped: the countdown is hidden
  s.texts.Temp = "31,4";
  EXPECT_EQ(LiveTextLine(s),
            "U1 230  U2 229  U3 5 V  F 50,00 Hz  10 min 230 230 230 V (600 s)  T 31,4 \u00B0C  "
            "picked up: Uu1 Fo2  tripped: Fo1");
  EXPECT_EQ(LiveCsvLine("t", s), "t;230;229;5;50,00;;230;230;230;600;31,4;Uu1 Fo2;Fo1;\r\n");
  s.good = false;
  EXPECT_EQ(LiveTextLine(s), "no reply");
  // One cell per title.
  const std::string title = LiveCsvTitle();
  const std::string line = LiveCsvLine("t", s);
  EXPECT_EQ(std::count(title.begin(), title.end(), ';'), std::count(line.begin(), line.end(), ';'));
}

TEST(CtlHistory, TheWindowsTable) {
  // 2024-03-05 06:07:08, event 2, 49.98 Hz, 231/0/7 V; then an impossible 31 April.
  auto stamp = [](int y, int mo, int d, int h, int mi, int s) {
    return static_cast<uint32_t>(y - 2000) << 26 | static_cast<uint32_t>(mo) << 22 |
           static_cast<uint32_t>(d) << 17 | static_cast<uint32_t>(h) << 12 |
           static_cast<uint32_t>(mi) << 6 | static_cast<uint32_t>(s);
  };
  const uint32_t good = stamp(2024, 3, 5, 6, 7, 8);
  const uint32_t bad = stamp(2024, 4, 31, 6, 7, 8);
  const HistoryRecord a{
      static_cast<uint16_t>(good), static_cast<uint16_t>(good >> 16), 2, 0, 4998, 231, 0, 7};
  const HistoryRecord b{
      static_cast<uint16_t>(bad), static_cast<uint16_t>(bad >> 16), 2, 0, 4998, 231, 0, 7};
  const std::vector<HistoryRow> rows = HistoryTable({a, b});
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], HistoryTitles());
  EXPECT_EQ(rows[1][1], EventText(2));
  EXPECT_EQ(rows[1][2], "49,98");
  EXPECT_EQ(rows[1][5], "  7");
  // Like the window's table, one empty row when no record makes one.
  EXPECT_EQ(HistoryTable({b}), (std::vector<HistoryRow>{HistoryTitles(), HistoryRow{}}));
}

TEST(CtlUpload, Progress) {
  EXPECT_EQ(ProgressBar(0, 2620, 10), "[          ]   0 %  0/2620 bytes");
  EXPECT_EQ(ProgressBar(1310, 2620, 10), "[#####     ]  50 %  1310/2620 bytes");
  EXPECT_EQ(ProgressBar(9999, 2620, 10), "[##########] 100 %  2620/2620 bytes");
  EXPECT_EQ(ProgressBar(5, 0, 4), "[    ]   0 %  0/0 bytes");
  EXPECT_EQ(ProgressTenth(261, 2620), 0);
  EXPECT_EQ(ProgressTenth(262, 2620), 1);
  EXPECT_EQ(ProgressTenth(2620, 2620), 10);
  ImageCheck check;
  check.fault = ImageFault::BadCrc;
  check.badBlock = 2;
  EXPECT_EQ(ImageFaultText(check, 1048), "block 2: bad CRC");
  check.fault = ImageFault::Length;
  EXPECT_NE(ImageFaultText(check, 1000).find("1000 bytes is not a whole number"),
            std::string::npos);
}

// Windows' console control events as the signals of Linux: every one ends a command as its signal
// does (130, the Linux process tests); a close, logoff or shutdown holds the process for the
// command's end, within Windows' 5 s.
TEST(CtlConsoleEvents, StandForTheSignals) {
  using enum InterruptSignal;
  const struct {
    unsigned long event;
    std::optional<InterruptSignal> signal;  // nullopt: left to the next handler
    bool holds = false;
  } cases[] = {
      {0, Interrupt},        // CTRL_C_EVENT
      {1, Interrupt},        // CTRL_BREAK_EVENT
      {2, Hangup, true},     // CTRL_CLOSE_EVENT
      {5, Terminate, true},  // CTRL_LOGOFF_EVENT
      {6, Terminate, true},  // CTRL_SHUTDOWN_EVENT
      {3, std::nullopt},    {4, std::nullopt}, {7, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.event);
    const std::optional<ConsoleEventMeaning> meaning = MeaningOfConsoleEvent(c.event);
    ASSERT_EQ(meaning.has_value(), c.signal.has_value());
    if (!meaning) continue;
    EXPECT_EQ(meaning->signal, *c.signal);
    EXPECT_EQ(meaning->holdsProcess, c.holds);
  }
  // The hold and a second's grace for the program's own end stay inside Windows' 5 s.
  constexpr auto limits = ConsoleInterrupts::kWindowsLimits;
  EXPECT_LT(limits.again, limits.hold);
  EXPECT_LE(limits.hold + std::chrono::seconds(1), std::chrono::milliseconds(4500));
}

// The handler's thread records and wakes the main thread's wait; Ctrl-C returns at once, a close
// is held until the command has ended (no second interrupt then), one whose command does not end
// is interrupted once more and let go after the hold.
TEST(CtlConsoleEvents, HandlerHoldsUntilTheCommandEnded) {
  using namespace std::chrono_literals;
  {
    ConsoleInterrupts record({30s, 60s});
    EXPECT_FALSE(record.Take(4));
    EXPECT_EQ(record.Count(), 0);
    EXPECT_TRUE(record.Take(0));  // returns without Ended()
    EXPECT_EQ(record.Wait(0ms), 1);
  }
  {
    ConsoleInterrupts record({30s, 60s});
    std::atomic<bool> returned{false};
    std::thread handler([&] {
      record.Take(2);
      returned = true;
    });
    // Wait() wakes for an event after its start: the handler may have been quicker.
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (record.Count() == 0 && std::chrono::steady_clock::now() < deadline) record.Wait(100ms);
    EXPECT_EQ(record.Count(), 1);
    EXPECT_FALSE(returned);  // held: the command has not ended
    record.Ended();
    handler.join();
    EXPECT_EQ(record.Count(), 1);
  }
  {
    ConsoleInterrupts record({10ms, 50ms});
    std::thread handler([&] { record.Take(5); });
    handler.join();  // never ended: let go after the hold
    EXPECT_EQ(record.Count(), 2);
  }
}

}  // namespace
