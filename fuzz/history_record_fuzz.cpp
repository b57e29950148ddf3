// The history record decoding: any 16 bytes a relay's event ring may hold give either no row
// (an impossible timestamp) or a row whose date exists, whose texts fit the table and whose
// export line can always be written in Windows-1250.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "history_view.h"

namespace {

using namespace nx480;

void Require(bool condition) {
  if (!condition) std::abort();
}

bool LeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysIn(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && LeapYear(year) ? 29 : kDays[month - 1];
}

}  // namespace

// Input: the record's 8 registers, each high byte first as on the wire (missing bytes are 0).
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  HistoryRecord record{};
  for (size_t i = 0; i < record.size(); ++i) {
    const uint8_t high = 2 * i < size ? data[2 * i] : 0;
    const uint8_t low = 2 * i + 1 < size ? data[2 * i + 1] : 0;
    record[i] = static_cast<uint16_t>(high << 8 | low);
  }
  const std::optional<EventStamp> stamp = DecodeStamp(TimestampOf(record));
  const std::optional<EventRow> row = DecodeEvent(record);
  Require(stamp.has_value() == row.has_value());
  if (!row) return 0;

  const EventStamp& when = row->when;
  Require(when == *stamp);
  Require(when.year >= 2000 && when.year <= 2063);
  Require(when.month >= 1 && when.month <= 12);
  Require(when.day >= 1 && when.day <= DaysIn(when.year, when.month));
  Require(when.hour >= 0 && when.hour <= 23);
  Require(when.minute >= 0 && when.minute <= 59 && when.second >= 0 && when.second <= 59);
  Require(!row->event.empty() && !row->frequency.empty());
  Require(row->u1.size() >= 3 && row->u2.size() >= 3 && row->u3.size() >= 3);

  const HistoryRow line = {
      "1.1.2000 0:00:00", row->event, row->frequency, row->u1, row->u2, row->u3};
  std::string bytes;
  Require(HistoryCsv({HistoryTitles(), line}, bytes));
  Require(!bytes.empty() && bytes.ends_with("\r\n"));
  return 0;
}
