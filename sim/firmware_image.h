// Firmware image files (".bn6") for tests and demos: writing good and deliberately broken ones,
// and checking them the way the service tool does when it loads one.
//
// An image is a whole number of 262-byte blocks, nothing before, between or after them:
//   0..1     block address, 16 bits little-endian: the relay byte address of the block's data
//   2..3     zero (with 0..1 a 32-bit little-endian value that must not exceed 0xFFFF)
//   4..259   256 data bytes: 128 words, each low byte first
//   260..261 CRC-16/MODBUS of bytes 0..259, low byte first (so the CRC of all 262 bytes is 0)
// The first block carries the application name (16 bytes at file offset 20) and the version
// (8 bytes at offset 36), each ended by a zero byte or the end of its field. The tool reads at
// most 32768 bytes, so the largest image it takes has 125 blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace nx480::sim {

inline constexpr std::size_t kImageBlockBytes = 262;
inline constexpr std::size_t kImageBlockData = 256;
inline constexpr std::size_t kImageReadLimit = 32768;
inline constexpr std::size_t kImageNameOffset = 20;
inline constexpr std::size_t kImageNameBytes = 16;
inline constexpr std::size_t kImageVersionOffset = 36;
inline constexpr std::size_t kImageVersionBytes = 8;

enum class ImageDefect : std::uint8_t {
  kNone,
  kBadCrc,       // block `defect_block` has a wrong CRC
  kHighHalf,     // block `defect_block` has non-zero bytes 2..3, with a CRC that fits them
  kWrongLength,  // the file is `length` bytes long: cut, or padded with 0xFF
};

struct ImageOptions {
  std::string name = "NX480";    // at most 16 characters
  std::string version = "1.15";  // at most 8 characters
  int blocks = 4;                // 1..250 (more than 125 is too long for the tool)
  std::uint16_t address = 0;     // byte address of block 0; block b follows at + 256 b
  std::uint32_t seed = 480;      // the data bytes besides the texts are pseudo-random
  ImageDefect defect = ImageDefect::kNone;
  int defect_block = 0;
  std::size_t length = 0;  // for kWrongLength; 0: one byte short
};

// The image file's bytes. Throws std::invalid_argument for options out of range.
std::vector<std::uint8_t> WriteImage(const ImageOptions& options);

enum class ImageVerdict : std::uint8_t {
  kOk,
  kLength,    // empty, not whole blocks, or longer than the tool reads
  kHighHalf,  // a block's first 32-bit value exceeds 0xFFFF
  kBadCrc,    // a block's CRC does not match
};
const char* ImageVerdictName(ImageVerdict verdict);  // "ok", "length", "high-half", "bad-crc"

struct ImageCheck {
  ImageVerdict verdict = ImageVerdict::kOk;
  int block = -1;  // the first bad block
  int blocks = 0;
  std::string name;
  std::string version;
};

// The checks the tool makes on loading a file, in its order: the length of what it reads (at
// most 32768 bytes), then block by block the high half and the CRC; the first failure ends the
// check. The texts are filled in for a good image.
ImageCheck CheckImage(std::span<const std::uint8_t> file);

}  // namespace nx480::sim
