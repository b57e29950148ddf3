// Transactions of the settings window's "Datum, čas" page: reading and setting the relay's
// clock (holding registers 0x40-0x43) and the relay mode (coils 0-1).
//
// The page's clock values belong to the user-interface thread: the transactions hand the times
// over inside the synchronous step ShowClock. The relay mode travels in the request flag itself.
//
// Before a set goes out, the relay's clock is read right then and handed to JournalBefore in a
// synchronous step: the window keeps it (the change journal) there, and only when that step says
// so is the set sent. JournalAfter, in the synchronous step that ends the set, records how it
// ended and the offset that remains. The worker touches no file.
#pragma once

#include <cstdint>
#include <optional>

#include "outcome.h"

namespace nx480 {

class Request;
class TModbus;

// The "Datum, čas" page as the clock transactions see it.
class ClockWindow {
 public:
  // User-interface thread: stores the relay's and the PC's time (date-time values, relay_time.h)
  // and shows them.
  virtual void ShowClock(double deviceTime, double pcTime) = 0;
  // User-interface thread: how the transaction ended, in the status line.
  virtual void ShowResult(Outcome outcome) = 0;
  // Worker thread: the PC's local date and time now.
  virtual double PcNow() const = 0;
  // User-interface thread, before a set: the relay's clock read right now and the PC's time of
  // that read. Keeps the journal entry (or asks whether to go on without one); false: nothing is
  // sent, and the step has shown why.
  virtual bool JournalBefore(double relayTime, double pcTime) = 0;
  // User-interface thread, after a set that JournalBefore let go, before ShowResult: how it
  // ended, and for an acknowledged set the offset that remains (the relay's clock read once more
  // minus the PC's, in seconds; nullopt when that read failed, and for a set that failed).
  virtual void JournalAfter(Outcome outcome, std::optional<double> remainingSeconds) = 0;

 protected:
  ~ClockWindow() = default;
};

// Reads registers 0x40-0x43; the PC's time is taken right after the request has gone out. On
// success shows both times and Ok; on failure a communication error and a drain, the shown
// times unchanged.
void ReadClock(TModbus& link, ClockWindow& window);

// Reads the relay's clock as ReadClock does (a failure there is a communication error, then a
// drain; nothing is sent) and hands it with the PC's time to JournalBefore; when that refuses,
// the transaction ends without a word sent or shown. Then sets the relay's clock to the PC's
// time + 20 ms (the date follows when the 20 ms run into the next day), the acknowledgement
// checked with its echo; a failure there (then a drain) is a communication error when the frame
// did not leave whole or the relay refused it with an exception reply, else Unknown. Once
// acknowledged, the clock is read once more for the offset that remains: its failure leaves
// the set a success (the offset unknown) and drains after. On success both times shown are the
// time sent, and Ok. Every end after JournalBefore goes to JournalAfter.
void WriteClock(TModbus& link, ClockWindow& window);

// Sends the relay mode of `relayCommand` (1 automatic, 2 forced on, 3 forced off) to coils 0-1:
// the data byte is the value - 1. The reply is read but neither reported nor drained after: a
// forced state is sent again by the window every 4 s. Sets `relayCommand` to 0. Returns the
// reply's judgement for a caller that wants it: Ok; a communication error when the frame did not
// leave whole or the relay refused it with an exception reply; else Unknown, with its error;
// a value outside 1-3 sends nothing (Ok). `sent`, when given, is set to the value sent (0:
// none), for a caller that records each choice's first send.
Outcome WriteRelay(TModbus& link, Request& relayCommand, int32_t* sent = nullptr);

}  // namespace nx480
