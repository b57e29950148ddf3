#include "relay_model.h"

#include <algorithm>

#include "crc.h"

namespace nx480::sim {
namespace {

constexpr std::size_t kNameField = 16;
constexpr std::uint16_t kMaxReadRegisters = 125;
constexpr std::uint16_t kMaxReadCoils = 2000;
constexpr std::uint16_t kMaxWriteRegisters = 123;
constexpr std::uint16_t kMaxWriteCoils = 1968;

std::uint16_t Be16(std::span<const std::uint8_t> data, std::size_t at) {
  return static_cast<std::uint16_t>((data[at] << 8) | data[at + 1]);
}

void PutBe16(std::vector<std::uint8_t>& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value >> 8));
  out.push_back(static_cast<std::uint8_t>(value & 0xFFU));
}

// Another function code the relay serves, of a reply that looks alike where possible.
std::uint8_t OtherFunction(std::uint8_t function) {
  switch (function) {
    case kReadHolding:
      return kReadInputs;
    case kReadInputs:
      return kReadHolding;
    case kWriteCoils:
      return kWriteRegisters;
    case kWriteRegisters:
      return kWriteCoils;
    case kReadCoils:
      return kReadInputs;
    default:
      return kReadHolding;
  }
}

// Changes a well-formed reply (address .. CRC) in place and gives it a good CRC again.
void Reshape(std::vector<std::uint8_t>& reply, FaultKind kind, int param) {
  reply.resize(reply.size() - 2);
  const bool exception = (reply[1] & 0x80U) != 0;
  switch (kind) {
    case FaultKind::kBadEcho:
      if (exception) break;
      if (reply[1] == kWriteCoils || reply[1] == kWriteRegisters) {
        const auto quantity = static_cast<std::uint16_t>(Be16(reply, 4) + 1);
        reply[4] = static_cast<std::uint8_t>(quantity >> 8);
        reply[5] = static_cast<std::uint8_t>(quantity & 0xFFU);
      } else if (reply.size() > 3) {
        const std::size_t at =
            3 + std::min<std::size_t>(static_cast<std::size_t>(param), reply.size() - 4);
        reply[at] ^= 0x01U;
      }
      break;
    case FaultKind::kWrongAddress:
      reply[0] = static_cast<std::uint8_t>(param);
      break;
    case FaultKind::kWrongFunction:
      reply[1] = static_cast<std::uint8_t>(OtherFunction(reply[1] & 0x7FU) | (reply[1] & 0x80U));
      break;
    default:
      break;
  }
  AppendCrc(reply);
}

}  // namespace

// Register by register: 0-3 delay pairs (low byte, high byte), 7 the mode in the high byte,
// voltages in volts, frequencies in 0.1 Hz, tRel and tUo1 in steps, Log in seconds. Registers 4-6
// and 20-23 are the relay's own; the service tool carries them back unchanged.
const std::uint16_t kDefaultSettings[kSettingsCount] = {
    0x041E,  // 0   tUu1 1.5 s (30 steps), tUu2 0.2 s (4)
    0x0204,  // 1   tUo2 0.2 s (4), tUo3 0.1 s (2)
    0x020A,  // 2   tFu1 0.5 s (10), tFu2 0.1 s (2)
    0x020A,  // 3   tFo1 0.5 s (10), tFo2 0.1 s (2)
    0x0031,  // 4   (relay's own)
    0x0102,  // 5   (relay's own)
    0x8001,  // 6   (relay's own)
    0x0100,  // 7   Faze: three-phase
    196,     // 8   Uu1  0.85 Un
    184,     // 9   Uu2  0.80 Un
    253,     // 10  Uo2  1.10 Un
    264,     // 11  Uo3  1.15 Un
    475,     // 12  Fu1  47.5 Hz
    470,     // 13  Fu2  47.0 Hz
    515,     // 14  Fo1  51.5 Hz
    600,     // 15  tRel 30 s
    253,     // 16  Uo1  1.10 Un (10-minute mean)
    60,      // 17  tUo1 3 s
    60,      // 18  Log  1 min
    520,     // 19  Fo2  52.0 Hz
    0x0005,  // 20  (relay's own)
    0x00C8,  // 21  (relay's own)
    0x1000,  // 22  (relay's own)
    0xFFFE,  // 23  (relay's own)
};

namespace {

// Delay steps per second: 10 before firmware x.05, 20 from it on.
int SettingsTimeScale(const std::string& version) {
  return FirmwareMinorOfVersion(version) < 5 ? 10 : 20;
}

}  // namespace

int FirmwareMinorOfVersion(std::string_view version) {
  // The last two characters, or the two before a ".x" suffix.
  long i = static_cast<long>(version.size()) - 2;
  if (i >= 0 && version[static_cast<std::size_t>(i)] == '.') i -= 2;
  if (i < 0) return 0;
  const auto at = static_cast<std::size_t>(i);
  return 10 * (version[at] - '0') + (version[at + 1] - '0');
}

std::array<std::uint16_t, kSettingsCount> DefaultSettings(const std::string& version) {
  std::array<std::uint16_t, kSettingsCount> settings{};
  std::copy(std::begin(kDefaultSettings), std::end(kDefaultSettings), settings.begin());
  if (SettingsTimeScale(version) == 10) {
    // The same times in steps of 1/10 s (every default delay is an even number of 1/20 s).
    for (int w = 0; w < 4; ++w) {
      const unsigned low = (settings[w] & 0xFFU) / 2;
      const unsigned high = (settings[w] >> 8) / 2;
      settings[w] = static_cast<std::uint16_t>(high << 8 | low);
    }
    settings[15] = static_cast<std::uint16_t>(settings[15] / 2);
    settings[17] = static_cast<std::uint16_t>(settings[17] / 2);
  }
  return settings;
}

const char* RelayModeName(RelayMode mode) {
  switch (mode) {
    case RelayMode::kAuto:
      return "auto";
    case RelayMode::kOn:
      return "on";
    case RelayMode::kOff:
      return "off";
  }
  return "?";
}

std::string RelayConfig::EffectiveName() const {
  if (!name.empty()) return name;
  return temperature ? "NX480 T" : "NX480";
}

RelayModel::RelayModel(RelayConfig config, TimeSource time)
    : config_(std::move(config)), time_(std::move(time)), clock_(Now()) {
  if (config_.ident_length != 29) config_.ident_length = 30;
  now_ = Now();

  bank_.holding.Define(0, kHoldingCount, 0);
  const std::array<std::uint16_t, kSettingsCount> settings = DefaultSettings(config_.version);
  for (std::uint16_t i = 0; i < kSettingsCount; ++i) {
    bank_.holding.Set(static_cast<std::uint16_t>(kSettingsFirst + i), settings[i]);
  }
  bank_.holding.Set(kRegKalU1, 1000);
  bank_.holding.Set(kRegKalU2, 1000);
  bank_.holding.Set(kRegKalU3, 1000);
  bank_.holding.Set(kRegKalF, 10000);
  bank_.holding.Set(kRegCalibration4, 0x00C8);
  bank_.holding.Set(kRegCalibration7, 0x0101);
  SetSerial(config_.serial);
  bank_.inputs.Define(0, kInputCount, 0);
  bank_.coils.Define(0, kCoilCount, 0);
  if (config_.clock || !config_.clock_running) {
    clock_.Set(config_.clock.value_or(clock_.At(now_)), config_.clock_running, now_);
  }
  if (!MakeHistory(config_.history_size_code, config_.history_fill)) MakeHistory(4, 0);
  Refresh(now_);

  // Every coil write: only the mode coils 0-1 can be written.
  AddWriteHandler(Table::kCoils, 0, 0x10000,
                  [](RelayModel& m, Table, std::uint16_t first,
                     std::span<const std::uint16_t> values) { return m.WriteMode(first, values); });
  AddWriteHandler(
      Table::kHolding, kRegClockFirst, kClockCount,
      [](RelayModel& m, Table, std::uint16_t first, std::span<const std::uint16_t> values) {
        return m.WriteClock(first, values);
      });

  AddWriteHandler(Table::kHolding, kRegClearHistory, 1,
                  [](RelayModel& m, Table, std::uint16_t, std::span<const std::uint16_t> values) {
                    if (values[0] != kClearHistoryCode) return kIllegalDataValue;
                    m.ClearHistory();
                    ++m.history_clears_;
                    m.work_time_ = m.config_.history_clear_time;
                    return std::uint8_t{0};
                  });

  bank_.holding.Define(kRegUpload, 1, kUploadReady);
  AddWriteHandler(Table::kHolding, kRegUpload, 1,
                  [](RelayModel& m, Table, std::uint16_t, std::span<const std::uint16_t> values) {
                    return m.WriteUploadCommand(values[0]);
                  });

  // The ring's registers are the relay's to write.
  const WriteHandler read_only = [](RelayModel&, Table, std::uint16_t,
                                    std::span<const std::uint16_t>) { return kIllegalDataAddress; };
  AddWriteHandler(Table::kHolding, kRegHistoryNext, 2, read_only);
  AddWriteHandler(
      Table::kHolding, kHistoryFirstRecord,
      static_cast<std::uint32_t>(SlotsOfSizeCode(kHistoryMaxSizeCode)) * kHistoryRecordWords,
      read_only);

  handlers_[kReadCoils] = [](RelayModel& m, const Request& r) {
    return m.HandleRead(Table::kCoils, r);
  };
  handlers_[kReadHolding] = [](RelayModel& m, const Request& r) {
    return m.HandleRead(Table::kHolding, r);
  };
  handlers_[kReadInputs] = [](RelayModel& m, const Request& r) {
    return m.HandleRead(Table::kInputs, r);
  };
  handlers_[kWriteCoils] = [](RelayModel& m, const Request& r) { return m.HandleWriteCoils(r); };
  handlers_[kWriteRegisters] = [](RelayModel& m, const Request& r) {
    return m.HandleWriteRegisters(r);
  };
  handlers_[kReportSlaveId] = [](RelayModel& m, const Request& r) {
    return m.HandleReportSlaveId(r);
  };
}

void RelayModel::SetSerial(std::uint32_t serial) {
  config_.serial = serial;
  bank_.holding.Set(kRegSerialLow, static_cast<std::uint16_t>(serial & 0xFFFFU));
  bank_.holding.Set(kRegSerialHigh, static_cast<std::uint16_t>(serial >> 16));
}

std::uint32_t RelayModel::Serial() const {
  return static_cast<std::uint32_t>(bank_.holding.Get(kRegSerialHigh)) << 16 |
         bank_.holding.Get(kRegSerialLow);
}

void RelayModel::SetFunctionHandler(std::uint8_t function, FunctionHandler handler) {
  if (handler) {
    handlers_[function] = std::move(handler);
  } else {
    handlers_.erase(function);
  }
}

void RelayModel::AddWriteHandler(Table table, std::uint16_t first, std::uint32_t count,
                                 WriteHandler handler) {
  count = std::min<std::uint32_t>(count, 0x10000U - first);
  write_ranges_.push_back(WriteRange{table, first, count, std::move(handler)});
}

void RelayModel::Refresh(Steady::time_point now) {
  now_ = now;
  if (const auto restarted = upload_.FinishRestart(now)) {
    // The new firmware runs: it identifies with what the image carries.
    if (const std::string name = upload_.ImageName(); !name.empty()) config_.name = name;
    if (const std::string version = upload_.ImageVersion(); !version.empty())
      config_.version = version;
    if (config_.reset_on_upload) {
      const std::array<std::uint16_t, kSettingsCount> settings = DefaultSettings(config_.version);
      for (std::uint16_t i = 0; i < kSettingsCount; ++i)
        bank_.holding.Set(static_cast<std::uint16_t>(kSettingsFirst + i), settings[i]);
    }
    AddEvent(EventCode::kStart, *restarted);
  }
  if (event_source_) {
    for (const StageEvent& event : event_source_(now)) {
      history_.Add(bank_.holding, EventRecord{clock_.At(event.at), event.code, event.values});
    }
  }
  const std::array<std::uint16_t, kClockCount> clock = ClockRegisters(clock_.At(now));
  for (std::uint16_t i = 0; i < kClockCount; ++i) {
    bank_.holding.Set(static_cast<std::uint16_t>(kRegClockFirst + i), clock[i]);
  }
}

void RelayModel::SetClock(const DateTime& time, bool running, Steady::time_point now) {
  Refresh(now);  // events that happened before go in with the old time
  clock_.Set(time, running, now);
  Refresh(now);
}

std::vector<EventRecord> RelayModel::Events() {
  Refresh();
  return history_.Newest(bank_.holding);
}

bool RelayModel::MakeHistory(int size_code, int fill) {
  if (size_code < 1 || size_code > kHistoryMaxSizeCode || fill < 0 || fill > 0xFFFF) return false;
  history_.Configure(bank_.holding, size_code);
  for (const EventRecord& record : SampleEvents(fill, clock_.At(Now()))) {
    history_.Add(bank_.holding, record);
  }
  return true;
}

void RelayModel::AddEvent(EventCode code, Steady::time_point now) {
  history_.Add(bank_.holding,
               EventRecord{clock_.At(now), code, measurements_ ? measurements_() : EventValues{}});
}

std::uint8_t RelayModel::WriteClock(std::uint16_t first, std::span<const std::uint16_t> values) {
  // Registers left out of the write keep what the clock shows now.
  std::array<std::uint16_t, kClockCount> registers = ClockRegisters(clock_.At(now_));
  for (std::size_t i = 0; i < values.size(); ++i) registers[first - kRegClockFirst + i] = values[i];
  const std::optional<DateTime> time = FromClockRegisters(registers);
  if (!time) return kIllegalDataValue;
  AddEvent(EventCode::kClockBefore, now_);
  SetClock(*time, clock_.Running(), now_);
  AddEvent(EventCode::kClockSet, now_);
  return 0;
}

std::uint8_t RelayModel::WriteUploadCommand(std::uint16_t value) {
  switch (value) {
    case kUploadStart:
      upload_.Start();
      return 0;
    case kUploadCancel:
      upload_.Cancel();
      return 0;
    case kUploadRun:
      if (!upload_.Run(now_, config_.restart_time)) return kIllegalDataValue;
      AddEvent(EventCode::kStop, now_);
      return 0;
    default:
      return kIllegalDataValue;
  }
}

std::uint8_t RelayModel::WriteMode(std::uint16_t first, std::span<const std::uint16_t> values) {
  if (first != 0 || values.size() != 2) return kIllegalDataAddress;
  if (values[0] != 0 && values[1] != 0) return kIllegalDataValue;  // on and off at once
  mode_ = values[0] != 0 ? RelayMode::kOn : values[1] != 0 ? RelayMode::kOff : RelayMode::kAuto;
  ++mode_commands_;
  return 0;
}

std::optional<Reply> RelayModel::Handle(std::span<const std::uint8_t> frame,
                                        Steady::time_point now) {
  if (frame.size() < 4 || !CrcOk(frame)) {
    ++counters_.bad_frames;
    return std::nullopt;
  }
  if (frame[0] != config_.address) {
    ++counters_.other_address;
    return std::nullopt;
  }
  Refresh(now);
  if (upload_.Silent(now)) {
    ++counters_.ignored;
    return std::nullopt;
  }
  ++counters_.requests;
  work_time_ = std::chrono::milliseconds(0);
  const Request request{frame[0], frame[1], frame.subspan(2, frame.size() - 4)};

  const std::optional<FaultRule> fault = faults_.Match(request.function);
  if (fault) ++counters_.faults;
  if (fault && fault->kind == FaultKind::kSilence) return std::nullopt;

  Response response;
  if (fault && fault->kind == FaultKind::kException) {
    response = Response::Exception(static_cast<std::uint8_t>(fault->EffectiveParam()));
  } else if (auto it = handlers_.find(request.function); it != handlers_.end()) {
    // Copy: a handler may replace itself through SetFunctionHandler().
    const FunctionHandler handler = it->second;
    response = handler(*this, request);
  } else {
    response = Response::Exception(kIllegalFunction);
  }

  if (lose_reply_ || upload_.Silent(now)) {
    lose_reply_ = false;  // carried out, but the reply is lost (or the relay has gone quiet)
    return std::nullopt;
  }
  Reply reply;
  reply.bytes = BuildFrame(request.function, response);
  reply.delay = work_time_;
  if (!fault) return reply;

  reply.fault = fault->kind;
  const int param = fault->EffectiveParam();
  switch (fault->kind) {
    case FaultKind::kBadCrc:
      reply.bytes.back() ^= 0x01;
      break;
    case FaultKind::kShortReply: {
      const std::size_t drop =
          std::min<std::size_t>(static_cast<std::size_t>(param), reply.bytes.size() - 1);
      reply.bytes.resize(reply.bytes.size() - drop);
      break;
    }
    case FaultKind::kExtraBytes:
      for (int i = 0; i < param; ++i)
        reply.bytes.push_back(static_cast<std::uint8_t>(i % 2 ? 0x5A : 0xA5));
      break;
    case FaultKind::kLateReply:
      reply.delay += std::chrono::milliseconds(param);
      break;
    case FaultKind::kBadEcho:
    case FaultKind::kWrongAddress:
    case FaultKind::kWrongFunction:
      Reshape(reply.bytes, fault->kind, param);
      break;
    case FaultKind::kBabble:
      reply.babble = std::chrono::milliseconds(param);
      break;
    case FaultKind::kNoise: {
      std::vector<std::uint8_t> noisy(static_cast<std::size_t>(param));
      for (auto& b : noisy) b = static_cast<std::uint8_t>(noise_random_());
      noisy.insert(noisy.end(), reply.bytes.begin(), reply.bytes.end());
      reply.bytes = std::move(noisy);
      break;
    }
    case FaultKind::kSilence:
    case FaultKind::kException:
      break;
  }
  return reply;
}

std::vector<std::uint8_t> RelayModel::BuildFrame(std::uint8_t function, const Response& response) {
  std::vector<std::uint8_t> out;
  out.reserve(response.body.size() + 4);
  out.push_back(config_.address);
  if (response.exception != 0) {
    ++counters_.exceptions;
    out.push_back(static_cast<std::uint8_t>(function | 0x80U));
    out.push_back(response.exception);
  } else {
    out.push_back(function);
    out.insert(out.end(), response.body.begin(), response.body.end());
  }
  AppendCrc(out);
  return out;
}

std::vector<std::uint8_t> RelayModel::IdentificationData() const {
  const std::size_t length = static_cast<std::size_t>(config_.ident_length) - 5;
  std::vector<std::uint8_t> data(length, 0);
  const std::string name = config_.EffectiveName();
  std::copy_n(name.begin(), std::min(name.size(), kNameField), data.begin());
  const std::size_t room = length - kNameField;
  std::copy_n(config_.version.begin(), std::min(config_.version.size(), room),
              data.begin() + kNameField);
  return data;
}

Response RelayModel::Read(Table table, std::uint16_t first, std::uint16_t count) {
  const std::uint16_t limit = table == Table::kCoils ? kMaxReadCoils : kMaxReadRegisters;
  if (count == 0 || count > limit) return Response::Exception(kIllegalDataValue);
  const RegisterTable& t = bank_.Of(table);
  if (!t.AllDefined(first, count)) return Response::Exception(kIllegalDataAddress);
  if (table == Table::kHolding && first <= kRegUpload && first + count > kRegUpload) {
    bank_.holding.Set(kRegUpload, upload_.Status());
  }
  if (before_read_) before_read_(table, first, count, bank_);

  std::vector<std::uint8_t> body;
  if (table == Table::kCoils) {
    const std::size_t bytes = (count + 7U) / 8U;
    body.assign(bytes + 1, 0);
    body[0] = static_cast<std::uint8_t>(bytes);
    for (std::uint32_t i = 0; i < count; ++i) {
      if (t.Get(static_cast<std::uint16_t>(first + i)) != 0) {
        body[1 + i / 8] = static_cast<std::uint8_t>(body[1 + i / 8] | (1U << (i % 8)));
      }
    }
  } else {
    body.reserve(1 + 2U * count);
    body.push_back(static_cast<std::uint8_t>(2U * count));
    for (std::uint32_t i = 0; i < count; ++i)
      PutBe16(body, t.Get(static_cast<std::uint16_t>(first + i)));
  }
  return Response::Data(std::move(body));
}

std::uint8_t RelayModel::Write(Table table, std::uint16_t first,
                               std::span<const std::uint16_t> values) {
  const std::uint32_t begin = first;
  const std::uint32_t end = begin + static_cast<std::uint32_t>(values.size());
  if (values.empty() || end > 0x10000U) return kIllegalDataAddress;
  if (table == Table::kHolding && upload_.Mode() == UploadMode::kReceiving && first != kRegUpload) {
    switch (upload_.Data(first, values)) {
      case FirmwareUpload::Verdict::kAccepted:
        return 0;
      case FirmwareUpload::Verdict::kLoseReply:
        lose_reply_ = true;
        return 0;
      case FirmwareUpload::Verdict::kRefused:
        return kDeviceFailure;
      case FirmwareUpload::Verdict::kBadFrame:
        return kIllegalDataValue;
    }
  }
  for (const WriteRange& range : write_ranges_) {
    if (range.table != table) continue;
    const std::uint32_t range_end = range.first + range.count;
    if (end <= range.first || begin >= range_end) continue;
    if (begin < range.first || end > range_end) return kIllegalDataAddress;
    const WriteHandler handler = range.handler;  // may add ranges while running
    return handler(*this, table, first, values);
  }
  RegisterTable& t = bank_.Of(table);
  if (!t.AllDefined(first, static_cast<std::uint32_t>(values.size()))) return kIllegalDataAddress;
  for (std::size_t i = 0; i < values.size(); ++i) {
    std::uint16_t v = values[i];
    if (table == Table::kCoils) v = v != 0 ? 1 : 0;
    const auto address = static_cast<std::uint32_t>(first + i);
    if (table == Table::kHolding && address <= kLastClampedWord)
      v = ClampSetting(config_.clamps, static_cast<std::uint16_t>(address), v);
    t.Set(static_cast<std::uint16_t>(first + i), v);
  }
  if (table == Table::kHolding) {
    auto overlaps = [&](std::uint32_t from, std::uint32_t count) {
      return begin < from + count && end > from;
    };
    if (overlaps(kSettingsFirst, kSettingsCount)) AddEvent(EventCode::kParameters, now_);
    if (overlaps(kRegKalU1, 8)) {
      AddEvent(EventCode::kCalibration, now_);
      work_time_ = config_.calibration_store_time;
    }
  }
  if (after_write_) after_write_(table, first, static_cast<std::uint16_t>(values.size()), bank_);
  return 0;
}

Response RelayModel::HandleRead(Table table, const Request& request) {
  if (request.data.size() != 4) return Response::Exception(kIllegalDataValue);
  return Read(table, Be16(request.data, 0), Be16(request.data, 2));
}

Response RelayModel::HandleWriteRegisters(const Request& request) {
  const auto& d = request.data;
  if (d.size() < 5) return Response::Exception(kIllegalDataValue);
  const std::uint16_t first = Be16(d, 0);
  const std::uint16_t count = Be16(d, 2);
  const std::size_t bytes = d[4];
  if (count == 0 || count > kMaxWriteRegisters || bytes != 2U * count || d.size() != 5 + bytes) {
    return Response::Exception(kIllegalDataValue);
  }
  std::vector<std::uint16_t> values(count);
  for (std::size_t i = 0; i < count; ++i) values[i] = Be16(d, 5 + 2 * i);
  if (const std::uint8_t code = Write(Table::kHolding, first, values); code != 0) {
    return Response::Exception(code);
  }
  return Response::Data({d.begin(), d.begin() + 4});
}

Response RelayModel::HandleWriteCoils(const Request& request) {
  const auto& d = request.data;
  if (d.size() < 5) return Response::Exception(kIllegalDataValue);
  const std::uint16_t first = Be16(d, 0);
  const std::uint16_t count = Be16(d, 2);
  const std::size_t bytes = d[4];
  if (count == 0 || count > kMaxWriteCoils || bytes != (count + 7U) / 8U || d.size() != 5 + bytes) {
    return Response::Exception(kIllegalDataValue);
  }
  std::vector<std::uint16_t> values(count);
  for (std::size_t i = 0; i < count; ++i) values[i] = (d[5 + i / 8] >> (i % 8)) & 1U;
  if (const std::uint8_t code = Write(Table::kCoils, first, values); code != 0) {
    return Response::Exception(code);
  }
  return Response::Data({d.begin(), d.begin() + 4});
}

Response RelayModel::HandleReportSlaveId(const Request& request) {
  if (!request.data.empty()) return Response::Exception(kIllegalDataValue);
  std::vector<std::uint8_t> data = IdentificationData();
  data.insert(data.begin(), static_cast<std::uint8_t>(data.size()));
  return Response::Data(std::move(data));
}

}  // namespace nx480::sim
