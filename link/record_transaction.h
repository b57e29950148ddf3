// The commissioning record's read: everything the record needs from the relay, in one
// transaction, in turn: the clock (with the PC's time of the read), the settings (registers
// 0-23), the calibration block (registers 0x18-0x1F; only in service mode) and the newest
// kRecordEvents records of the event history, newest first (the history window's walk,
// history_transaction.h, ended after kRecordEvents records, at an empty slot or once the whole
// ring is read).
//
// Hand-over: each part travels to the window inside a synchronous step as soon as it has been
// read (StoreClock, StoreSettings, StoreCalibration; the history's events, kept on the worker
// while the walk runs, in one step after it, StoreHistoryRecord for each), and the end in a last
// one (RecordDone); the worker touches no file and no widget. The window makes the record (the
// PDF) only after RecordDone reported Ok: a part that failed ends the transaction there (the
// input drained), naming the part, and nothing after it is read.
#pragma once

#include <cstdint>

#include "calibration_words.h"
#include "history_record.h"
#include "outcome.h"
#include "settings_words.h"

namespace nx480 {

class TModbus;

// How many events the record holds at most: the newest ones.
inline constexpr int kRecordEvents = 100;

// The parts of the record's read, in the order they are read.
enum class RecordPart { Clock, Settings, Calibration, History };

// "clock", "settings", "calibration", "history": for messages ("history read failed").
const char* RecordPartName(RecordPart part);

// How the record's read ended: Ok, or the part that failed and why (a communication error with
// the exchange's error; Stopped / PortClosed when a pause or a close cut it short; None for a
// history whose pointer or size register makes no ring).
struct RecordEnd {
  Outcome outcome = Outcome::Ok;
  RecordPart failed = RecordPart::Clock;  // meaningful only when outcome is not Ok
  int events = 0;                         // history records handed over
};

// The window (or nx480ctl's command) that makes the record, as the transaction sees it.
class RecordWindow {
 public:
  // Worker thread: the PC's local date and time now (a date-time value, relay_time.h).
  virtual double PcNow() const = 0;
  // Any thread: whether the record is still wanted. Asked before each part and after each
  // history record: false (the window closed, Ctrl-C) ends the read after the exchange in
  // progress, as a failure of the part not read (LinkError::Stopped).
  virtual bool RecordWanted() const = 0;
  // User-interface thread: the relay's clock and the PC's time of its read.
  virtual void StoreClock(double relayTime, double pcTime) = 0;
  // User-interface thread: the 24 settings words.
  virtual void StoreSettings(const SettingsWords& words) = 0;
  // User-interface thread, service mode only: the 8 calibration words.
  virtual void StoreCalibration(const CalibrationWords& words) = 0;
  // User-interface thread: one history record; called newest first, at most kRecordEvents times,
  // all in one step after the history's walk.
  virtual void StoreHistoryRecord(const HistoryRecord& record) = 0;
  // User-interface thread: how the read ended; the last step of every run.
  virtual void RecordDone(const RecordEnd& end) = 0;
  // Worker thread: the part about to be read (`events` 0), and in the history each event read
  // (`events` so far). For a progress display that touches nothing of the user-interface thread;
  // nothing by default.
  virtual void RecordProgress(RecordPart /*part*/, int /*events*/) {}

 protected:
  ~RecordWindow() = default;
};

// Reads the four parts in turn (the calibration only when the worker's session is in service
// mode), handing each over as it arrives; a failure ends the read (drained) with the part named
// in RecordDone. Returns what RecordDone was given.
RecordEnd ReadRecord(TModbus& link, RecordWindow& window);

}  // namespace nx480
