#include "explorer.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

#include "firmware_image.h"
#include "link_support.h"
#include "modbus.h"
#include "record_transaction.h"
#include "recording_windows.h"
#include "relay_search.h"
#include "relay_session.h"
#include "relay_time.h"
#include "virtual_line.h"

namespace explorer {

using namespace nx480;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

enum class Kind {
  Identification,
  SerialNumber,
  LiveValues,
  SettingsRead,
  SettingsWrite,
  ClockRead,
  ClockWrite,
  CalibrationRead,
  CalibrationWrite,
  ClearHistory,
  RelayMode,
  HistoryWalk,
  Upload,
  Record,
};
constexpr Kind kKinds[] = {Kind::Identification, Kind::SerialNumber,     Kind::LiveValues,
                           Kind::SettingsRead,   Kind::SettingsWrite,    Kind::ClockRead,
                           Kind::ClockWrite,     Kind::CalibrationRead,  Kind::CalibrationWrite,
                           Kind::ClearHistory,   Kind::RelayMode,        Kind::HistoryWalk,
                           Kind::Upload,         Kind::Record};

const char* KindName(Kind kind) {
  switch (kind) {
    case Kind::Identification:
      return "identification";
    case Kind::SerialNumber:
      return "serial number";
    case Kind::LiveValues:
      return "live values";
    case Kind::SettingsRead:
      return "settings read";
    case Kind::SettingsWrite:
      return "settings write";
    case Kind::ClockRead:
      return "clock read";
    case Kind::ClockWrite:
      return "clock set";
    case Kind::CalibrationRead:
      return "calibration read";
    case Kind::CalibrationWrite:
      return "calibration write";
    case Kind::ClearHistory:
      return "history clearing";
    case Kind::RelayMode:
      return "relay mode";
    case Kind::HistoryWalk:
      return "history walk";
    case Kind::Upload:
      return "firmware upload";
    case Kind::Record:
      return "commissioning record";
  }
  return "?";
}

// The functions whose replies a fault of the transaction may hit.
std::vector<uint8_t> FunctionsOf(Kind kind) {
  switch (kind) {
    case Kind::Identification:
      return {0x11};
    case Kind::LiveValues:
      return {0x04, 0x01};
    case Kind::SettingsWrite:
    case Kind::ClockWrite:
    case Kind::CalibrationWrite:
    case Kind::ClearHistory:
      return {0x03, 0x10};
    case Kind::RelayMode:
      return {0x0F};
    case Kind::Upload:
      return {0x11, 0x03, 0x10};
    default:
      return {0x03};
  }
}

// How long the transaction may take on the line, about: where a disconnect or unplug may land.
std::chrono::milliseconds SpanOf(Kind kind) {
  switch (kind) {
    case Kind::SettingsWrite:
      return 600ms;
    case Kind::CalibrationWrite:
      return 500ms;
    case Kind::ClearHistory:
      return 2500ms;
    case Kind::HistoryWalk:
    case Kind::Record:
      return 400ms;
    case Kind::Upload:
      return 1500ms;
    default:
      return 150ms;
  }
}

enum class Event { None, Disconnect, Unplug };

struct Plan {
  Kind kind = Kind::SettingsRead;
  std::vector<sim::FaultRule> faults;
  Event event = Event::None;
  std::chrono::microseconds at{0};  // of the event, after the transaction began
  bool queuedWrite = false;         // a settings write waits behind the transaction
  int historySize = 1;
  int historyFill = 3;
  uint16_t settingsValue = 0;  // the write's new value of one register
  int settingsRegister = 8;
  int relayMode = 2;
};

constexpr sim::FaultKind kFaultKinds[] = {
    sim::FaultKind::kSilence,    sim::FaultKind::kBadCrc,       sim::FaultKind::kShortReply,
    sim::FaultKind::kExtraBytes, sim::FaultKind::kLateReply,    sim::FaultKind::kException,
    sim::FaultKind::kBadEcho,    sim::FaultKind::kWrongAddress, sim::FaultKind::kWrongFunction,
    sim::FaultKind::kBabble,     sim::FaultKind::kNoise,
};

Plan MakePlan(uint64_t seed) {
  std::mt19937_64 random(seed);
  auto pick = [&](int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(random);
  };
  Plan plan;
  plan.kind = kKinds[pick(0, static_cast<int>(std::size(kKinds)) - 1)];
  const std::vector<uint8_t> functions = FunctionsOf(plan.kind);
  const int faults = pick(0, 3);
  for (int i = 0; i < faults; ++i) {
    sim::FaultRule rule;
    rule.kind = kFaultKinds[pick(0, static_cast<int>(std::size(kFaultKinds)) - 1)];
    rule.function = pick(0, 4) == 0 ? 0 : functions[pick(0, static_cast<int>(functions.size()) - 1)];
    // A read's reply changed under a good CRC cannot be told from the relay's own answer: bad
    // echoes go to acknowledgements only, where the echo check is the rule under test.
    if (rule.kind == sim::FaultKind::kBadEcho) rule.function = pick(0, 1) == 0 ? 0x10 : 0x0F;
    rule.count = pick(1, 2);
    rule.skip = pick(0, 6);
    switch (rule.kind) {
      case sim::FaultKind::kShortReply:
        rule.param = pick(1, 4);
        break;
      case sim::FaultKind::kExtraBytes:
        rule.param = pick(1, 6);
        break;
      case sim::FaultKind::kLateReply:
        // Late, but inside the drain that follows the read that gave up on it, even a read
        // that a stray byte ended early: a reply later than any drain cannot be told from the
        // next request's answer (RTU has no transaction numbers), so no master can be held to
        // that.
        rule.param = pick(20, 120);
        break;
      case sim::FaultKind::kException:
        rule.param = pick(1, 4);
        break;
      case sim::FaultKind::kWrongAddress:
        rule.param = pick(2, 9);
        break;
      case sim::FaultKind::kBabble:
        rule.param = pick(20, 1500);
        break;
      case sim::FaultKind::kNoise:
        rule.param = pick(1, 8);
        break;
      default:
        break;
    }
    plan.faults.push_back(rule);
  }
  const int event = pick(0, 19);
  plan.event = event < 12 ? Event::None : event < 17 ? Event::Disconnect : Event::Unplug;
  plan.at = std::chrono::microseconds(
      pick(0, static_cast<int>(std::chrono::microseconds(SpanOf(plan.kind)).count())));
  plan.queuedWrite = plan.kind != Kind::SettingsWrite && pick(0, 3) == 0;
  plan.historySize = pick(1, 2);
  plan.historyFill = pick(0, 70);
  plan.settingsRegister = pick(8, 19);
  plan.settingsValue = static_cast<uint16_t>(pick(1, 9000));
  plan.relayMode = pick(1, 3);
  return plan;
}

std::string Describe(const Plan& plan) {
  std::ostringstream out;
  out << KindName(plan.kind);
  for (const sim::FaultRule& rule : plan.faults) out << "; " << sim::Describe(rule);
  if (plan.event != Event::None) {
    out << "; " << (plan.event == Event::Disconnect ? "disconnect" : "unplug") << " at "
        << plan.at.count() << " us";
  }
  if (plan.queuedWrite) out << "; a settings write queued behind it";
  return out.str();
}

constexpr uint16_t kQueuedValue = 177;  // what the queued write puts into Uu1 (register 8)
constexpr int kQueuedRegister = 8;
constexpr auto kGrace = 200ms;        // the main window's grace before it pauses the worker
constexpr auto kWire = 6ms;           // 64 bytes at 115200 baud: a frame on its way
constexpr int kQueuedCommand = 1;
constexpr int kMarkRegister = 21;  // the relay's own word, changed behind the trial
constexpr uint16_t kMarkValue = 0x5A5A;

// One trial's world: a relay in memory, the link on it, the two requests.
class Trial {
 public:
  explicit Trial(const Plan& plan)
      : plan_(plan), ports_(std::make_shared<sim::VirtualPorts>()), link_(MakeLine()) {}
  ~Trial() {
    link_.ClosePort();
  }

  // Runs the plan; the broken rule, or an empty text.
  std::string Run();

 private:
  std::unique_ptr<SerialLine> MakeLine() {
    auto line = std::make_unique<sim::VirtualLine>(ports_);
    line_ = line.get();
    return line;
  }
  template <size_t N>
  std::array<uint16_t, N> Holding(uint16_t first) const {
    std::array<uint16_t, N> words{};
    for (size_t i = 0; i < N; ++i)
      words[i] = relay_->GetRegister(sim::Table::kHolding, static_cast<uint16_t>(first + i))
                     .value_or(0xDEAD);
    return words;
  }
  std::string Transaction();
  std::string Check(const std::array<uint16_t, 0x40>& before, const std::string& reported);
  std::string NextReadIsRight();

  const Plan plan_;
  std::shared_ptr<sim::VirtualPorts> ports_;
  sim::VirtualLine* line_ = nullptr;
  std::shared_ptr<sim::VirtualRelay> relay_;
  TModbus link_;
  Request job_;     // the transaction, first in the worker's order
  Request queued_;  // the settings write behind it, last in the order
  std::function<void()> run_;
  std::atomic<bool> jobDone_{false};
  std::atomic<bool> queuedStarted_{false};
  std::atomic<bool> queuedDone_{false};
  std::atomic<bool> queuedDropped_{false};  // by the disconnect, before it started
  std::optional<Clock::time_point> closedAt_;  // the connection ended (line time)
  // Request frames that reached the relay, with their moments.
  std::mutex framesMutex_;
  std::vector<std::pair<Clock::time_point, std::vector<uint8_t>>> frames_;

  // What the transaction was asked to do and reported.
  recording::Parameters parameters_;
  recording::Clock clock_;
  recording::Calibration calibration_;
  recording::Live live_;
  recording::History history_;
  recording::Upload upload_;
  recording::Record record_;
  HistoryWalk walk_;
  std::string identText_;
  bool identified_ = false;
  int32_t serial_ = -1;
  Outcome relayOutcome_ = Outcome::Unknown;
  std::string baselineIdent_;
  std::vector<HistoryRecord> ring_;  // the relay's events before, newest first
  std::array<uint16_t, 4> clockBefore_{};
  // Milliseconds of the line's clock since the trial's relay was made (for the trace).
  double Ms(Clock::time_point at) const {
    return std::chrono::duration<double, std::milli>(at - born_).count();
  }
  Clock::time_point born_ = line_ ? line_->Now() : Clock::time_point{};
};

std::string Trial::Transaction() {
  TModbus& link = link_;
  switch (plan_.kind) {
    case Kind::Identification:
      identified_ = link.Identify(identText_);
      return identified_ ? "identified" : "not identified";
    case Kind::SerialNumber:
      serial_ = link.ReadSerialNumber();
      return std::to_string(serial_);
    case Kind::LiveValues:
      ReadLiveValues(link, live_);
      return live_.result;
    case Kind::SettingsRead:
      ReadParameters(link, parameters_);
      return parameters_.result;
    case Kind::SettingsWrite:
      WriteParameters(link, parameters_);
      return parameters_.result;
    case Kind::ClockRead:
      ReadClock(link, clock_);
      return clock_.result;
    case Kind::ClockWrite:
      WriteClock(link, clock_);
      return clock_.result;
    case Kind::CalibrationRead:
      ReadCalibration(link, calibration_);
      return calibration_.result;
    case Kind::CalibrationWrite:
      WriteCalibration(link, calibration_);
      return calibration_.result;
    case Kind::ClearHistory:
      nx480::ClearHistory(link, calibration_);
      return calibration_.result;
    case Kind::RelayMode: {
      Request command;
      command.Set(plan_.relayMode);
      relayOutcome_ = WriteRelay(link, command);
      return recording::OutcomeName(relayOutcome_);
    }
    case Kind::HistoryWalk:
      walk_ = ReadHistory(link, history_);
      return recording::EndName(walk_.end);
    case Kind::Upload:
      UploadFirmware(link, upload_);
      return upload_.result;
    case Kind::Record:
      ReadRecord(link, record_);
      return record_.result;
  }
  return "?";
}

std::string Trial::Run() {
  sim::RelayConfig config;
  config.clock = sim::DateTime{2026, 12, 9, 10, 20, 30, 450};
  config.clock_running = false;
  config.history_size_code = plan_.historySize;
  config.history_fill = plan_.historyFill;
  config.restart_time = 100ms;
  sim::VirtualOptions options;
  const bool traced = std::getenv("NX480_EXPLORE_TRACE") != nullptr;
  options.trace = [this, traced](bool incoming, std::span<const uint8_t> bytes,
                                 Clock::time_point at) {
    if (traced) {
      std::fprintf(stderr, "%10.3f ms relay %s", Ms(at), incoming ? "takes  " : "replies");
      for (uint8_t b : bytes) std::fprintf(stderr, " %02X", b);
      std::fprintf(stderr, "\n");
    }
    if (!incoming) return;
    std::lock_guard lock(framesMutex_);
    frames_.emplace_back(at, std::vector<uint8_t>(bytes.begin(), bytes.end()));
  };
  relay_ = ports_->Add("relay", config, options);
  for (uint16_t k = 0; k < 16; ++k)
    relay_->SetRegister(sim::Table::kInputs, k, static_cast<uint16_t>(0x1100 + k));
  if (!link_.OpenPort("relay", TestLine(), 50)) return "the port did not open";
  if (traced) {
    link_.SetTraceHook([this](const FrameEvent& e) {
      const char* way = e.direction == FrameDirection::Sent       ? "sends  "
                        : e.direction == FrameDirection::Received ? "reads  "
                                                                  : "drains ";
      std::fprintf(stderr, "%10.3f ms tool  %s %s (%s) %s", Ms(line_->Now()), way, e.frame,
                   e.transaction, LinkErrorText(e.verdict));
      for (uint8_t b : e.bytes) std::fprintf(stderr, " %02X", b);
      std::fprintf(stderr, "\n");
    });
  }
  if (!link_.Identify(baselineIdent_)) return "the relay did not identify itself before the trial";
  RelaySession session;
  TakeIdentification(baselineIdent_, session);
  link_.SetSession(session);
  for (const sim::EventRecord& event :
       relay_->WithModel([](sim::RelayModel& m) { return m.Events(); }))
    ring_.push_back(event.Registers());

  const auto before = Holding<0x40>(0);
  clockBefore_ = Holding<4>(0x40);
  parameters_.toWrite = Holding<kSettingsWords>(0);
  parameters_.toWrite[static_cast<size_t>(plan_.settingsRegister)] = plan_.settingsValue;
  calibration_.toWrite = Holding<kCalibrationWords>(0x18);
  calibration_.toWrite[0] = static_cast<uint16_t>(990 + plan_.settingsValue % 20);
  upload_.image = sim::WriteImage({.version = "1.16", .blocks = 1});

  std::string reported;
  link_.Bind({.slot = kLiveRequest, .request = &job_, .transaction = [&](TModbus&) {
                reported = Transaction();
                jobDone_ = true;
              }});
  link_.Bind({.slot = kRelayCommand, .request = &queued_, .transaction = [&](TModbus& link) {
                queuedStarted_ = true;
                recording::Parameters write;
                SettingsWords words{};
                if (ReadSettingsWords(link, words) == kSettingsWords) {
                  write.toWrite = words;
                  write.toWrite[kQueuedRegister] = kQueuedValue;
                  WriteParameters(link, write);
                }
                queuedDone_ = true;
              }});
  for (const sim::FaultRule& rule : plan_.faults) relay_->AddFault(rule);

  const Clock::time_point start = line_->Now();
  if (plan_.event == Event::Disconnect) {
    // As the main window: the requests dropped at once, the worker paused after the grace, the
    // port closed once it has parked (below).
    line_->At(start + plan_.at, [this] {
      if (!queuedStarted_) queuedDropped_ = true;
      queued_.Clear();
      line_->At(line_->Now() + kGrace, [this] { (void)link_.Suspend(); });
    });
  } else if (plan_.event == Event::Unplug) {
    relay_->Unplug(start + plan_.at);
  }
  job_.Set(1);
  if (plan_.queuedWrite) queued_.Set(kQueuedCommand);
  link_.Resume();
  // The worker's own sequence is the line's; this thread only waits for its end.
  const auto limit = Clock::now() + 60s;
  for (int spins = 0;; ++spins) {
    const bool queuedOver = !plan_.queuedWrite || queuedDone_ || queuedDropped_;
    if ((jobDone_ && queuedOver && !job_.Pending() && !queued_.Pending()) || link_.IsParked())
      break;
    if (Clock::now() > limit) return "the worker did not end the trial within 60 s";
    if (spins < 2000) {
      std::this_thread::yield();
    } else {
      std::this_thread::sleep_for(1ms);
    }
  }
  (void)link_.Suspend();
  if (!jobDone_) return "the transaction did not end";
  if (plan_.event == Event::Disconnect) {
    link_.ClosePort();
    closedAt_ = line_->Now();
  }
  line_->CancelActions();
  return Check(before, reported);
}

std::string Trial::Check(const std::array<uint16_t, 0x40>& before, const std::string& reported) {
  std::ostringstream broken;
  const auto settings = Holding<kSettingsWords>(0);
  const auto calibration = Holding<kCalibrationWords>(0x18);
  const auto after = Holding<0x40>(0);
  // Which registers the transaction may change, and to what.
  auto allowed = [&](size_t reg) {
    if (plan_.kind == Kind::SettingsWrite && reg < kSettingsWords)
      return after[reg] == before[reg] || after[reg] == parameters_.toWrite[reg];
    if (plan_.kind == Kind::CalibrationWrite && reg >= 0x18 && reg < 0x20)
      return after[reg] == before[reg] || after[reg] == calibration_.toWrite[reg - 0x18];
    if (plan_.queuedWrite && reg == kQueuedRegister && !queuedDropped_)
      return after[reg] == before[reg] || after[reg] == kQueuedValue;
    return after[reg] == before[reg];
  };
  for (size_t reg = 0; reg < after.size(); ++reg) {
    if (!allowed(reg)) {
      broken << "register " << reg << " changed from " << before[reg] << " to " << after[reg]
             << ", which nobody asked for; ";
    }
  }
  const uint64_t clears = relay_->WithModel([](sim::RelayModel& m) { return m.HistoryClears(); });
  const sim::RelayMode mode = relay_->WithModel([](sim::RelayModel& m) { return m.Mode(); });
  const bool uploading = relay_->WithModel(
      [](sim::RelayModel& m) { return m.Upload().Mode() == sim::UploadMode::kReceiving; });
  if (plan_.kind != Kind::ClearHistory && clears != 0) broken << "the history was cleared; ";
  if (plan_.kind != Kind::RelayMode && mode != sim::RelayMode::kAuto)
    broken << "the relay mode changed; ";
  if (plan_.kind != Kind::Upload && uploading) broken << "the relay went into upload mode; ";

  // The relay's clock as its registers hold it.
  const auto clockRegisters = Holding<4>(0x40);
  std::array<uint8_t, 8> clockBytes{};
  for (size_t i = 0; i < 4; ++i) {
    clockBytes[2 * i] = static_cast<uint8_t>(clockRegisters[i] >> 8);
    clockBytes[2 * i + 1] = static_cast<uint8_t>(clockRegisters[i] & 0xFF);
  }
  const double relayTime = DecodeRelayClock(clockBytes);

  // The report is true.
  switch (plan_.kind) {
    case Kind::Identification:
      if (identified_ && identText_ != baselineIdent_)
        broken << "identified as \"" << identText_ << "\", the relay is \"" << baselineIdent_
               << "\"; ";
      break;
    case Kind::SerialNumber:
      if (serial_ >= 0 && serial_ != 1234) broken << "serial number " << serial_ << " read; ";
      break;
    case Kind::LiveValues:
      if (live_.result.ends_with("shown")) {
        for (size_t k = 0; k < live_.registers.size(); ++k) {
          if (live_.registers[k] != 0x1100 + k) {
            broken << "live register " << k << " shown as " << live_.registers[k] << "; ";
            break;
          }
        }
      }
      break;
    case Kind::SettingsRead:
      if (parameters_.last == Outcome::Ok &&
          !std::equal(parameters_.record.begin(), parameters_.record.end(), before.begin()))
        broken << "the settings read are not the relay's; ";
      break;
    case Kind::SettingsWrite:
      if (parameters_.last == Outcome::Ok && settings != parameters_.toWrite)
        broken << "a write said done, the relay holds other settings; ";
      if (parameters_.last == Outcome::CommunicationError &&
          !std::equal(settings.begin(), settings.end(), before.begin()))
        broken << "a write said failed, the relay holds some of it; ";
      if (parameters_.last == Outcome::Differs && parameters_.record != settings)
        broken << "a write said held otherwise, and named what the relay does not hold; ";
      break;
    case Kind::ClockRead:
    case Kind::ClockWrite: {
      if (clock_.last == Outcome::Ok && !clock_.shown.empty() &&
          std::abs(clock_.shown.back() - relayTime) * 86400.0 > 0.015) {
        broken << "the clock shown is not the relay's; ";
      }
      if (plan_.kind == Kind::ClockRead && clockRegisters != clockBefore_)
        broken << "a clock read changed the clock; ";
      if (plan_.kind == Kind::ClockWrite && clock_.last == Outcome::CommunicationError &&
          clockRegisters != clockBefore_)
        broken << "a clock set said failed, the relay's clock was set; ";
      break;
    }
    case Kind::CalibrationRead:
      if (calibration_.last == Outcome::Ok &&
          !std::equal(calibration_.record.begin(), calibration_.record.end(), before.begin() + 0x18))
        broken << "the calibration read is not the relay's; ";
      break;
    case Kind::CalibrationWrite:
      if (calibration_.last == Outcome::Ok && calibration != calibration_.toWrite)
        broken << "a calibration write said done, the relay holds another; ";
      if (calibration_.last == Outcome::CommunicationError &&
          !std::equal(calibration.begin(), calibration.end(), before.begin() + 0x18))
        broken << "a calibration write said failed, the relay holds it; ";
      break;
    case Kind::ClearHistory:
      if (calibration_.last == Outcome::Ok && clears != 1)
        broken << "a clearing said done, the relay did not clear; ";
      if (calibration_.last == Outcome::Refused && clears != 0)
        broken << "a clearing said refused, the relay cleared; ";
      if (calibration_.last == Outcome::CommunicationError && clears != 0)
        broken << "a clearing said failed, the relay cleared; ";
      break;
    case Kind::RelayMode: {
      const sim::RelayMode asked = plan_.relayMode == 2   ? sim::RelayMode::kOn
                                   : plan_.relayMode == 3 ? sim::RelayMode::kOff
                                                          : sim::RelayMode::kAuto;
      if (relayOutcome_ == Outcome::Ok && mode != asked)
        broken << "a relay mode said done, the relay is " << sim::RelayModeName(mode) << "; ";
      if (relayOutcome_ == Outcome::CommunicationError && mode != sim::RelayMode::kAuto)
        broken << "a relay mode said failed, the relay is " << sim::RelayModeName(mode) << "; ";
      break;
    }
    case Kind::HistoryWalk:
      if (walk_.end == HistoryEnd::AllRead || walk_.end == HistoryEnd::EmptySlot) {
        const size_t n = history_.records.size();
        if (n != ring_.size() || !std::equal(history_.records.begin(), history_.records.end(),
                                             ring_.begin()))
          broken << "the walk handed over " << n << " records that are not the relay's "
                 << ring_.size() << "; ";
      }
      break;
    case Kind::Record:
      if (record_.end.outcome == Outcome::Ok) {
        const size_t n = std::min<size_t>(ring_.size(), kRecordEvents);
        if (!record_.settings ||
            !std::equal(record_.settings->begin(), record_.settings->end(), before.begin()))
          broken << "the record's settings are not the relay's; ";
        if (record_.events.size() != n ||
            !std::equal(record_.events.begin(), record_.events.end(), ring_.begin()))
          broken << "the record's " << record_.events.size() << " events are not the relay's "
                 << n << " newest; ";
        if (!record_.clock || std::abs(*record_.clock - relayTime) * 86400.0 > 0.015)
          broken << "the record's clock is not the relay's; ";
      }
      break;
    case Kind::Upload: {
      if (uploading && upload_.result != "failed")
        broken << "the relay is left in upload mode, the window was told \"" << upload_.result
               << "\"; ";
      if (upload_.restarted && !upload_.restarted->identText.ends_with("1.16"))
        broken << "the upload named a restarted relay of \"" << upload_.restarted->identText
               << "\", the image is 1.16; ";
      break;
    }
  }

  // Nothing reached the relay once the connection ended, and a dropped write never went out.
  {
    std::lock_guard lock(framesMutex_);
    for (const auto& [at, frame] : frames_) {
      if (closedAt_ && at > *closedAt_ + kWire) broken << "a frame reached the relay after the disconnect; ";
    }
  }
  if (plan_.queuedWrite && queuedDropped_ && after[kQueuedRegister] == kQueuedValue)
    broken << "the write dropped by the disconnect reached the relay; ";

  const std::string next = NextReadIsRight();
  if (!next.empty()) broken << next;
  std::string text = broken.str();
  if (!text.empty()) text = "reported \"" + reported + "\": " + text;
  return text;
}

std::string Trial::NextReadIsRight() {
  relay_->ClearFaults();
  // An adapter pulled out stays gone: the next read is another connection's.
  if (plan_.event == Event::Unplug) return "";
  // After a disconnect, a new connection to the same relay, as a person makes it: not within
  // the moment a reply cut off by the disconnect may still come (the open empties the input).
  if (plan_.event == Event::Disconnect) {
    line_->Idle(1s);
    if (!link_.OpenPort("relay", TestLine(), 50)) return "the port did not open again; ";
  }
  // A stale answer still on the line carries the old value.
  relay_->SetRegister(sim::Table::kHolding, kMarkRegister, kMarkValue);
  // Babble keeps the line busy for as long as it was planned, each reply it followed after the
  // other.
  std::chrono::milliseconds babble{0};
  for (const sim::FaultRule& rule : plan_.faults) {
    if (rule.kind == sim::FaultKind::kBabble) babble += std::chrono::milliseconds(rule.param * rule.count);
  }
  const Clock::time_point end = line_->Now() + babble + 3s;
  while (line_->Now() < end) {
    recording::Parameters next;
    ReadParameters(link_, next);
    if (next.last == Outcome::Ok) {
      if (next.record != Holding<kSettingsWords>(0))
        return "the next read took an answer that is not the relay's; ";
      return "";
    }
  }
  return "no read had the relay's answer within 3 s after the faults' bytes; ";
}

}  // namespace

std::string Describe(uint64_t seed) {
  return Describe(MakePlan(seed));
}

Result Explore(uint64_t seed, uint64_t trials, std::ostream* log) {
  Result result;
  for (uint64_t i = 0; i < trials; ++i) {
    const uint64_t trialSeed = seed + i;
    const Plan plan = MakePlan(trialSeed);
    std::string broken;
    {
      Trial trial(plan);
      broken = trial.Run();
    }
    ++result.trials;
    if (!broken.empty()) {
      result.failure = Failure{trialSeed, Describe(plan) + ": " + broken};
      if (log) {
        *log << "explorer: trial " << trialSeed << " (" << Describe(plan) << ") broke a rule: "
             << broken << "\n  repeat it: explore --seed " << trialSeed << " --trials 1\n";
      }
      break;
    }
  }
  return result;
}

}  // namespace explorer
