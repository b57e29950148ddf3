#include "record_transaction.h"

#include <array>
#include <cstring>
#include <vector>

#include "calibration_transactions.h"
#include "history_transaction.h"
#include "modbus.h"
#include "relay_time.h"
#include "settings_transactions.h"

namespace nx480 {

namespace {

constexpr size_t kReplyData = 3;  // address, function, byte count

// The history walk as a window that wants kRecordEvents records: they go into a list of the
// transaction's own, on the worker, and its reading ends (0) once they have been read, or once
// the record is no longer wanted, which ends the walk after the record in progress.
class NewestEvents final : public HistoryWindow {
 public:
  explicit NewestEvents(RecordWindow& window) : window_(window) {}
  void BeginReading(int32_t) override { events.clear(); }
  void ShowHistoryRecord(const HistoryRecord& record) override {
    events.push_back(record);
    window_.RecordProgress(RecordPart::History, static_cast<int>(events.size()));
  }
  int32_t RequestedReading() const override {
    return window_.RecordWanted() && events.size() < kRecordEvents ? 1 : 0;
  }
  bool KeepsRecordsOnWorker() const override { return true; }

  std::vector<HistoryRecord> events;  // newest first

 private:
  RecordWindow& window_;
};

RecordEnd Failed(RecordPart part, LinkError error, int events = 0) {
  RecordEnd end;
  end.outcome = {Outcome::CommunicationError, error};
  end.failed = part;
  end.events = events;
  return end;
}

// A failed exchange of `part`: its error, then a drain (not after our own pause or close).
RecordEnd Drained(TModbus& link, RecordPart part) {
  const RecordEnd end = Failed(part, link.LastError());
  if (!link.StopRequested()) link.DrainInput();
  return end;
}

RecordEnd ReadParts(TModbus& link, RecordWindow& window) {
  if (!window.RecordWanted()) return Failed(RecordPart::Clock, LinkError::Stopped);
  window.RecordProgress(RecordPart::Clock, 0);
  link.SendRequest(link.BuildRequest(templates::kClockRead));
  const double pcTime = window.PcNow();  // the moment the request went out, as ReadClock
  if (!link.CheckReply(kMainReply, templates::kClockRead.replyLength)) {
    return Drained(link, RecordPart::Clock);
  }
  std::array<uint8_t, 8> clock{};
  std::memcpy(clock.data(), link.ReplyBuffer.data() + kReplyData, clock.size());
  const double relayTime = DecodeRelayClock(clock);
  link.Synchronize([&] { window.StoreClock(relayTime, pcTime); });

  if (!window.RecordWanted()) return Failed(RecordPart::Settings, LinkError::Stopped);
  window.RecordProgress(RecordPart::Settings, 0);
  SettingsWords settings{};
  if (ReadSettingsWords(link, settings) != kSettingsWords) {
    return Drained(link, RecordPart::Settings);
  }
  link.Synchronize([&] { window.StoreSettings(settings); });

  if (link.Session().serviceMode) {
    if (!window.RecordWanted()) return Failed(RecordPart::Calibration, LinkError::Stopped);
    window.RecordProgress(RecordPart::Calibration, 0);
    CalibrationWords calibration{};
    if (!ReadCalibrationWords(link, calibration)) {
      return Drained(link, RecordPart::Calibration);
    }
    link.Synchronize([&] { window.StoreCalibration(calibration); });
  }

  if (!window.RecordWanted()) return Failed(RecordPart::History, LinkError::Stopped);
  window.RecordProgress(RecordPart::History, 0);
  NewestEvents events(window);
  const HistoryWalk walk = ReadHistory(link, events);  // drains after a failure itself
  // The events read, in one step (as many as the walk read, whatever ended it).
  if (!events.events.empty()) {
    link.Synchronize([&] {
      for (const HistoryRecord& event : events.events) window.StoreHistoryRecord(event);
    });
  }
  switch (walk.end) {
    case HistoryEnd::Closed:
      if (!window.RecordWanted())
        return Failed(RecordPart::History, LinkError::Stopped, walk.records);
      break;
    case HistoryEnd::EmptySlot:
    case HistoryEnd::AllRead:
      break;
    case HistoryEnd::BadSize:
    case HistoryEnd::BadPointer:
      return Failed(RecordPart::History, LinkError::None, walk.records);
    case HistoryEnd::PointerFailed:
    case HistoryEnd::RecordFailed:
    case HistoryEnd::Interrupted:
      return Failed(RecordPart::History,
                    walk.error == LinkError::None ? LinkError::Stopped : walk.error, walk.records);
  }
  RecordEnd end;
  end.events = walk.records;
  return end;
}

}  // namespace

const char* RecordPartName(RecordPart part) {
  switch (part) {
    case RecordPart::Clock:
      return "clock";
    case RecordPart::Settings:
      return "settings";
    case RecordPart::Calibration:
      return "calibration";
    case RecordPart::History:
      return "history";
  }
  return "?";
}

RecordEnd ReadRecord(TModbus& link, RecordWindow& window) {
  const RecordEnd end = ReadParts(link, window);
  link.Synchronize([&] { window.RecordDone(end); });
  return end;
}

}  // namespace nx480
