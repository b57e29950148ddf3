#include "crc.h"

#include <gtest/gtest.h>

#include <string>

#include "test_util.h"

namespace nx480::sim {
namespace {

using test::Bytes;
using test::Hex;

TEST(Crc, KnownVectorsAndFrameCheck) {
  const std::string check = "123456789";
  EXPECT_EQ(Crc16Modbus({reinterpret_cast<const std::uint8_t*>(check.data()), check.size()}),
            0x4B37);

  // Read holding 0..7: the CRC goes on the wire low byte first.
  std::vector<std::uint8_t> frame = Bytes("01 03 00 00 00 08");
  AppendCrc(frame);
  EXPECT_EQ(Hex(frame), "01 03 00 00 00 08 44 0C");
  EXPECT_TRUE(CrcOk(frame));

  std::vector<std::uint8_t> ident = Bytes("01 11");
  AppendCrc(ident);
  EXPECT_EQ(Hex(ident), "01 11 C0 2C");

  // Any single flipped bit is caught.
  for (std::size_t bit = 0; bit < frame.size() * 8; ++bit) {
    auto damaged = frame;
    damaged[bit / 8] ^= static_cast<std::uint8_t>(1U << (bit % 8));
    EXPECT_FALSE(CrcOk(damaged)) << "bit " << bit;
  }
  EXPECT_FALSE(CrcOk(Bytes("FF FF")));  // the CRC of nothing, but no frame
  EXPECT_FALSE(CrcOk({}));
}

}  // namespace
}  // namespace nx480::sim
