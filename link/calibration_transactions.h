// Transactions of the settings window's "Kalibrace" page: reading and writing the calibration
// block (holding registers 0x18-0x1F) and clearing the relay's event history (register 0x8001).
//
// Hand-over between the two threads, as for the protection settings:
//  * The window's CalibrationRecord belongs to the user-interface thread. ReadCalibration
//    collects the registers in its own buffer and stores them inside a synchronous step
//    (StoreCalibration, then CalibrationToBoxes).
//  * WriteCalibration sends the record the window handed over (WriteHandOver()), filled only
//    while WriteCalibrationRequest is idle; ClearHistory sends the code handed over with
//    ClearHistoryRequest (ClearHistoryCode()). Neither touches the protection settings.
//  * A write that reads back other values hands what the relay holds over as a read does
//    (StoreCalibration, CalibrationToBoxes), and both records to StoreDifferences, in one
//    synchronous step before ShowResult(Differs).
//  * Before a change goes out, what it replaces is read from the relay right then (the
//    calibration block; for a clearing the whole event ring, walked as the history window walks
//    it) and handed over in a synchronous step: the window keeps it in the change journal there
//    (JournalBefore, JournalBeforeClearing), and only when that step says so is the change sent.
//    JournalAfter / JournalAfterClearing, in the step that ends the change, record how it ended.
//    The walk pushes each record into the transaction's own list on the worker, without a
//    synchronous step (the list is handed over with the export's step); the worker touches no
//    file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "calibration_words.h"
#include "history_record.h"
#include "outcome.h"

namespace nx480 {

class TModbus;

// The access code that the relay takes for clearing its event history.
inline constexpr uint16_t kClearHistoryCode = 3471;

// The "Kalibrace" page as the calibration transactions see it.
class CalibrationWindow {
 public:
  // User-interface thread: stores the words read into the window's record.
  virtual void StoreCalibration(const CalibrationWords& words) = 0;
  // User-interface thread: fills the boxes and spinners from the record.
  virtual void CalibrationToBoxes() = 0;
  // User-interface thread: a write read back with other values: `written` the record sent,
  // `held` the one read back (already stored). Followed by ShowResult(Differs).
  virtual void StoreDifferences(const CalibrationWords& written, const CalibrationWords& held) = 0;
  // User-interface thread: how the transaction ended, in the status line.
  virtual void ShowResult(Outcome outcome) = 0;
  // User-interface thread, before a write: `held` what the relay holds right now, `toWrite` the
  // record about to be sent. Keeps the backup (or asks whether to go on without one); false:
  // nothing is sent, and the step has shown why.
  virtual bool JournalBefore(const CalibrationWords& held, const CalibrationWords& toWrite) = 0;
  // User-interface thread, after a write that JournalBefore let go, before ShowResult: how it
  // ended, and for Ok and Differs what the relay holds now (else the words read before).
  virtual void JournalAfter(Outcome outcome, const CalibrationWords& held) = 0;
  // User-interface thread, before a clearing: the history window's export of `ring` (the records
  // newest first, as the walk read them), the bytes its "Ulož" writes; nullopt when a cell holds
  // a character that Windows-1250 cannot write.
  virtual std::optional<std::vector<uint8_t>> HistoryExport(
      const std::vector<HistoryRecord>& ring) = 0;
  // User-interface thread, in the step of HistoryExport: the export (nullopt: none could be
  // made) and how many records the walk read. Keeps the backup (or asks whether to go on
  // without one); false: the code is not sent, and the step has shown why.
  virtual bool JournalBeforeClearing(const std::optional<std::vector<uint8_t>>& historyCsv,
                                     size_t records) = 0;
  // User-interface thread, after a clearing that JournalBeforeClearing let go, before
  // ShowResult: how it ended.
  virtual void JournalAfterClearing(Outcome outcome) = 0;
  // Worker thread, while WriteCalibrationRequest is set: the record to write.
  virtual const CalibrationWords& WriteHandOver() const = 0;
  // Worker thread, while ClearHistoryRequest is set: the code to send.
  virtual uint16_t ClearHistoryCode() const = 0;
  // Any thread: the clearing is still asked for (false once the window dropped it, closing);
  // the walk before it ends after the record in progress, and nothing is sent.
  virtual bool ClearingAsked() const = 0;
  // Worker thread, in the walk before a clearing: each record read (`records` so far). For a
  // progress display that touches nothing of the user-interface thread; nothing by default.
  virtual void BackupProgress(size_t /*records*/) {}

 protected:
  ~CalibrationWindow() = default;
};

// Reads registers 0x18-0x1F into `words`, without a window (the transactions below, and the
// firmware upload's backup); false when no good reply came (LastError(); not drained).
bool ReadCalibrationWords(TModbus& link, CalibrationWords& words);

// Reads registers 0x18-0x1F into the record, refills the boxes, Ok; or a communication error
// and a drain, record and boxes unchanged.
void ReadCalibration(TModbus& link, CalibrationWindow& window);

// Reads registers 0x18-0x1F as ReadCalibration does (a failure there is a communication error,
// then a drain; nothing is written) and hands them with the record to JournalBefore; when that
// refuses, the transaction ends without a word sent or shown. Then writes the handed-over record;
// the relay is given 100 ms to store it before its acknowledgement is read and checked with its
// echo (a failure: a communication error and a drain). Then registers 0x18-0x1F are read back
// and compared with the record sent: Ok when equal; Differs when the relay holds other values,
// which then fill the record and the boxes; Unknown, with the read's error and a drain, when the
// read-back fails. Every end after JournalBefore goes to JournalAfter.
void WriteCalibration(TModbus& link, CalibrationWindow& window);

// Walks the whole event ring as ReadHistory does (history_transaction.h) and hands its export to
// JournalBeforeClearing; a walk that does not read the ring to its end (a failed read, a bad
// pointer or size, a pause, the clearing dropped) is a communication error and nothing is sent,
// as when that step refuses. Then sends the handed-over code to register 0x8001 and, 1500 ms
// later, reads the answer: an acknowledgement that echoes the request is Ok (the relay has
// emptied its event history); an exception reply (5 bytes, function 0x90, good CRC) is Refused -
// the code was wrong; anything else is a communication error. Refused and communication errors
// drain the input. Every end after JournalBeforeClearing goes to JournalAfterClearing.
void ClearHistory(TModbus& link, CalibrationWindow& window);

}  // namespace nx480
