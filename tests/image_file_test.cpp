// The checks of a firmware image file, against images made by the simulator's image writer.
#include "image_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "firmware_image.h"
#include "frames.h"

using namespace nx480;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Image(sim::ImageOptions options) {
  return sim::WriteImage(options);
}

// Block 0 with bytes 2-3 set to 00 01 and a CRC that fits them.
Bytes HighHalfWithGoodCrc() {
  Bytes image = Image({.blocks = 2});
  image[3] = 0x01;
  const uint16_t crc = ModbusCrc(image.data(), kImageBlockBytes - 2);
  image[kImageBlockBytes - 2] = static_cast<uint8_t>(crc);
  image[kImageBlockBytes - 1] = static_cast<uint8_t>(crc >> 8);
  return image;
}

struct Case {
  const char* what;
  Bytes image;
  ImageFault fault;
  size_t badBlock = 0;
  std::string name = {};
  std::string version = {};
};

class ImageChecks : public ::testing::TestWithParam<Case> {};

}  // namespace

TEST_P(ImageChecks, Verdict) {
  const Case& c = GetParam();
  const ImageCheck check = CheckImage(c.image);
  EXPECT_EQ(check.fault, c.fault);
  if (c.fault == ImageFault::HighHalf || c.fault == ImageFault::BadCrc) {
    EXPECT_EQ(check.badBlock, c.badBlock);
  }
  if (c.fault == ImageFault::None) {
    EXPECT_EQ(check.blocks, c.image.size() / kImageBlockBytes);
    EXPECT_EQ(check.name, c.name);
    EXPECT_EQ(check.version, c.version);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Images, ImageChecks,
    ::testing::Values(
        Case{"one block", Image({.blocks = 1}), ImageFault::None, 0, "NX480", "1.15"},
        Case{"125 blocks", Image({.blocks = 125, .address = 0x0100}), ImageFault::None, 0, "NX480",
             "1.15"},
        Case{"32768 bytes",
             Image({.blocks = 126, .defect = sim::ImageDefect::kWrongLength, .length = 32768}),
             ImageFault::Length},
        Case{"126 blocks", Image({.blocks = 126}), ImageFault::Length},
        Case{"empty", Bytes{}, ImageFault::Length},
        Case{"one byte short", Image({.blocks = 2, .defect = sim::ImageDefect::kWrongLength}),
             ImageFault::Length},
        Case{"bad second block",
             Image({.blocks = 2, .defect = sim::ImageDefect::kBadCrc, .defect_block = 1}),
             ImageFault::BadCrc, 1},
        Case{"high half, byte 2",
             Image({.blocks = 3, .defect = sim::ImageDefect::kHighHalf, .defect_block = 2}),
             ImageFault::HighHalf, 2},
        Case{"high half, byte 3, good CRC", HighHalfWithGoodCrc(), ImageFault::HighHalf, 0},
        // Both texts fill their fields: they end with the field, not at a zero byte.
        Case{"full texts", Image({.name = "NX480 T-SPECIAL1", .version = "1.14.d.b"}),
             ImageFault::None, 0, "NX480 T-SPECIAL1", "1.14.d.b"},
        Case{"short texts", Image({.name = "X", .version = ""}), ImageFault::None, 0, "X", ""}),
    [](const ::testing::TestParamInfo<Case>& info) {
      std::string name = info.param.what;
      for (char& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return name;
    });

TEST(ImageFile, ReadsAtMost32768BytesAndRefusesWhatIsNoFile) {
  const std::filesystem::path dir = ::testing::TempDir();
  const std::filesystem::path path = dir / "image_file_test.bn6";
  ImageBuffer buffer{};
  auto write = [&](const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
  };

  const Bytes good = Image({.blocks = 125});
  write(good);
  ASSERT_EQ(ReadImageFile(path.string(), buffer), 32750);
  EXPECT_TRUE(std::equal(good.begin(), good.end(), buffer.begin()));

  // 126 good blocks: the read stops at the buffer's end, which is no whole number of blocks.
  write(Image({.blocks = 126}));
  ASSERT_EQ(ReadImageFile(path.string(), buffer), 32768);
  EXPECT_EQ(CheckImage({buffer.data(), 32768}).fault, ImageFault::Length);

  write({});
  EXPECT_EQ(ReadImageFile(path.string(), buffer), 0);
  std::filesystem::remove(path);
  EXPECT_EQ(ReadImageFile(path.string(), buffer), -1);
  EXPECT_EQ(ReadImageFile(dir.string(), buffer), -1);
}
