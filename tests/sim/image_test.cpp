// Firmware image files written for tests and demos: good ones pass every check the tool makes
// on loading, broken ones fail exactly the check they were broken for, and a good one uploaded
// into the relay makes it identify with the image's name and version.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>

#include "crc.h"
#include "firmware_image.h"
#include "relay_model.h"
#include "test_util.h"

namespace nx480::sim {
namespace {

using namespace std::chrono_literals;

// Every rule of the file format, checked here on its own terms.
void ExpectWellFormed(const std::vector<std::uint8_t>& file, const ImageOptions& options) {
  ASSERT_EQ(file.size(), kImageBlockBytes * static_cast<std::size_t>(options.blocks));
  ASSERT_LT(file.size(), kImageReadLimit);
  for (int b = 0; b < options.blocks; ++b) {
    const std::span<const std::uint8_t> block(file.data() + kImageBlockBytes * b, kImageBlockBytes);
    EXPECT_EQ(block[0] | block[1] << 8, (options.address + 256 * b) & 0xFFFF) << b;
    EXPECT_EQ(block[2] | block[3], 0) << b;
    EXPECT_EQ(Crc16Modbus(block), 0) << b;
  }
  std::string name(file.begin() + 20, file.begin() + 36);
  std::string version(file.begin() + 36, file.begin() + 44);
  EXPECT_EQ(name.substr(0, name.find('\0')), options.name);
  EXPECT_EQ(version.substr(0, version.find('\0')), options.version);
}

TEST(SimImage, GoodImagesPassEveryCheck) {
  for (const ImageOptions& options :
       {ImageOptions{.blocks = 1},
        ImageOptions{
            .name = "NX480-APPLICATIO", .version = "12.34.56", .blocks = 125, .address = 0x0800},
        ImageOptions{.name = "NX480 T", .version = "1.15.d", .blocks = 3, .address = 0xFF00}}) {
    SCOPED_TRACE(options.name + " " + std::to_string(options.blocks));
    const auto file = WriteImage(options);
    ExpectWellFormed(file, options);
    const ImageCheck check = CheckImage(file);
    EXPECT_EQ(check.verdict, ImageVerdict::kOk);
    EXPECT_EQ(check.blocks, options.blocks);
    EXPECT_EQ(check.name, options.name);
    EXPECT_EQ(check.version, options.version);
  }
  EXPECT_THROW(WriteImage({.name = "NX480-APPLICATION"}), std::invalid_argument);
  EXPECT_THROW(WriteImage({.version = "1.15.d.xyz"}), std::invalid_argument);
  EXPECT_THROW(WriteImage({.blocks = 0}), std::invalid_argument);
  EXPECT_THROW(WriteImage({.blocks = 2, .defect = ImageDefect::kBadCrc, .defect_block = 2}),
               std::invalid_argument);
}

TEST(SimImage, BrokenImagesFailTheirOwnCheck) {
  struct Case {
    ImageOptions options;
    ImageVerdict verdict;
    int block;
  } cases[] = {
      {{.blocks = 4, .defect = ImageDefect::kBadCrc, .defect_block = 2}, ImageVerdict::kBadCrc, 2},
      {{.blocks = 4, .defect = ImageDefect::kBadCrc, .defect_block = 0}, ImageVerdict::kBadCrc, 0},
      {{.blocks = 4, .defect = ImageDefect::kHighHalf, .defect_block = 1},
       ImageVerdict::kHighHalf,
       1},
      {{.blocks = 2, .defect = ImageDefect::kWrongLength}, ImageVerdict::kLength, -1},  // 523
      {{.blocks = 2, .defect = ImageDefect::kWrongLength, .length = 525},
       ImageVerdict::kLength,
       -1},
      {{.blocks = 1, .defect = ImageDefect::kWrongLength, .length = 1}, ImageVerdict::kLength, -1},
      {{.blocks = 126}, ImageVerdict::kLength, -1},  // whole blocks, but longer than is read
  };
  for (const Case& c : cases) {
    const auto file = WriteImage(c.options);
    SCOPED_TRACE(std::to_string(file.size()) + " bytes, block " + std::to_string(c.block));
    const ImageCheck check = CheckImage(file);
    EXPECT_EQ(check.verdict, c.verdict);
    EXPECT_EQ(check.block, c.block);
    if (c.block < 0) continue;
    // Only the intended rule is broken in that block, and nothing in the others.
    for (int b = 0; b < c.options.blocks; ++b) {
      const std::span<const std::uint8_t> block(file.data() + kImageBlockBytes * b,
                                                kImageBlockBytes);
      const bool crc_good = Crc16Modbus(block) == 0;
      const bool high_zero = (block[2] | block[3]) == 0;
      EXPECT_EQ(crc_good, b != c.block || c.verdict != ImageVerdict::kBadCrc) << b;
      EXPECT_EQ(high_zero, b != c.block || c.verdict != ImageVerdict::kHighHalf) << b;
    }
  }
  EXPECT_EQ(CheckImage({}).verdict, ImageVerdict::kLength);
}

TEST(SimImage, AnUploadedImageNamesTheNewFirmware) {
  const ImageOptions options{.name = "NX480 X", .version = "2.07", .blocks = 3, .address = 0x1000};
  const auto file = WriteImage(options);
  RelayConfig config;
  config.restart_time = 100ms;
  RelayModel model(config);
  const auto t = RelayModel::Steady::now();
  ASSERT_TRUE(model.Handle(test::Bytes("01 10 80 00 00 01 02 00 01 E6 58"), t));
  // As the tool sends it: 32 data bytes a frame at (block address + 32 k) / 2, each word's
  // two bytes exchanged.
  for (std::size_t b = 0; b < file.size() / kImageBlockBytes; ++b) {
    const std::uint8_t* block = file.data() + kImageBlockBytes * b;
    for (int k = 0; k < 8; ++k) {
      std::vector<std::uint16_t> words;
      for (int j = 0; j < 16; ++j) {
        const std::uint8_t* w = block + 4 + 32 * k + 2 * j;
        words.push_back(static_cast<std::uint16_t>(w[0] | w[1] << 8));
      }
      const auto reply = model.Handle(
          test::WriteRequest(static_cast<std::uint16_t>(((block[0] | block[1] << 8) + 32 * k) / 2),
                             words),
          t);
      ASSERT_TRUE(reply);
      ASSERT_EQ(reply->bytes.size(), 8U);
    }
  }
  EXPECT_EQ(model.Upload().Word(0x0800), file[4] | file[5] << 8);
  EXPECT_FALSE(model.Handle(test::Bytes("01 10 80 00 00 01 02 00 02 A6 59"), t));
  ASSERT_TRUE(model.Handle(test::Bytes("01 11 C0 2C"), t + 200ms));
  EXPECT_EQ(model.Config().EffectiveName(), "NX480 X");
  EXPECT_EQ(model.Config().version, "2.07");
}

TEST(SimImage, TheProgramWritesAndChecksFiles) {
  const std::string dir = testing::TempDir() + "nx480img_" + std::to_string(::getpid());
  auto run = [&](const std::string& args) {
    const int status = std::system(
        (std::string(NX480_IMAGE_PATH) + " " + args + " >" + dir + ".out 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  auto read = [](const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
  };
  const std::string good = dir + "_good.bn6";
  const std::string bad = dir + "_bad.bn6";
  ASSERT_EQ(run("--name 'NX480 T' --version 1.15.d --blocks 5 --address 0x400 " + good), 0);
  EXPECT_EQ(read(good),
            WriteImage({.name = "NX480 T", .version = "1.15.d", .blocks = 5, .address = 0x400}));
  EXPECT_EQ(run("--check " + good), 0);
  auto out = read(dir + ".out");
  EXPECT_EQ(std::string(out.begin(), out.end()),
            "ok blocks=5 name=NX480 T version=1.15.d bytes=1310\n");

  ASSERT_EQ(run("--blocks 3 --high-half 2 " + bad), 0);
  EXPECT_EQ(run("--check " + bad), 1);
  out = read(dir + ".out");
  EXPECT_EQ(std::string(out.begin(), out.end()), "high-half block=2 bytes=786\n");
  for (const char* args : {"--blocks 0 x.bn6", "--name 12345678901234567 x.bn6",
                           "--bad-crc 1 --length 3 x.bn6", "--blocks 2", "--check"}) {
    EXPECT_EQ(run(args), 2) << args;
  }
  for (const std::string& path : {good, bad, dir + ".out"}) ::unlink(path.c_str());
}

}  // namespace
}  // namespace nx480::sim
