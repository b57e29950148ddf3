#include "identity.h"

#include <gtest/gtest.h>

#include <vector>

#include "frames.h"

using namespace nx480;

namespace {

// An identification reply: 01 11 N, name field of 16 bytes, version field, CRC.
std::vector<uint8_t> IdentReply(const std::string& name, const std::string& version, size_t total) {
  std::vector<uint8_t> r = {0x01, 0x11, static_cast<uint8_t>(total - 5)};
  for (size_t i = 0; i < 16; ++i) r.push_back(i < name.size() ? name[i] : 0);
  for (size_t i = 0; r.size() < total - 2; ++i) r.push_back(i < version.size() ? version[i] : 0);
  const uint16_t crc = ModbusCrc(r.data(), r.size());
  r.push_back(crc & 0xFF);
  r.push_back(crc >> 8);
  return r;
}

}  // namespace

TEST(Identity, RepliesOf29And30BytesAreAcceptedAnd28IsNot) {
  std::string text = "unchanged";
  auto r30 = IdentReply("NX480", "1.14.d", 30);
  ASSERT_TRUE(ParseIdentification(r30.data(), r30.size(), text));
  EXPECT_EQ(text, "NX480   1.14.d");

  auto r29 = IdentReply("NX480 T", " 2.07 ", 29);
  ASSERT_TRUE(ParseIdentification(r29.data(), r29.size(), text));
  EXPECT_EQ(text, "NX480 T   2.07");

  text = "unchanged";
  auto r28 = IdentReply("NX480", "1.14", 28);
  EXPECT_FALSE(ParseIdentification(r28.data(), r28.size(), text));
  EXPECT_EQ(text, "unchanged");

  // 29 bytes of a 30-byte reply (the last CRC byte missing) fail on the CRC.
  EXPECT_FALSE(ParseIdentification(r30.data(), 29, text));
  r30[10] ^= 0x20;
  EXPECT_FALSE(ParseIdentification(r30.data(), r30.size(), text));
}

TEST(Identity, VersionFieldWithoutZeroEndsBeforeCrcAndIsTrimmed) {
  // Name field filled to all 16 bytes; the 9-byte version field of a 30-byte reply has no zero
  // byte and control characters and spaces around the version.
  auto r = IdentReply("NX480-ABCDEFGHIJ", std::string("\x01 1.14.d\r\t", 9), 30);
  ASSERT_EQ(r.size(), 30u);
  std::string text;
  ASSERT_TRUE(ParseIdentification(r.data(), r.size(), text));
  EXPECT_EQ(text, "NX480-ABCDEFGHIJ   1.14.d");  // nothing of the CRC bytes

  // Inner spaces stay; only the ends are trimmed.
  r = IdentReply("NX480", "1.14 d", 30);
  ASSERT_TRUE(ParseIdentification(r.data(), r.size(), text));
  EXPECT_EQ(text, "NX480   1.14 d");
}

TEST(Identity, FirmwareMinorFromTheEndOfTheText) {
  EXPECT_EQ(FirmwareMinorOf("NX480 -  1.14.d"), 14);
  EXPECT_EQ(FirmwareMinorOf("NX480 -  1.14"), 14);
  EXPECT_EQ(FirmwareMinorOf("NX480 -  2.07"), 7);
  EXPECT_EQ(FirmwareMinorOf("NX480 -  2.04.b"), 4);
  // No digit check: characters are used as they are ('A' - '0' = 17).
  EXPECT_EQ(FirmwareMinorOf("NX480 -  1.A0"), 170);
  // Too short to hold the digits: no read before the text.
  EXPECT_EQ(FirmwareMinorOf(""), 0);
  EXPECT_EQ(FirmwareMinorOf("7"), 0);
  EXPECT_EQ(FirmwareMinorOf(".d"), 0);
  EXPECT_EQ(FirmwareMinorOf("12"), 12);
}

TEST(Identity, SerialNumber) {
  // Calibration block reply: words 5 (low) and 6 (high) carry the serial number.
  uint8_t reply[21] = {0x01, 0x03, 0x10};
  auto setWord = [&](int word, uint16_t v) {
    reply[3 + 2 * word] = v >> 8;
    reply[4 + 2 * word] = v & 0xFF;
  };
  setWord(5, 1234);
  setWord(6, 0);
  EXPECT_EQ(SerialNumberFromReply(reply), 1234);
  setWord(5, 0x5678);
  setWord(6, 0x0012);
  EXPECT_EQ(SerialNumberFromReply(reply), 0x00125678);
  setWord(6, 0x8000);
  EXPECT_LT(SerialNumberFromReply(reply), 0);
}
