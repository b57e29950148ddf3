#include "frames.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

using namespace nx480;

// The CRC bytes that follow each template on the wire when nothing is added to it.
TEST(Frames, TemplateCrcBytesMatchTheWire) {
  const std::map<std::string, std::array<uint8_t, 2>> expected = {
      {"live registers x5", {0x30, 0x09}},    {"live registers x9", {0x30, 0x0C}},
      {"live registers x13", {0x31, 0xCF}},   {"live registers x10", {0x70, 0x0D}},
      {"live registers x16", {0xF1, 0xC6}},   {"protection coils x16", {0x3D, 0xC6}},
      {"protection coils x24", {0x3C, 0x00}}, {"frequency again", {0xC1, 0xCA}},
      {"parameters read, low", {0x44, 0x0C}}, {"parameters read, high", {0xC5, 0xC4}},
      {"clock read", {0x45, 0xDD}},           {"calibration read", {0xC4, 0x0B}},
      {"identification", {0xC0, 0x2C}},       {"history pointer", {0x84, 0x1E}},
      {"upload start", {0xE6, 0x58}},         {"upload status", {0xAD, 0xCA}},
      {"upload run", {0xA6, 0x59}},           {"upload abort", {0x27, 0x98}},
  };
  int checked = 0;
  for (const FrameTemplate* t : templates::kAll) {
    std::array<uint8_t, 64> buffer{};
    const size_t sent = BuildFrame(buffer, *t);
    ASSERT_EQ(sent, size_t(t->length) + 2) << t->name;
    EXPECT_EQ(ModbusCrc(buffer.data(), sent), 0) << t->name;
    const auto it = expected.find(t->name);
    if (it == expected.end()) continue;
    EXPECT_EQ(buffer[t->length], it->second[0]) << t->name;
    EXPECT_EQ(buffer[t->length + 1], it->second[1]) << t->name;
    EXPECT_EQ(sent, t->sent) << t->name;
    ++checked;
  }
  EXPECT_EQ(checked, int(expected.size()));
}

TEST(Frames, CrcOfKnownFramesAndEmptyRun) {
  const uint8_t read[] = {0x01, 0x03, 0x00, 0x00, 0x00, 0x08};
  EXPECT_EQ(ModbusCrc(read, sizeof read), 0x0C44);  // 44 0C on the wire
  EXPECT_EQ(ModbusCrc(read, 0), 0xFFFF);
  const uint8_t withCrc[] = {0x01, 0x03, 0x00, 0x00, 0x00, 0x08, 0x44, 0x0C};
  EXPECT_EQ(ModbusCrc(withCrc, sizeof withCrc), 0);
  uint8_t flipped[sizeof withCrc];
  std::memcpy(flipped, withCrc, sizeof withCrc);
  flipped[3] ^= 0x01;
  EXPECT_NE(ModbusCrc(flipped, sizeof flipped), 0);
}

TEST(Frames, CopySwappedExchangesBytesOfEachWord) {
  const uint16_t host[3] = {0x1234, 0xABCD, 0x00FF};
  uint8_t wire[8] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
  CopySwapped(wire, host, 3);
  const uint8_t expectWire[8] = {0x12, 0x34, 0xAB, 0xCD, 0x00, 0xFF, 0xEE, 0xEE};
  EXPECT_EQ(0, std::memcmp(wire, expectWire, 8));  // the byte after the last word untouched

  uint16_t back[3] = {};
  CopySwapped(back, wire, 3);
  EXPECT_EQ(back[0], 0x1234);
  EXPECT_EQ(back[1], 0xABCD);
  EXPECT_EQ(back[2], 0x00FF);

  uint8_t untouched[2] = {0x55, 0x66};
  CopySwapped(untouched, host, 0);
  EXPECT_EQ(untouched[0], 0x55);
  EXPECT_EQ(untouched[1], 0x66);

  uint16_t inPlace[2] = {0x0102, 0x0304};
  CopySwapped(inPlace, inPlace, 2);
  EXPECT_EQ(inPlace[0], 0x0201);
  EXPECT_EQ(inPlace[1], 0x0403);
}

TEST(Frames, BuildFramePatchesAddressByteAndWords) {
  std::array<uint8_t, 64> buffer{};
  // A history record read at address 0x0123.
  size_t n = BuildFrame(buffer, templates::kHistoryRecord, {.address = 0x0123});
  ASSERT_EQ(n, 8u);
  EXPECT_EQ(buffer[2], 0x01);
  EXPECT_EQ(buffer[3], 0x23);
  EXPECT_EQ(ModbusCrc(buffer.data(), n), 0);

  // The relay-mode command with its last byte patched.
  n = BuildFrame(buffer, templates::kRelayMode, {.byteOffset = 7, .byteValue = 2});
  ASSERT_EQ(n, 10u);
  EXPECT_EQ(buffer[7], 2);
  EXPECT_EQ(ModbusCrc(buffer.data(), n), 0);

  // Eight setting words after the write header, high byte first.
  uint16_t words[8] = {0x0102, 0, 0, 0, 0, 0, 0, 0xFFEE};
  n = BuildFrame(buffer, templates::kParamsWriteLow, {.words = words, .wordCount = 8});
  ASSERT_EQ(n, size_t(templates::kParamsWriteLow.sent));
  EXPECT_EQ(buffer[6], 0x10);
  EXPECT_EQ(buffer[7], 0x01);
  EXPECT_EQ(buffer[8], 0x02);
  EXPECT_EQ(buffer[21], 0xFF);
  EXPECT_EQ(buffer[22], 0xEE);
  EXPECT_EQ(ModbusCrc(buffer.data(), n), 0);

  uint16_t upload[16] = {};
  n = BuildFrame(buffer, templates::kUploadBlock,
                 {.address = 0x7FE0, .words = upload, .wordCount = 16});
  EXPECT_EQ(n, size_t(templates::kUploadBlock.sent));

  // A request that would not fit in the buffer is refused, not overrun.
  uint16_t tooMany[40] = {};
  EXPECT_EQ(BuildFrame(buffer, templates::kUploadBlock, {.words = tooMany, .wordCount = 40}), 0u);
}
