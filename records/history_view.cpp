#include "history_view.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "text_codec.h"
#include "translation.h"

namespace nx480 {

namespace {

bool IsLeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// The Unicode spaces (category Zs) that Windows-1250 has no byte for: all but U+0020 and U+00A0.
// Each is three bytes of UTF-8 with a lead byte from 0xE1 to 0xE3.
constexpr std::string_view kForeignSpaces[] = {"\u1680", "\u2000", "\u2001", "\u2002", "\u2003",
                                               "\u2004", "\u2005", "\u2006", "\u2007", "\u2008",
                                               "\u2009", "\u200A", "\u202F", "\u205F", "\u3000"};

// Appends `cell` to `text` with each foreign space made a plain one.
void AppendWithPlainSpaces(std::string& text, std::string_view cell) {
  for (size_t i = 0; i < cell.size();) {
    const auto lead = static_cast<unsigned char>(cell[i]);
    if (lead >= 0xE1 && lead <= 0xE3) {
      const std::string_view rest = cell.substr(i);
      if (std::ranges::any_of(kForeignSpaces,
                              [&](std::string_view space) { return rest.starts_with(space); })) {
        text += ' ';
        i += 3;
        continue;
      }
    }
    text += cell[i++];
  }
}

// The character that begins at `at` in `text`, and its code point in `code`; a byte that begins
// no UTF-8 sequence alone, with U+FFFD.
std::string CharacterAt(std::string_view text, size_t at, char32_t& code) {
  const auto byte = [&](size_t i) {
    return at + i < text.size() ? static_cast<unsigned char>(text[at + i]) : 0u;
  };
  const unsigned lead = byte(0);
  size_t length = lead < 0x80   ? 1
                  : lead < 0xC2 ? 0
                  : lead < 0xE0 ? 2
                  : lead < 0xF0 ? 3
                  : lead < 0xF5 ? 4
                                : 0;
  code = lead & (0xFFu >> (length == 1 ? 1 : length + 1));
  for (size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) length = 0;
    code = code << 6 | (byte(i) & 0x3F);
  }
  if (length == 0) {
    code = 0xFFFD;
    return std::string(1, text[at]);
  }
  return std::string(text.substr(at, length));
}

}  // namespace

HistoryRow HistoryTitles() {
  return {translate("HistoryView", "Datum,čas"),
          translate("HistoryView", "Událost"),
          "F  [Hz]",
          "U1 [V]",
          "U2 [V]",
          "U3 [V]"};
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
      QT_TRANSLATE_NOOP("HistoryView", "Stop"), QT_TRANSLATE_NOOP("HistoryView", "Start"),
      QT_TRANSLATE_NOOP("HistoryView", "Odpojení"), QT_TRANSLATE_NOOP("HistoryView", "Připojení"),
      "4", "5", "6", "7", "8", "9", "10", "11", "12", "13", "14", "15",
      QT_TRANSLATE_NOOP("HistoryView", "Nastav. par."),
      QT_TRANSLATE_NOOP("HistoryView", "Nastav.času"),
      QT_TRANSLATE_NOOP("HistoryView", "Původní čas"),
      QT_TRANSLATE_NOOP("HistoryView", "Kalibrace")};
  // clang-format on
  return code < 20 ? translate("HistoryView", kTexts[code]) : "?";
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

std::vector<HistoryRow> HistoryTable(
    const std::vector<HistoryRecord>& records,
    const std::function<std::string(const EventStamp&)>& timeText) {
  std::vector<HistoryRow> rows{HistoryTitles()};
  for (const HistoryRecord& record : records) {
    const std::optional<EventRow> row = DecodeEvent(record);
    if (!row) continue;
    rows.push_back({timeText(row->when), row->event, row->frequency, row->u1, row->u2, row->u3});
  }
  if (rows.size() == 1) rows.emplace_back();
  return rows;
}

bool HistoryCsv(const std::vector<HistoryRow>& rows, std::string& bytes,
                UnwritableCharacter* unwritable) {
  std::string text;
  std::vector<size_t> rowEnds;  // the offset in `text` after each row
  rowEnds.reserve(rows.size());
  for (const HistoryRow& row : rows) {
    for (const std::string& cell : row) {
      AppendWithPlainSpaces(text, cell);
      text += ';';
    }
    text += "\r\n";
    rowEnds.push_back(text.size());
  }
  size_t bad = 0;
  if (!Utf8ToCp1250(text, bytes, &bad)) {
    bytes.clear();
    if (unwritable && bad < text.size()) {
      unwritable->row =
          static_cast<size_t>(std::ranges::upper_bound(rowEnds, bad) - rowEnds.begin());
      unwritable->character = CharacterAt(text, bad, unwritable->code);
    }
    return false;
  }
  return true;
}

std::vector<std::vector<std::string>> ReadHistoryCsv(std::span<const uint8_t> bytes) {
  const std::string text =
      Cp1250ToUtf8({reinterpret_cast<const char*>(bytes.data()), bytes.size()});
  std::vector<std::vector<std::string>> rows;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find("\r\n", start);
    const size_t next = end == std::string::npos ? text.size() : end + 2;
    if (end == std::string::npos) end = text.size();
    const std::string_view line = std::string_view(text).substr(start, end - start);
    std::vector<std::string> cells;
    for (size_t at = 0; at < line.size();) {
      const size_t semicolon = line.find(';', at);
      const size_t stop = semicolon == std::string_view::npos ? line.size() : semicolon;
      cells.emplace_back(line.substr(at, stop - at));
      at = stop + 1;
    }
    rows.push_back(std::move(cells));
    start = next;
  }
  return rows;
}

}  // namespace nx480
