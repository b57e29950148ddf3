// Transactions of the settings window's "Datum, čas" page: reading and setting the relay's
// clock (holding registers 0x40-0x43) and the relay mode (coils 0-1).
//
// The page's clock values belong to the user-interface thread: the transactions hand the times
// over inside the synchronous step ShowClock. The relay mode travels in the request flag itself.
#pragma once

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

 protected:
  ~ClockWindow() = default;
};

// Reads registers 0x40-0x43; the PC's time is taken right after the request has gone out. On
// success shows both times and Ok; on failure a communication error and a drain, the shown
// times unchanged.
void ReadClock(TModbus& link, ClockWindow& window);

// Sets the relay's clock to the PC's time + 20 ms (the date follows when the 20 ms run into the
// next day), the acknowledgement checked with its echo. On success both times shown are the
// time sent, and Ok; on failure a communication error and a drain.
void WriteClock(TModbus& link, ClockWindow& window);

// Sends the relay mode of `relayCommand` (1 automatic, 2 forced on, 3 forced off) to coils 0-1:
// the data byte is the value - 1. The reply is read but neither reported nor drained after: a
// forced state is sent again by the window every 4 s. Sets `relayCommand` to 0. Returns the
// reply's judgement for a caller that wants it (Ok, or a communication error with its error);
// a value outside 1-3 sends nothing (Ok).
Outcome WriteRelay(TModbus& link, Request& relayCommand);

}  // namespace nx480
