// nx480ctl report end to end: the record read back with pdftotext, and every way it must leave
// no PDF behind.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>

#include "ctl_process.h"
#include "pty_relay.h"

namespace sim = nx480::sim;
namespace fs = std::filesystem;

namespace {

std::string Shell(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return out;
  char buffer[4096];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  ::pclose(pipe);
  return out;
}

// The PDF's text as pdftotext lays it out, the font's ligatures ("ﬁ", "ﬀ", "ﬂ") as letters.
std::string PdfText(const std::string& pdf) {
  std::string text = Shell("pdftotext -layout '" + pdf + "' -");
  for (const auto& [ligature, letters] :
       {std::pair{"\xEF\xAC\x80", "ff"}, {"\xEF\xAC\x81", "fi"}, {"\xEF\xAC\x82", "fl"}})
    for (size_t at; (at = text.find(ligature)) != std::string::npos;) text.replace(at, 3, letters);
  return text;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return in ? text.str() : std::string("(missing)");
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The line of `text` that begins with `start` (after blanks).
std::string LineOf(const std::string& text, const std::string& start) {
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);)
    if (line.find_first_not_of(' ') != std::string::npos &&
        line.compare(line.find_first_not_of(' '), start.size(), start) == 0)
      return line;
  return "(no line " + start + ")";
}

class Report : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/nx480ctl-report.XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    fs::create_directories(Path("out"));
    sim::RelayConfig config;
    config.history_fill = 150;  // more than the record holds
    config.version = "1.14.b";  // the relay's firmware, not the program's version
    relay_ = std::make_unique<sim::PtyRelay>(config, sim::PtyOptions{});
    relay_->Start();
  }
  void TearDown() override {
    relay_->Stop();
    ::chmod(Path("out").c_str(), 0755);
    fs::remove_all(dir_);
  }
  CtlResult Run(std::vector<std::string> args) {
    args.insert(args.begin(), {"--port", relay_->SlavePath()});
    CtlResult result = RunCtl(args, {{"XDG_DATA_HOME", Path("data")}});
    // A request the program left unanswered is handled before the next case changes the relay.
    if (!relay_->WaitDrained(std::chrono::seconds(30)))
      ADD_FAILURE() << "the relay never caught up";
    return result;
  }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  std::vector<std::string> OutFolder() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(Path("out"))) names.push_back(e.path().filename());
    return names;
  }

  std::unique_ptr<sim::PtyRelay> relay_;
  std::string dir_;
};

TEST_F(Report, AgainstAProfileWithTheRelaysEventsAndTheSettingsHash) {
  std::ofstream(Path("tight.txt")) << "name: Test grid\nsource: test table\n"
                                      "Uu1 184 195 V\nFu1 47.5 47.5 Hz\ntRel 30 30 s\n";
  ASSERT_EQ(Run({"clock", "--set"}).code, 0);  // a change of the last day, in the journal
  const std::string pdf = Path("out/record.pdf");
  std::ofstream(pdf) << "an older record";  // replaced whole
  const CtlResult made = Run({"report", pdf, "--profile", Path("tight.txt"), "--technician",
                              "Jiří Novák", "--site", "Rozvodna Žďár"});
  ASSERT_EQ(made.code, 1) << made.err;  // a row outside the profile; the record is written
  EXPECT_TRUE(Has(made.err, "Uu1 196 V (85 %) is outside 184..195 V")) << made.err;
  EXPECT_EQ(OutFolder(), std::vector<std::string>{"record.pdf"});
  EXPECT_TRUE(Has(Shell("pdffonts '" + pdf + "'"), "yes")) << "fonts embedded";
  const std::string text = PdfText(pdf);

  EXPECT_TRUE(Has(text, "Jiří Novák")) << text;
  EXPECT_TRUE(Has(text, "Rozvodna Žďár")) << text;
  EXPECT_TRUE(Has(LineOf(text, "Výrobní číslo:"), "001234")) << text;
  // The program's own version; the relay's stays in its identification.
  EXPECT_TRUE(Has(LineOf(text, "Verze programu:"), NX480_VERSION_TEXT)) << text;
  EXPECT_TRUE(Has(LineOf(text, "Identifikace:"), "1.14.b")) << text;
  EXPECT_TRUE(Has(text.substr(text.find("Deník změn")), "Datum, čas")) << text;
  EXPECT_TRUE(Has(text, "Podpis technika")) << text;
  EXPECT_TRUE(Has(text, "Podpis provozovatele")) << text;
  // The verdict under the title and above the signatures.
  const std::string verdict = "Výsledek kontroly: Nevyhovuje: 1 z 3 kontrolovaných hodnot (Uu1)\n";
  EXPECT_EQ(LineOf(text, "Výsledek kontroly:") + "\n", verdict) << text;
  EXPECT_TRUE(Has(text.substr(text.find("Deník změn")), verdict)) << text;
  // Every settings row with its value; the profile's rows with range and verdict.
  for (const char* name :
       {"Faze", "Uu1",  "tUu1", "Uu2",  "tUu2", "Uo1",  "tUo1", "Uo2",  "tUo2", "Uo3", "tUo3",
        "Fu1",  "tFu1", "Fu2",  "tFu2", "Fo1",  "tFo1", "Fo2",  "tFo2", "tRel", "Log"})
    EXPECT_TRUE(Has(text, "(" + std::string(name) + ")")) << name;
  EXPECT_TRUE(std::regex_search(LineOf(text, "Podpětí 1. stupně U< (Uu1)"),
                                std::regex("196 V +85,2 % +184 – 195 V +NEVYHOVUJE")))
      << LineOf(text, "Podpětí 1. stupně U< (Uu1)");
  EXPECT_TRUE(std::regex_search(LineOf(text, "Podfrekvence 1. stupně f< (Fu1)"),
                                std::regex("47,5 Hz +47,5 Hz +vyhovuje")));
  EXPECT_TRUE(std::regex_search(LineOf(text, "Čas znovupřipojení (tRel)"),
                                std::regex("30,0 s +30 s +vyhovuje")));
  EXPECT_TRUE(std::regex_search(LineOf(text, "Nadpětí 3. stupně U>>> (Uo3)"),
                                std::regex("264 V +114,8 % +- +-")));

  // The hash is sha256sum's of the settings file read from the same relay.
  ASSERT_EQ(Run({"settings", "read", Path("relay.nx4")}).code, 0);
  const std::string sum = Shell("sha256sum '" + Path("relay.nx4") + "'").substr(0, 64);
  EXPECT_TRUE(Has(text, sum)) << sum << "\n" << text;
  EXPECT_TRUE(Has(made.out, "settings sha256: " + sum)) << made.out;

  // The newest 100 of the relay's events, newest first, each with its own moment.
  const std::vector<sim::EventRecord> events =
      relay_->WithModel([](sim::RelayModel& m) { return m.Events(); });
  ASSERT_GT(events.size(), 100u);
  std::vector<std::string> expected, shown;
  for (size_t i = 0; i < 100; ++i) {
    const sim::DateTime& t = events[i].time;
    char moment[40];
    std::snprintf(moment, sizeof moment, "%d.%d.%04d %02d:%02d:%02d", t.day, t.month, t.year,
                  t.hour, t.minute, t.second);
    expected.push_back(moment);
  }
  const std::regex eventLine(R"(^[ \f]*(\d{1,2}\.\d{1,2}\.\d{4} \d\d:\d\d:\d\d) +\S)");
  const size_t from = text.find("Historie událostí");
  std::istringstream lines(text.substr(from, text.find("Deník změn") - from));
  for (std::string line; std::getline(lines, line);) {
    std::smatch m;
    if (std::regex_search(line, m, eventLine)) shown.push_back(m[1]);
  }
  ASSERT_EQ(shown.size(), expected.size());
  for (size_t i = 0; i < shown.size(); ++i) EXPECT_EQ(shown[i], expected[i]) << i;
}

// --lang en: the record in English, decimal points, "page 1 of N" under every page.
TEST_F(Report, InEnglish) {
  const std::string pdf = Path("out/record.pdf");
  const CtlResult made = Run({"report", pdf, "--lang", "en", "--site", "Kout"});
  ASSERT_EQ(made.code, 0) << made.err;
  const std::string text = PdfText(pdf);
  EXPECT_EQ(LineOf(text, "Check result:"), "Check result: no profile") << text;
  EXPECT_TRUE(
      std::regex_search(LineOf(text, "Underfrequency stage 1 f< (Fu1)"), std::regex("47\\.5 Hz$")))
      << text;
  std::vector<std::string> pages;
  for (size_t from = 0, end; (end = text.find('\f', from)) != std::string::npos; from = end + 1)
    pages.push_back(text.substr(from, end - from));
  ASSERT_GE(pages.size(), 3u) << text;
  for (size_t i = 0; i < pages.size(); ++i)
    EXPECT_TRUE(std::regex_search(
        pages[i], std::regex("NX480 relay, serial number 001234 · Kout · .* +page " +
                             std::to_string(i + 1) + " of " + std::to_string(pages.size()) + "\n")))
        << pages[i];
}

TEST_F(Report, NothingWrittenWhenAPartOrTheFileFails) {
  const std::string old = Path("out/old.pdf");
  std::ofstream(old) << "kept";
  ::chmod(old.c_str(), 0444);  // write-protected: refused even for the superuser
  // The search reads holding registers once (the serial number); then the record: the clock,
  // the settings in two reads, the calibration (with --service), the history's pointer and
  // records (a failed record read is repeated once: the silence lasts).
  const struct {
    const char* fault;
    bool service;
    std::string target;
    int code;
    std::string says;
  } cases[] = {
      {"silence:3:-1:1", false, Path("out/r.pdf"), 4, "clock read failed (no reply)"},
      {"silence:3:-1:3", false, Path("out/r.pdf"), 4, "settings read failed (no reply)"},
      {"badcrc:3:-1:4", true, Path("out/r.pdf"), 4, "calibration read failed (reply with bad CRC)"},
      {"silence:3:-1:4", false, Path("out/r.pdf"), 4, "history read failed (no reply)"},
      {"silence:3:-1:60", false, Path("out/r.pdf"), 4, "history read failed (no reply)"},
      {"", false, old, 5, "old.pdf: the file is write-protected"},
      {"", false, Path("out/no/such/r.pdf"), 5, "no record written"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.fault) + " " + c.target);
    relay_->ClearFaults();
    if (*c.fault) relay_->AddFault(*sim::ParseFaultRule(c.fault));
    std::vector<std::string> args{"report", c.target};
    if (c.service) args.insert(args.begin(), "--service");
    const CtlResult r = Run(args);
    EXPECT_EQ(r.code, c.code) << r.err;
    EXPECT_TRUE(Has(r.err, c.says)) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(OutFolder(), std::vector<std::string>{"old.pdf"});
    EXPECT_EQ(ReadAll(old), "kept");
  }
  if (::geteuid() != 0) {  // a folder without write rights binds no superuser
    ::chmod(Path("out").c_str(), 0555);
    const CtlResult r = Run({"report", Path("out/r.pdf")});
    EXPECT_EQ(r.code, 5);
    EXPECT_TRUE(Has(r.err, "no file may be made in that folder")) << r.err;
    EXPECT_EQ(OutFolder(), std::vector<std::string>{"old.pdf"});
  }
}

TEST_F(Report, ABadProfileStopsBeforeTheRelay) {
  std::ofstream(Path("bad.txt")) << "name: Bad\nsource: x\n\nUu1 184 195 Hz\nFu1 48 47.5 Hz\n";
  const CtlResult bad = Run({"--trace", "report", Path("out/r.pdf"), "--profile", Path("bad.txt")});
  EXPECT_EQ(bad.code, 5);
  EXPECT_TRUE(Has(bad.err, Path("bad.txt") + ":4: Uu1 is in V or %, not Hz")) << bad.err;
  EXPECT_TRUE(Has(bad.err, Path("bad.txt") + ":5: Fu1: the lowest value 48")) << bad.err;
  EXPECT_FALSE(Has(bad.err, "nx480.link.frames")) << "nothing sent: " << bad.err;
  const CtlResult absent = Run({"--trace", "report", Path("out/r.pdf"), "--profile", "absent"});
  EXPECT_EQ(absent.code, 5);
  EXPECT_TRUE(Has(absent.err, "no profile absent")) << absent.err;
  EXPECT_FALSE(Has(absent.err, "nx480.link.frames")) << absent.err;
  const CtlResult language = Run({"--trace", "report", Path("out/r.pdf"), "--lang", "de"});
  EXPECT_EQ(language.code, 2);
  EXPECT_TRUE(Has(language.err, "--lang takes cs or en")) << language.err;
  EXPECT_FALSE(Has(language.err, "nx480.link.frames")) << language.err;
  EXPECT_TRUE(OutFolder().empty());
}

}  // namespace
