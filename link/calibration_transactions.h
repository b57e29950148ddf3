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
#pragma once

#include <cstdint>

#include "calibration_words.h"
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
  // Worker thread, while WriteCalibrationRequest is set: the record to write.
  virtual const CalibrationWords& WriteHandOver() const = 0;
  // Worker thread, while ClearHistoryRequest is set: the code to send.
  virtual uint16_t ClearHistoryCode() const = 0;

 protected:
  ~CalibrationWindow() = default;
};

// Reads registers 0x18-0x1F into `words`, without a window (the transactions below, and the
// firmware upload's backup); false when no good reply came (LastError(); not drained).
bool ReadCalibrationWords(TModbus& link, CalibrationWords& words);

// Reads registers 0x18-0x1F into the record, refills the boxes, Ok; or a communication error
// and a drain, record and boxes unchanged.
void ReadCalibration(TModbus& link, CalibrationWindow& window);

// Writes the handed-over record; the relay is given 100 ms to store it before its
// acknowledgement is read and checked with its echo (a failure: a communication error and a
// drain). Then registers 0x18-0x1F are read back and compared with the record sent: Ok when
// equal; Differs when the relay holds other values, which then fill the record and the boxes;
// Unknown, with the read's error and a drain, when the read-back fails.
void WriteCalibration(TModbus& link, CalibrationWindow& window);

// Sends the handed-over code to register 0x8001 and, 1500 ms later, reads the answer: an
// acknowledgement that echoes the request is Ok (the relay has emptied its event history); an
// exception reply (5 bytes, function 0x90, good CRC) is Refused - the code was wrong; anything
// else is a communication error. Refused and communication errors drain the input.
void ClearHistory(TModbus& link, CalibrationWindow& window);

}  // namespace nx480
