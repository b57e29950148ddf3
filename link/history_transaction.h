// The history read: the relay's event ring, walked backwards from the newest record, each
// record handed to the history window as soon as it has been read.
//
// Wire: holding registers 0x44 (the slot the next event goes to) and 0x45 (low byte: ring size
// code C; the ring has 64 x C - 33 slots), then one read of 8 registers at 0x4100 + 8 x s per
// slot s, from the slot below the pointer downwards, wrapping from slot 0 to the last slot; the
// slot at the pointer (the oldest record, the next to be overwritten) comes last.
//
// Hand-over: each record travels to the window inside a synchronous step, so the worker never
// touches the window's table or buffer (a walk that keeps its records in a list of its own takes
// them on the worker: KeepsRecordsOnWorker). The reading is the value of HistoryRequest that the
// window set when it was shown; the worker reads the flag after every record: 0 means the
// window was closed (the walk ends), another value means the window was shown again meanwhile
// (the walk starts again from the newest record, for the new reading). Each walk first tells the
// window which reading it serves: a show that comes just as the worker ends the previous reading
// has its request cleared with the old one, and the window learns so and asks again.
#pragma once

#include <cstdint>

#include "history_record.h"
#include "link_error.h"

namespace nx480 {

class TModbus;

// The history window as the walk sees it.
class HistoryWindow {
 public:
  // User-interface thread (through TModbus::Synchronize): a walk for `reading` begins.
  virtual void BeginReading(int32_t reading) = 0;
  // User-interface thread (through TModbus::Synchronize): shows one record.
  virtual void ShowHistoryRecord(const HistoryRecord& record) = 0;
  // Any thread: the reading the window asks for (HistoryRequest), 0 when it wants none.
  virtual int32_t RequestedReading() const = 0;
  // True for a walk whose records go into a list of its transaction's own (a backup, a record
  // handed over as a whole afterwards), which touches nothing of the user-interface thread: the
  // walk then calls BeginReading and ShowHistoryRecord on the worker, without a synchronous step.
  virtual bool KeepsRecordsOnWorker() const { return false; }
  // Worker thread, without a synchronous step, once the pointer is read: the ring's slot count,
  // the most records the walk can hand over. A window that shows it hands it over itself.
  virtual void RingSize(int /*slots*/) {}

 protected:
  ~HistoryWindow() = default;
};

// How a walk ended.
enum class HistoryEnd {
  PointerFailed,  // the read of 0x44-0x45 failed (then drained): nothing handed over
  BadSize,        // the size code gives no ring in the register space: nothing read
  BadPointer,     // the pointer is at or above the slot count: nothing read
  RecordFailed,   // a record read failed, and its repetition too (then drained)
  EmptySlot,      // a slot with timestamp 0: the ring is not full yet
  Closed,         // the window cleared its request
  AllRead,        // every slot was handed over
  Interrupted,    // the worker was paused or the port closed
};

struct HistoryWalk {
  HistoryEnd end = HistoryEnd::PointerFailed;
  int records = 0;      // handed to the window (by the last walk, after a restart)
  int32_t reading = 0;  // the reading that the last walk served
  // The error of the read or wait that ended the walk (PointerFailed, RecordFailed, and
  // Interrupted during an exchange); None when none failed.
  LinkError error = LinkError::None;
};

// Slots of a ring whose size register (0x45) holds `sizeRegister`: 64 x low byte - 33. 0 when
// the low byte gives no ring, or one that does not fit the 16-bit register space from 0x4100.
int HistorySlots(uint16_t sizeRegister);

// ReadHistory. A window shown again during a walk asks for a new reading, and the walk starts
// again for it; the worker's loop then finds a value it did not take up, so the caller clears
// the reading served (HistoryWalk::reading) itself. A failed record read is repeated once:
// drain, the same request again, 20 ms,
// read. The walk reports nothing to the user itself: the window shows what it has received, and
// may tell how the walk ended.
HistoryWalk ReadHistory(TModbus& link, HistoryWindow& window);

}  // namespace nx480
