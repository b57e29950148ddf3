// Protocol logic of the simulated relay, free of I/O: takes one RTU frame,
// returns the reply frame (or none). Function codes are served by handlers in
// a table so that further functions can be added; register reads and writes
// go through a generic register bank with hooks for modules that compute
// values on demand or react to writes.
//
// Not thread-safe: PtyRelay serialises access with its own mutex.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "event_history.h"
#include "faults.h"
#include "firmware_upload.h"
#include "register_bank.h"
#include "relay_clock.h"
#include "setting_clamp.h"

namespace nx480::sim {

// Function codes the relay serves out of the box.
inline constexpr std::uint8_t kReadCoils = 0x01;
inline constexpr std::uint8_t kReadHolding = 0x03;
inline constexpr std::uint8_t kReadInputs = 0x04;
inline constexpr std::uint8_t kWriteCoils = 0x0F;
inline constexpr std::uint8_t kWriteRegisters = 0x10;
inline constexpr std::uint8_t kReportSlaveId = 0x11;

// Exception codes.
inline constexpr std::uint8_t kIllegalFunction = 1;
inline constexpr std::uint8_t kIllegalDataAddress = 2;
inline constexpr std::uint8_t kIllegalDataValue = 3;
inline constexpr std::uint8_t kDeviceFailure = 4;

// Register map.
inline constexpr std::uint16_t kSettingsFirst = 0x00;  // protection settings 0..23
inline constexpr std::uint16_t kSettingsCount = 24;
inline constexpr std::uint16_t kHoldingCount = 0x80;  // holding 0..0x7F answer
inline constexpr std::uint16_t kRegKalU1 = 0x18;      // voltage factors, 1/1000
inline constexpr std::uint16_t kRegKalU2 = 0x19;
inline constexpr std::uint16_t kRegKalU3 = 0x1A;
inline constexpr std::uint16_t kRegKalF = 0x1B;          // frequency factor, 1/10000
inline constexpr std::uint16_t kRegCalibration4 = 0x1C;  // the relay's own, non-zero
inline constexpr std::uint16_t kRegSerialLow = 0x1D;
inline constexpr std::uint16_t kRegSerialHigh = 0x1E;
inline constexpr std::uint16_t kRegCalibration7 = 0x1F;  // the relay's own, non-zero
inline constexpr std::uint16_t kRegClockFirst = 0x40;    // clock 0x40..0x43
inline constexpr std::uint16_t kClockCount = 4;
inline constexpr std::uint16_t kRegClearHistory = 0x8001;  // command: write the code
inline constexpr std::uint16_t kClearHistoryCode = 3471;
inline constexpr std::uint16_t kInputCount = 16;  // input registers 0..15
inline constexpr std::uint16_t kCoilCount = 24;   // coils 0..23

// Factory protection settings (holding 0..23) of a relay with firmware x.05 or later, whose
// delays count in 1/20 s. DefaultSettings() gives them for any version text: before x.05 the
// delays count in 1/10 s, so the same times take half the steps.
extern const std::uint16_t kDefaultSettings[kSettingsCount];
std::array<std::uint16_t, kSettingsCount> DefaultSettings(const std::string& version);

// The two-digit firmware number at the end of a version text: "1.14.d" and "1.14" give 14,
// "2.07" gives 7; texts too short give 0.
int FirmwareMinorOfVersion(std::string_view version);

// The output relay's mode, set by writing coils 0-1: automatic (both clear), forced on
// (coil 0 set) or forced off (coil 1 set).
enum class RelayMode : std::uint8_t { kAuto, kOn, kOff };
const char* RelayModeName(RelayMode mode);  // "auto", "on", "off"

// A stage trip that the live values (relay_live.h) go through by themselves, as --trip sets it:
// the stage as ParseStage takes it, tripped `after` the live values began, the reconnection
// countdown, and how long the tripped coil stays set (empty: the whole countdown), as
// LiveValues::Trip takes them.
struct PlannedTrip {
  std::string stage{};
  std::chrono::milliseconds countdown{10'000};
  std::optional<std::chrono::milliseconds> hold;
  std::chrono::milliseconds after{0};
};

struct RelayConfig {
  std::uint8_t address = 1;
  std::string name;  // empty: "NX480", or "NX480 T" when `temperature` is set
  std::string version = "1.14.d";
  bool temperature = false;
  int ident_length = 30;  // whole identification reply in bytes: 29 or 30
  std::uint32_t serial = 1234;
  std::optional<DateTime> clock;  // the clock at start; empty: the PC's local time
  bool clock_running = true;      // false: the clock stands still (for tests)
  int history_size_code = 4;      // event ring of 64 x code - 33 slots (1..32)
  int history_fill = 40;          // events in it at start (SampleEvents); past the size it wraps
  std::chrono::milliseconds restart_time{1500};  // silence after a firmware upload's Run
  // The new firmware starts with the factory settings of its version (holding 0-23,
  // DefaultSettings()); calibration and serial number are kept. Off: the settings are kept.
  bool reset_on_upload = false;
  // Written settings kept clamped (setting_clamp.h); the write's acknowledgement is as usual.
  std::vector<SettingClamp> clamps;
  // The relay answers a command only once it has carried it out: a write that stores into the
  // calibration block 0x18-0x1F, and an accepted clear-history command (the ring erased). The
  // tool waits 100 ms and 1500 ms before it reads those replies; the store takes longer than
  // the tool's reply time-out of 108 ms, so only a tool that waits first gets the reply.
  std::chrono::milliseconds calibration_store_time{140};
  std::chrono::milliseconds history_clear_time{1300};
  // Stage trips of the live values (AttachLiveValues), each at its time after the start.
  std::vector<PlannedTrip> trips{};

  std::string EffectiveName() const;
};

// A parsed request as handed to a function handler.
struct Request {
  std::uint8_t address = 0;
  std::uint8_t function = 0;
  std::span<const std::uint8_t> data;  // bytes between function code and CRC
};

// What a function handler answers: either data (the bytes after the function
// code) or an exception code.
struct Response {
  std::uint8_t exception = 0;
  std::vector<std::uint8_t> body;

  static Response Exception(std::uint8_t code) { return Response{code, {}}; }
  static Response Data(std::vector<std::uint8_t> body) { return Response{0, std::move(body)}; }
};

// A reply ready for the wire.
struct Reply {
  std::vector<std::uint8_t> bytes;
  std::chrono::milliseconds delay{0};   // extra wait before sending: the relay's work on the
                                        // command, plus the late-reply fault
  std::chrono::milliseconds babble{0};  // random bytes for this long after it (babble fault)
  std::optional<FaultKind> fault;       // the fault that shaped this reply, if any
};

struct ModelCounters {
  std::uint64_t requests = 0;       // frames for this slave with a good CRC
  std::uint64_t bad_frames = 0;     // frames dropped for a bad CRC or being too short
  std::uint64_t other_address = 0;  // good frames for another slave (ignored)
  std::uint64_t exceptions = 0;     // exception replies built (injected ones too)
  std::uint64_t faults = 0;         // requests a fault rule acted on
  std::uint64_t ignored = 0;        // good frames for this slave while it restarted (no reply)
};

class RelayModel;

using FunctionHandler = std::function<Response(RelayModel&, const Request&)>;
// Called before a read of [first, first + count) is answered, after the
// address check; may update the bank (live values).
using BeforeReadHook =
    std::function<void(Table, std::uint16_t first, std::uint16_t count, RegisterBank&)>;
// Called after a generic write of [first, first + count) was stored.
using AfterWriteHook =
    std::function<void(Table, std::uint16_t first, std::uint16_t count, RegisterBank&)>;
// Takes over writes inside its address range (command registers, upload
// windows). Values are register values, or 0/1 per coil. Returns 0 when the
// write is accepted, else the exception code to answer.
using WriteHandler = std::function<std::uint8_t(RelayModel&, Table, std::uint16_t first,
                                                std::span<const std::uint16_t> values)>;
// Events that happened up to `now` outside the model (stage trips and reconnections), taken
// once each; the model stamps them with its clock.
using EventSource =
    std::function<std::vector<StageEvent>(std::chrono::steady_clock::time_point now)>;
// The measurements that go into an event record written now.
using MeasurementSource = std::function<EventValues()>;

class RelayModel {
 public:
  using Steady = std::chrono::steady_clock;
  // The model's time: the steady clock, or another one that moves on its own terms (a relay in
  // virtual time). Whatever the model does "now" is done at this source's now.
  using TimeSource = std::function<Steady::time_point()>;

  explicit RelayModel(RelayConfig config = {}, TimeSource time = nullptr);

  // The time source's now.
  Steady::time_point Now() const { return time_ ? time_() : Steady::now(); }
  // The moment of the request being handled, or of the last Refresh().
  Steady::time_point Time() const { return now_; }

  // Handles one complete frame (address .. CRC) received at `now`. Returns nullopt when
  // nothing is to be sent: bad CRC, another slave's address, or a silence fault.
  std::optional<Reply> Handle(std::span<const std::uint8_t> frame, Steady::time_point now);
  std::optional<Reply> Handle(std::span<const std::uint8_t> frame) { return Handle(frame, Now()); }
  // Brings what changes with time up to `now`: events from the event source go into the ring,
  // the clock registers show the time. Handle() does it for every request; call it before
  // looking at the bank from outside.
  void Refresh(Steady::time_point now);
  void Refresh() { Refresh(Now()); }

  const RelayConfig& Config() const { return config_; }
  RegisterBank& Bank() { return bank_; }
  const RegisterBank& Bank() const { return bank_; }
  FaultPlan& Faults() { return faults_; }
  const ModelCounters& Counters() const { return counters_; }

  // The data bytes of the identification reply (24 or 25 bytes).
  std::vector<std::uint8_t> IdentificationData() const;
  // Writes the serial number into holding 0x1D (low) / 0x1E (high).
  void SetSerial(std::uint32_t serial);
  std::uint32_t Serial() const;

  // The relay mode as last written (coils 0-1, function 0x0F, both at once), and how many
  // mode commands were accepted. These coils are write-only state of their own: reads of
  // coils 0-23 show the protection stages.
  RelayMode Mode() const { return mode_; }
  std::uint64_t ModeCommands() const { return mode_commands_; }

  // Accepted clear-history commands: a write of kClearHistoryCode to holding 0x8001 empties
  // the event ring. Any other code is refused with exception 3 (illegal data value).
  std::uint64_t HistoryClears() const { return history_clears_; }

  // The event ring (holding 0x44, 0x45, 0x4100 + 8 s). The relay writes an event when a
  // stage trips and when it reconnects (from the event source), when settings 0-23 are
  // written, when the calibration block is written, and two when the clock is written (the
  // time before, the new time). Its registers cannot be written over the wire.
  const EventHistory& History() const { return history_; }
  // The events held, newest first (after a Refresh()).
  std::vector<EventRecord> Events();
  // Makes a new ring of `size_code` (1..32) holding the last `fill` of SampleEvents(fill)
  // that end at the clock's time; false (and nothing changed) for numbers out of range.
  bool MakeHistory(int size_code, int fill);
  void ClearHistory() { history_.Clear(bank_.holding); }
  // Writes an event stamped with the clock's time at `now` and the measurements.
  void AddEvent(EventCode code, Steady::time_point now);
  void AddEvent(EventCode code) { AddEvent(code, Now()); }
  void SetEventSource(EventSource source) { event_source_ = std::move(source); }
  void SetMeasurementSource(MeasurementSource source) { measurements_ = std::move(source); }

  // Firmware upload through holding 0x8000 (firmware_upload.h): Start, data frames, Status,
  // Run, Cancel. After Run the relay answers nothing for the restart time, writes a stop event,
  // and then a start event and identifies with the image's name and version (where the image
  // carries them; otherwise they stay), with the factory settings of its version when
  // RelayConfig::reset_on_upload is set. Upload().Faults() arms the upload's test faults.
  FirmwareUpload& Upload() { return upload_; }
  const FirmwareUpload& Upload() const { return upload_; }
  void SetRestartTime(std::chrono::milliseconds time) { config_.restart_time = time; }

  // Rules for written settings (RelayConfig::clamps): writes over the wire of holding 0-23 are
  // kept clamped; Bank() and the stdin "set" write what they are given.
  void SetClamps(std::vector<SettingClamp> clamps) { config_.clamps = std::move(clamps); }

  // The real-time clock (holding 0x40-0x43). A write of the registers sets it; a write with
  // no valid date and time is refused with exception 3. SetClock() writes no events.
  DateTime ClockAt(Steady::time_point at) const { return clock_.At(at); }
  DateTime ClockAt() const { return clock_.At(Now()); }
  bool ClockRunning() const { return clock_.Running(); }
  void SetClock(const DateTime& time, bool running, Steady::time_point now);
  void SetClock(const DateTime& time, bool running = true) { SetClock(time, running, Now()); }

  // Replaces or adds the handler for a function code; an empty handler
  // removes it (the code then answers "illegal function").
  void SetFunctionHandler(std::uint8_t function, FunctionHandler handler);
  void SetBeforeReadHook(BeforeReadHook hook) { before_read_ = std::move(hook); }
  void SetAfterWriteHook(AfterWriteHook hook) { after_write_ = std::move(hook); }
  // A write that lies wholly inside [first, first + count) of `table` goes to
  // `handler` instead of the bank (the range need not be defined in the bank);
  // a write that only partly overlaps it is an illegal data address.
  void AddWriteHandler(Table table, std::uint16_t first, std::uint32_t count, WriteHandler handler);

  // Building blocks for handlers. Read() checks quantity and addresses, runs
  // the before-read hook and returns the read reply body. Write() runs a
  // write handler or stores into the bank and runs the after-write hook;
  // returns 0 or an exception code.
  Response Read(Table table, std::uint16_t first, std::uint16_t count);
  std::uint8_t Write(Table table, std::uint16_t first, std::span<const std::uint16_t> values);

 private:
  std::uint8_t WriteClock(std::uint16_t first, std::span<const std::uint16_t> values);
  std::uint8_t WriteMode(std::uint16_t first, std::span<const std::uint16_t> values);
  std::uint8_t WriteUploadCommand(std::uint16_t value);

  struct WriteRange {
    Table table;
    std::uint32_t first;
    std::uint32_t count;
    WriteHandler handler;
  };

  Response HandleRead(Table table, const Request& request);
  Response HandleWriteRegisters(const Request& request);
  Response HandleWriteCoils(const Request& request);
  Response HandleReportSlaveId(const Request& request);
  std::vector<std::uint8_t> BuildFrame(std::uint8_t function, const Response& response);

  RelayConfig config_;
  TimeSource time_;
  RegisterBank bank_;
  RelayClock clock_;
  EventHistory history_;
  FirmwareUpload upload_;
  bool lose_reply_ = false;  // set by a handler: the request was carried out, send no reply
  // Set while a request is carried out: how long the relay works on it before it answers.
  std::chrono::milliseconds work_time_{0};
  EventSource event_source_;
  MeasurementSource measurements_;
  RelayMode mode_ = RelayMode::kAuto;
  std::uint64_t mode_commands_ = 0;
  std::uint64_t history_clears_ = 0;
  Steady::time_point now_;  // when the request being handled arrived
  FaultPlan faults_;
  std::minstd_rand noise_random_{480};  // the noise fault's bytes, the same in every run
  ModelCounters counters_;
  std::map<std::uint8_t, FunctionHandler> handlers_;
  std::vector<WriteRange> write_ranges_;
  BeforeReadHook before_read_;
  AfterWriteHook after_write_;
};

}  // namespace nx480::sim
