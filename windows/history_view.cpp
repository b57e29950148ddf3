#include "history_view.h"

#include <cstdio>

#include "text_codec.h"

namespace nx480 {

namespace {

bool IsLeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

}  // namespace

const HistoryRow& HistoryTitles() {
  static const HistoryRow kTitles = {"Datum,čas", "Událost", "F  [Hz]",
                                     "U1 [V]",    "U2 [V]",  "U3 [V]"};
  return kTitles;
}

uint32_t TimestampOf(const HistoryRecord& record) {
  return record[0] | (static_cast<uint32_t>(record[1]) << 16);
}

std::optional<EventStamp> DecodeStamp(uint32_t stamp) {
  EventStamp s;
  s.year = 2000 + static_cast<int>(stamp >> 26);
  s.month = static_cast<int>((stamp >> 22) & 0x0F);
  s.day = static_cast<int>((stamp >> 17) & 0x1F);
  s.hour = static_cast<int>((stamp >> 12) & 0x1F);
  s.minute = static_cast<int>((stamp >> 6) & 0x3F);
  s.second = static_cast<int>(stamp & 0x3F);
  if (s.month < 1 || s.month > 12 || s.day < 1 || s.day > DaysInMonth(s.year, s.month))
    return std::nullopt;
  if (s.hour > 23 || s.minute > 59 || s.second > 59) return std::nullopt;
  return s;
}

std::string EventText(unsigned code) {
  // clang-format off
  static const char* const kTexts[20] = {
      "Stop", "Start", "Odpojení", "Připojení", "4",
      "5",    "6",     "7",        "8",         "9",
      "10",   "11",    "12",       "13",        "14",
      "15",   "Nastav. par.", "Nastav.času", "Původní čas", "Kalibrace"};
  // clang-format on
  return code < 20 ? kTexts[code] : "?";
}

std::string HundredthsText(uint16_t hundredths) {
  char text[16];
  std::snprintf(text, sizeof text, "%i,%02i", hundredths / 100, hundredths % 100);
  return text;
}

std::string VoltsText(uint16_t volts) {
  char text[16];
  std::snprintf(text, sizeof text, "%3i", static_cast<int>(volts));
  return text;
}

std::optional<EventRow> DecodeEvent(const HistoryRecord& record) {
  const std::optional<EventStamp> when = DecodeStamp(TimestampOf(record));
  if (!when) return std::nullopt;
  return EventRow{*when,
                  EventText(record[2] & 0xFF),
                  HundredthsText(record[4]),
                  VoltsText(record[5]),
                  VoltsText(record[6]),
                  VoltsText(record[7])};
}

bool HistoryCsv(const std::vector<HistoryRow>& rows, std::string& bytes) {
  std::string text;
  for (const HistoryRow& row : rows) {
    for (const std::string& cell : row) {
      text += cell;
      text += ';';
    }
    text += "\r\n";
  }
  if (!Utf8ToCp1250(text, bytes)) {
    bytes.clear();
    return false;
  }
  return true;
}

}  // namespace nx480
