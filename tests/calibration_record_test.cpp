// The calibration record and the "Kalibrace" boxes: conversions both ways and the spinners.
#include "calibration_record.h"

#include <gtest/gtest.h>

using namespace nx480;

namespace {

CalibrationWords Record(uint16_t u1, uint16_t u2, uint16_t u3, uint16_t f, uint32_t serial) {
  return {u1,
          u2,
          u3,
          f,
          0x00C8,
          static_cast<uint16_t>(serial & 0xFFFF),
          static_cast<uint16_t>(serial >> 16),
          0x0101};
}

CalibrationBoxes Boxes(const char* u1, const char* u2, const char* u3, const char* f,
                       const char* serial) {
  CalibrationBoxes b;
  b.factor = {u1, u2, u3, f};
  b.serial = serial;
  return b;
}

}  // namespace

TEST(CalibrationRecord, RecordToBoxes) {
  struct Case {
    CalibrationWords record;
    std::array<const char*, 4> factor;
    std::array<int, 4> spinner;
    const char* serial;
  } cases[] = {
      {Record(1003, 1000, 999, 9987, 4711),
       {"1.003", "1.000", "0.999", "0.9987"},
       {1003, 1000, 999, 9987},
       "004711"},
      {Record(1100, 900, 1000, 10100, 1234567),
       {"1.100", "0.900", "1.000", "1.0100"},
       {1100, 900, 1000, 10100},
       "1234567"},
      // Outside the spinners' ranges the boxes show the word, the spinner its end.
      {Record(1200, 800, 0, 65535, 0),
       {"1.200", "0.800", "0.000", "6.5535"},
       {1100, 900, 900, 10100},
       ""},
      {Record(1000, 1000, 1000, 10000, 0xFFFFFFFF),
       {"1.000", "1.000", "1.000", "1.0000"},
       {1000, 1000, 1000, 10000},
       ""},  // -1: no serial number
  };
  for (const Case& c : cases) {
    CalibrationBoxes boxes = Boxes("x", "x", "x", "x", "x");
    CalibrationToBoxes(c.record, boxes);
    for (int i = 0; i < kFactorCount; ++i) {
      EXPECT_EQ(boxes.factor[i], c.factor[i]) << i;
      EXPECT_EQ(boxes.spinner[i], c.spinner[i]) << i;
    }
    EXPECT_EQ(boxes.serial, c.serial);
  }
}

TEST(CalibrationRecord, BoxesToRecord) {
  struct Case {
    CalibrationBoxes boxes;
    CalibrationWords expected;
  } cases[] = {
      {Boxes("1,002", "1.1", "0.999", "0.9987", "4711"), Record(1002, 1100, 999, 9987, 4711)},
      {Boxes(" 1.000", "1.100", "1,2", "1,0100", "70000"), Record(1000, 1100, 1200, 10100, 70000)},
      // No range check against the spinners; the largest factors the words hold.
      {Boxes("65.535", "0", "0.9", "6.5535", "0"), Record(65535, 0, 900, 65535, 0)},
  };
  for (const Case& c : cases) {
    CalibrationWords record = Record(1, 1, 1, 1, 1);
    std::string error;
    ASSERT_TRUE(BoxesToCalibration(c.boxes, record, error)) << error;
    EXPECT_EQ(record, c.expected);  // words 4 and 7 as they were
  }
}

TEST(CalibrationRecord, ABoxWithoutAValidValueLeavesTheRecordAlone) {
  struct Case {
    CalibrationBoxes boxes;
    const char* error;
  } cases[] = {
      {Boxes("1.000", "1.000", "1.000", "1.0000", ""), "'' is not a valid integer value"},
      {Boxes("1.000", "abc", "1.000", "1.0000", "1"), "'abc' is not a valid floating point value"},
      {Boxes("70", "1.000", "1.000", "1.0000", "1"),  // 70000 would wrap to 4.464
       "Kalibrace U1: '70' je mimo rozsah 0.000 až 65.535"},
      {Boxes("1.000", "1.000", "1.000", "6.6", "1"),
       "Kalibrace Frekv: '6.6' je mimo rozsah 0.0000 až 6.5535"},
  };
  for (const Case& c : cases) {
    const CalibrationWords before = Record(1001, 1002, 1003, 10004, 4711);
    CalibrationWords record = before;
    std::string error;
    EXPECT_FALSE(BoxesToCalibration(c.boxes, record, error));
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(record, before);
  }
}
