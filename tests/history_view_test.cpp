// What the history window shows of an event record, and the exact bytes of its export.
#include "history_view.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

using namespace nx480;

namespace {

uint32_t Stamp(int year, int month, int day, int hour, int minute, int second) {
  return static_cast<uint32_t>(year - 2000) << 26 | static_cast<uint32_t>(month) << 22 |
         static_cast<uint32_t>(day) << 17 | static_cast<uint32_t>(hour) << 12 |
         static_cast<uint32_t>(minute) << 6 | static_cast<uint32_t>(second);
}

HistoryRecord Record(uint32_t stamp, uint16_t code, uint16_t f, uint16_t u1, uint16_t u2,
                     uint16_t u3) {
  return {static_cast<uint16_t>(stamp), static_cast<uint16_t>(stamp >> 16), code, 0, f, u1, u2, u3};
}

}  // namespace

TEST(HistoryView, ImpossibleDatesAndTimesGetNoRow) {
  struct Case {
    EventStamp when;
    bool valid;
  };
  const Case cases[] = {
      {{2009, 3, 5, 14, 7, 9}, true},
      {{2000, 1, 1, 0, 0, 0}, true},  // midnight is an event like any other
      {{2063, 12, 31, 23, 59, 59}, true},
      {{2024, 2, 29, 12, 0, 0}, true},
      {{2023, 2, 29, 12, 0, 0}, false},
      {{2000, 2, 29, 12, 0, 0}, true},  // divisible by 400
      {{2024, 2, 30, 12, 0, 0}, false},
      {{2024, 4, 31, 12, 0, 0}, false},
      {{2024, 13, 1, 12, 0, 0}, false},
      {{2024, 0, 1, 12, 0, 0}, false},
      {{2024, 1, 0, 12, 0, 0}, false},
      {{2024, 1, 1, 24, 0, 0}, false},
      {{2024, 1, 1, 23, 60, 0}, false},
      {{2024, 1, 1, 23, 59, 60}, false},
  };
  for (const Case& c : cases) {
    const EventStamp& w = c.when;
    SCOPED_TRACE(testing::Message() << w.year << "-" << w.month << "-" << w.day << " " << w.hour
                                    << ":" << w.minute << ":" << w.second);
    const std::optional<EventStamp> decoded =
        DecodeStamp(Stamp(w.year, w.month, w.day, w.hour, w.minute, w.second));
    EXPECT_EQ(decoded.has_value(), c.valid);
    if (decoded) {
      EXPECT_EQ(*decoded, w);
    }
    EXPECT_EQ(DecodeEvent(Record(Stamp(w.year, w.month, w.day, w.hour, w.minute, w.second), 1, 5000,
                                 230, 230, 230))
                  .has_value(),
              c.valid);
  }
  EXPECT_FALSE(DecodeStamp(0).has_value());  // an empty slot
}

TEST(HistoryView, EventTextsAndNumberFormats) {
  // clang-format off
  const std::pair<unsigned, const char*> texts[] = {
      {0, "Stop"}, {1, "Start"}, {2, "Odpojení"}, {3, "Připojení"}, {7, "7"}, {15, "15"},
      {16, "Nastav. par."}, {17, "Nastav.času"}, {18, "Původní čas"}, {19, "Kalibrace"},
      {20, "?"}, {200, "?"}};
  // clang-format on
  for (const auto& [code, text] : texts) EXPECT_EQ(EventText(code), text) << code;

  EXPECT_EQ(HundredthsText(4998), "49,98");
  EXPECT_EQ(HundredthsText(5000), "50,00");
  EXPECT_EQ(HundredthsText(5), "0,05");
  EXPECT_EQ(HundredthsText(65535), "655,35");
  EXPECT_EQ(VoltsText(7), "  7");
  EXPECT_EQ(VoltsText(230), "230");
  EXPECT_EQ(VoltsText(1234), "1234");

  // The high byte of register 2 is not part of the code.
  const std::optional<EventRow> row =
      DecodeEvent(Record(Stamp(2009, 3, 5, 14, 7, 9), 0x4511, 4998, 7, 231, 65535));
  ASSERT_TRUE(row.has_value());
  EXPECT_EQ(row->event, "Nastav.času");
  EXPECT_EQ(row->frequency, "49,98");
  EXPECT_EQ(row->u1, "  7");
  EXPECT_EQ(row->u2, "231");
  EXPECT_EQ(row->u3, "65535");
}

TEST(HistoryView, ExportBytes) {
  const std::vector<HistoryRow> rows = {
      HistoryTitles(),
      {"5.3.2009 14:07:09", "Připojení", "49,98", "  7", "231", "230"},
      {"", "", "", "", "", ""},
  };
  std::string bytes;
  ASSERT_TRUE(HistoryCsv(rows, bytes));
  EXPECT_EQ(bytes,
            "Datum,\xE8"
            "as;Ud\xE1lost;F  [Hz];U1 [V];U2 [V];U3 [V];\r\n"
            "5.3.2009 14:07:09;P\xF8ipojen\xED;49,98;  7;231;230;\r\n"
            ";;;;;;\r\n");
}

TEST(HistoryView, ExportWritesForeignSpacesPlainAndNamesAnUnwritableCharacter) {
  struct Case {
    const char* cell;     // in the second event row
    const char* written;  // its bytes in the file, or nullptr: refused
    const char* refused;  // the character named
    char32_t code;
  };
  const Case cases[] = {
      {"5.3.2009 2:07:09\u202FPM", "5.3.2009 2:07:09 PM", nullptr, 0},  // newer locale data
      {"<\u1680\u2000\u2001\u2002\u2003\u2004\u2005\u2006\u2007\u2008\u2009\u200A\u205F\u3000>",
       "<              >", nullptr, 0},    // every other one: 14 spaces
      {"a\u00A0z", "a\xA0z", nullptr, 0},  // Windows-1250 has a byte of its own
      {"2009年3月5日", nullptr, "年", 0x5E74},
      {"a\u200Bb", nullptr, "\u200B", 0x200B},  // zero width: no space
      {"\u202F😀", nullptr, "😀", 0x1F600},
      {"ok\xFF", nullptr, "\xFF", 0xFFFD},  // not UTF-8
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cell);
    const std::vector<HistoryRow> rows = {
        HistoryTitles(), {"", "Start", "", "", "", ""}, {c.cell, "Stop", "", "", "", ""}};
    std::string bytes = "old";
    UnwritableCharacter unwritable;
    const bool written = HistoryCsv(rows, bytes, &unwritable);
    ASSERT_EQ(written, c.written != nullptr);
    if (written) {
      EXPECT_TRUE(bytes.ends_with(";Start;;;;;\r\n" + std::string(c.written) + ";Stop;;;;;\r\n"))
          << bytes;
    } else {
      EXPECT_TRUE(bytes.empty());  // no file content at all
      EXPECT_EQ(unwritable.row, 2u);
      EXPECT_EQ(unwritable.character, c.refused);
      EXPECT_EQ(unwritable.code, c.code);
    }
  }
}
