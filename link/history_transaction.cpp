#include "history_transaction.h"

#include <chrono>
#include <functional>

#include "modbus.h"

namespace nx480 {

namespace {

constexpr size_t kReplyData = 3;  // address, function, byte count
constexpr uint32_t kFirstRecord = 0x4100;
constexpr std::chrono::milliseconds kRepeatWait{20};

// Reads the record of `slot` into ReplyBuffer; one repetition after a failure. A failure that
// was our own pause or close is not repeated.
bool ReadRecord(TModbus& link, int slot) {
  const size_t length = link.BuildRequest(templates::kHistoryRecord,
                                          {.address = static_cast<int>(kFirstRecord + 8u * slot)});
  link.SendRequest(length);
  if (link.CheckReply(kMainReply, templates::kHistoryRecord.replyLength)) return true;
  if (link.StopRequested()) return false;
  link.DrainInput();
  link.SendRequest(length);  // the request buffer still holds it
  if (!link.Sleep(kRepeatWait)) return false;
  if (link.CheckReply(kMainReply, templates::kHistoryRecord.replyLength)) return true;
  // The walk ends here; the next transaction finds a quiet line.
  if (!link.StopRequested()) link.DrainInput();
  return false;
}

HistoryWalk Walk(TModbus& link, HistoryWindow& window, int32_t& reading) {
  HistoryWalk walk;
  // The window's part of the walk: a synchronous step, or a call on the worker for a walk that
  // keeps its records itself.
  auto step = [&](const std::function<void()>& call) {
    if (window.KeepsRecordsOnWorker())
      call();
    else
      link.Synchronize(call);
  };
  step([&] { window.BeginReading(reading); });
  link.SendRequest(link.BuildRequest(templates::kHistoryPointer));
  if (!link.CheckReply(kMainReply, templates::kHistoryPointer.replyLength)) {
    walk.error = link.LastError();
    if (!link.StopRequested()) link.DrainInput();
    walk.end = link.StopRequested() ? HistoryEnd::Interrupted : HistoryEnd::PointerFailed;
    return walk;
  }
  const uint8_t* data = link.ReplyBuffer.data() + kReplyData;
  const int start = WireWord(data);
  const int slots = HistorySlots(WireWord(data + 2));
  // A pointer outside the ring would never come round to itself again.
  if (slots == 0 || start >= slots) {
    walk.end = slots == 0 ? HistoryEnd::BadSize : HistoryEnd::BadPointer;
    return walk;
  }
  window.RingSize(slots);

  int slot = start;
  for (;;) {
    if (link.StopRequested()) {
      walk.end = HistoryEnd::Interrupted;
      return walk;
    }
    slot = (slot == 0 ? slots : slot) - 1;
    if (!ReadRecord(link, slot)) {
      walk.error = link.LastError();
      walk.end = link.StopRequested() ? HistoryEnd::Interrupted : HistoryEnd::RecordFailed;
      return walk;
    }
    const uint8_t* record = link.ReplyBuffer.data() + kReplyData;
    if ((record[0] | record[1] | record[2] | record[3]) == 0) {
      walk.end = HistoryEnd::EmptySlot;
      return walk;
    }
    HistoryRecord words{};
    CopySwapped(words.data(), record, kHistoryRecordWords);
    step([&] {
      // The record in progress when the window was closed still goes into its table; one of a
      // reading that a new show has replaced does not.
      const int32_t now = window.RequestedReading();
      if (now == reading || now == 0) window.ShowHistoryRecord(words);
    });
    ++walk.records;
    const int32_t now = window.RequestedReading();
    if (now == 0) {
      walk.end = HistoryEnd::Closed;
      return walk;
    }
    if (now != reading) {
      reading = now;
      walk.end = HistoryEnd::Closed;  // superseded: the caller starts again
      return walk;
    }
    if (slot == start) {
      walk.end = HistoryEnd::AllRead;
      return walk;
    }
  }
}

}  // namespace

int HistorySlots(uint16_t sizeRegister) {
  const int code = sizeRegister & 0xFF;
  const int slots = 64 * code - 33;
  if (slots <= 0 || kFirstRecord + 8u * slots > 0x10000u) return 0;
  return slots;
}

HistoryWalk ReadHistory(TModbus& link, HistoryWindow& window) {
  int32_t reading = window.RequestedReading();
  for (;;) {
    const int32_t asked = reading;
    HistoryWalk walk = Walk(link, window, reading);
    walk.reading = asked;
    // A window shown again during the walk asks for a reading of its own, from the newest
    // record; the loop clears the flag only once that one has ended.
    if (walk.end != HistoryEnd::Closed || reading == asked) return walk;
  }
}

}  // namespace nx480
