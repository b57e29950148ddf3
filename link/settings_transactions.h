// Transactions of the settings window's "Parametry" page: reading and writing the protection
// settings, holding registers 0-23.
//
// Hand-over of the record between the two threads:
//  * The window's record (SettingsRecord) belongs to the user-interface thread. The worker never
//    touches it directly: ReadParameters collects the registers in its own buffer and stores them
//    into the record inside a synchronous step (StoreParameterWords, then SettingsToBoxes), so the
//    window may rebuild, save or load its record at any time without a race.
//  * WriteParameters sends the record that the window handed over for writing
//    (WriteHandOver()). The window fills it only while WriteParamsRequest is 0 and sets the flag
//    afterwards (release); the worker reads it while the flag is set, before the loop clears it.
//    A write click while the flag is still set does not touch the hand-over, so a write in
//    progress always sends one whole record.
//  * Before a write goes out, what it replaces is read from the relay right then and handed to
//    JournalBefore in a synchronous step: the window keeps it (the change journal) there, and
//    only when that step says so is the write sent. JournalAfter, in the synchronous step that
//    ends the write, records how it ended. The worker touches no file.
//  * A write that reads back other values hands what the relay holds over as a read does
//    (StoreParameterWords, SettingsToBoxes), and both records to StoreDifferences, in one
//    synchronous step before ShowResult(Differs).
#pragma once

#include <cstddef>
#include <cstdint>

#include "outcome.h"
#include "settings_words.h"

namespace nx480 {

class TModbus;

// The settings window as the parameter transactions see it. Every operation but
// WriteHandOver() runs on the user-interface thread (the transactions call it through
// TModbus::Synchronize).
class ParameterWindow {
 public:
  // Stores `count` words, from word `first` on, into the window's record.
  virtual void StoreParameterWords(size_t first, const uint16_t* words, size_t count) = 0;
  // Fills the "Parametry" boxes from the record.
  virtual void SettingsToBoxes() = 0;
  // A write read back with other values: `written` the record sent, `held` the one read back
  // (already stored). Followed by ShowResult(Differs).
  virtual void StoreDifferences(const SettingsWords& written, const SettingsWords& held) = 0;
  // Shows how the transaction ended in the window's status line.
  virtual void ShowResult(Outcome outcome) = 0;
  // Before a write: `held` what the relay holds right now, `toWrite` the record about to be
  // sent. Keeps the backup (or asks whether to go on without one); false: nothing is sent, and
  // the step has shown why.
  virtual bool JournalBefore(const SettingsWords& held, const SettingsWords& toWrite) = 0;
  // After a write that JournalBefore let go, before ShowResult: how it ended, and for Ok and
  // Differs what the relay holds now (else the words read before the write).
  virtual void JournalAfter(Outcome outcome, const SettingsWords& held) = 0;
  // Worker thread, while WriteParamsRequest is set: the record to write.
  virtual const SettingsWords& WriteHandOver() const = 0;

 protected:
  ~ParameterWindow() = default;
};

// Reads registers 0-7, then 8-23, into `words`, without a window (the transactions below, and
// the firmware upload's backup): how many words arrived, 0, 8 or 24. A failure is LastError();
// the input is not drained.
size_t ReadSettingsWords(TModbus& link, SettingsWords& words);

// Reads registers 0-7, then 8-23. On success the record takes all 24 words, the boxes are
// refilled and Ok is shown. When the second read fails, words 0-7 are already replaced and
// words 8-23 keep their values; the boxes are not refilled. Any failure shows a communication
// error and drains the input.
void ReadParameters(TModbus& link, ParameterWindow& window);

// Reads registers 0-23 as ReadParameters does (a failure there is a communication error, then a
// drain; nothing is written) and hands them with the record to JournalBefore; when that refuses,
// the transaction ends without a word sent or shown. Then writes words 0-7, then words 8-23 of
// the handed-over record (whose acknowledgement is read after a 250 ms wait for the relay to
// store them), each acknowledgement checked with its echo. A first block that did not leave
// whole, or that the relay refused with an exception reply, changed nothing: a communication
// error. Any other failure from there on (no acknowledgement, a spoilt one, a pause during the
// wait) is Unknown: the relay may hold the write or a part of it. Both end in a drain. Once both
// are acknowledged, registers 0-23 are read back as ReadParameters reads them and compared with
// the record sent: Ok when equal; Differs when the relay holds other values, which then fill the
// record and the boxes (StoreDifferences names both records); Unknown (acknowledged), with the
// read's error and a drain, when the read-back fails - the relay took the write, but what it
// holds is not known. Every end after JournalBefore goes to JournalAfter.
void WriteParameters(TModbus& link, ParameterWindow& window);

}  // namespace nx480
