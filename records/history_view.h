// What the history window shows of one event record, and the export file, worked out without
// widgets. The window copies these results into its table and formats the date and time in the
// user's regional formats.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "history_record.h"

namespace nx480 {

inline constexpr int kHistoryColumns = 6;
using HistoryRow = std::array<std::string, kHistoryColumns>;

// The titles of the table (its row 0): "Datum,čas", "Událost", "F  [Hz]", "U1 [V]", ...
HistoryRow HistoryTitles();

// The moment of an event as the timestamp packs it: bits 31-26 year - 2000, 25-22 month, 21-17
// day, 16-12 hour, 11-6 minute, 5-0 second.
struct EventStamp {
  int year = 0, month = 0, day = 0;
  int hour = 0, minute = 0, second = 0;
  bool operator==(const EventStamp&) const = default;
};

// Registers 0 (low half) and 1 (high half).
uint32_t TimestampOf(const HistoryRecord& record);
// The fields of `stamp`, or nothing when they do not make a date of the calendar (month 13,
// 30 February, 29 February of a common year, day 0) and a time of day (hour up to 23, minute
// and second up to 59). Midnight, 00:00:00, is a time like any other.
std::optional<EventStamp> DecodeStamp(uint32_t stamp);

// The text of an event code (low byte of register 2); "?" from 20 on. UTF-8.
std::string EventText(unsigned code);
// "%i,%02i" of hundredths of a hertz: 4998 -> "49,98".
std::string HundredthsText(uint16_t hundredths);
// "%3i": 7 -> "  7".
std::string VoltsText(uint16_t volts);

// One row of the table: the moment (formatted by the window) and the other five cells.
struct EventRow {
  EventStamp when;
  std::string event, frequency, u1, u2, u3;
};
// The row of `record`, or nothing when its timestamp is impossible (such a record gets no row).
std::optional<EventRow> DecodeEvent(const HistoryRecord& record);

// The history window's table of `records` (newest first, as the walk hands them over): the
// titles, then a row per record whose timestamp can exist, its moment as `timeText` writes it
// (the user's regional formats, as the window shows them); like the window's table it has one
// (empty) row even when no record makes one. HistoryCsv of it is the window's export.
std::vector<HistoryRow> HistoryTable(const std::vector<HistoryRecord>& records,
                                     const std::function<std::string(const EventStamp&)>& timeText);

// A character that the export cannot write: its row (0: the titles), the character as the cell
// holds it (UTF-8; a byte that begins no UTF-8 sequence stands alone) and its code point (U+FFFD
// for such a byte).
struct UnwritableCharacter {
  size_t row = 0;
  std::string character;
  char32_t code = 0;
};

// The export file: every cell (UTF-8) in Windows-1250 followed by ";", every row ended by CR LF,
// no quoting, no byte-order mark. A Unicode space that Windows-1250 has no byte for (U+1680,
// U+2000-U+200A, U+202F, U+205F, U+3000; newer locale data puts U+202F before AM/PM) is written
// as a plain space; U+00A0 keeps its byte 0xA0. False when another character has no
// Windows-1250 form: `bytes` then holds nothing, and `unwritable` (when given) names the first
// such character; it is left alone when no character is to blame (the system has no converter).
bool HistoryCsv(const std::vector<HistoryRow>& rows, std::string& bytes,
                UnwritableCharacter* unwritable = nullptr);

// An export file read back (a clearing's backup in the change journal): its rows (the titles
// first), each cell in UTF-8 as HistoryCsv wrote it. A row is a line ended by CR LF (or a last
// line without), its cells each ended by ";" (text after the last ";" is a cell too).
std::vector<std::vector<std::string>> ReadHistoryCsv(std::span<const uint8_t> bytes);

}  // namespace nx480
