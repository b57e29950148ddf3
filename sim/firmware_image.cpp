#include "firmware_image.h"

#include <algorithm>
#include <random>
#include <stdexcept>

#include "crc.h"

namespace nx480::sim {
namespace {

void PutCrc(std::span<std::uint8_t> block) {
  const std::uint16_t crc = Crc16Modbus(block.first(kImageBlockBytes - 2));
  block[kImageBlockBytes - 2] = static_cast<std::uint8_t>(crc & 0xFF);
  block[kImageBlockBytes - 1] = static_cast<std::uint8_t>(crc >> 8);
}

std::string Field(std::span<const std::uint8_t> file, std::size_t offset, std::size_t size) {
  std::string text;
  for (std::size_t i = offset; i < offset + size && file[i] != 0; ++i)
    text.push_back(static_cast<char>(file[i]));
  return text;
}

}  // namespace

std::vector<std::uint8_t> WriteImage(const ImageOptions& options) {
  if (options.name.size() > kImageNameBytes) throw std::invalid_argument("name over 16 characters");
  if (options.version.size() > kImageVersionBytes)
    throw std::invalid_argument("version over 8 characters");
  if (options.blocks < 1 || options.blocks > 250)
    throw std::invalid_argument("blocks must be 1..250");
  if ((options.defect == ImageDefect::kBadCrc || options.defect == ImageDefect::kHighHalf) &&
      (options.defect_block < 0 || options.defect_block >= options.blocks))
    throw std::invalid_argument("the defect's block is not in the image");

  std::minstd_rand random(options.seed);
  std::vector<std::uint8_t> file(kImageBlockBytes * static_cast<std::size_t>(options.blocks));
  for (int b = 0; b < options.blocks; ++b) {
    const std::span<std::uint8_t> block(file.data() + kImageBlockBytes * b, kImageBlockBytes);
    const std::uint32_t address = (options.address + kImageBlockData * b) & 0xFFFFU;
    block[0] = static_cast<std::uint8_t>(address & 0xFF);
    block[1] = static_cast<std::uint8_t>(address >> 8);
    for (std::size_t i = 4; i < 4 + kImageBlockData; ++i)
      block[i] = static_cast<std::uint8_t>(random());
    if (b == 0) {
      std::fill_n(block.begin() + kImageNameOffset, kImageNameBytes + kImageVersionBytes, 0);
      std::copy(options.name.begin(), options.name.end(), block.begin() + kImageNameOffset);
      std::copy(options.version.begin(), options.version.end(),
                block.begin() + kImageVersionOffset);
    }
    if (options.defect == ImageDefect::kHighHalf && b == options.defect_block) block[2] = 0x01;
    PutCrc(block);
    if (options.defect == ImageDefect::kBadCrc && b == options.defect_block) block[260] ^= 0x5A;
  }
  if (options.defect == ImageDefect::kWrongLength) {
    file.resize(options.length == 0 ? file.size() - 1 : options.length, 0xFF);
  }
  return file;
}

const char* ImageVerdictName(ImageVerdict verdict) {
  switch (verdict) {
    case ImageVerdict::kOk:
      return "ok";
    case ImageVerdict::kLength:
      return "length";
    case ImageVerdict::kHighHalf:
      return "high-half";
    case ImageVerdict::kBadCrc:
      return "bad-crc";
  }
  return "?";
}

ImageCheck CheckImage(std::span<const std::uint8_t> file) {
  ImageCheck check;
  const std::span<const std::uint8_t> read = file.first(std::min(file.size(), kImageReadLimit));
  if (read.empty() || read.size() % kImageBlockBytes != 0) {
    check.verdict = ImageVerdict::kLength;
    return check;
  }
  check.blocks = static_cast<int>(read.size() / kImageBlockBytes);
  for (int b = 0; b < check.blocks; ++b) {
    const auto block = read.subspan(kImageBlockBytes * b, kImageBlockBytes);
    if (block[2] != 0 || block[3] != 0) {
      check.verdict = ImageVerdict::kHighHalf;
    } else if (Crc16Modbus(block) != 0) {
      check.verdict = ImageVerdict::kBadCrc;
    } else {
      continue;
    }
    check.block = b;
    return check;
  }
  check.name = Field(read, kImageNameOffset, kImageNameBytes);
  check.version = Field(read, kImageVersionOffset, kImageVersionBytes);
  return check;
}

}  // namespace nx480::sim
