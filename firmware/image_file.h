// Firmware image files (".bn6"): what the tool reads from one and the checks it makes before an
// image may go to the relay. Plain functions over bytes; no Qt, no I/O but the file read.
//
// An image is a whole number of 262-byte blocks, nothing before, between or after them:
//   0..1     block address, 16 bits little-endian: the relay byte address of the block's data
//   2..3     zero (read with 0..1 as a 32-bit little-endian value, which must not exceed 0xFFFF)
//   4..259   256 data bytes: 128 words, each low byte first
//   260..261 CRC-16/MODBUS of bytes 0..259, low byte first (the CRC of all 262 bytes is 0)
// The first block carries two texts for the log: the application name (16 bytes at file
// offset 20) and the version (8 bytes at offset 36), each ended by its first zero byte or by the
// end of its field. A file is read up to 32768 bytes, so the largest image has 125 blocks.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace nx480 {

inline constexpr size_t kImageBlockBytes = 262;
inline constexpr size_t kImageBlockData = 256;
inline constexpr size_t kImageDataOffset = 4;  // of the data in a block
// The image buffer: the most that is read from a file. 32768 is not a multiple of 262, so a
// file that fills it is always too long.
inline constexpr size_t kImageBufferBytes = 32768;
inline constexpr size_t kImageMaxBlocks = kImageBufferBytes / kImageBlockBytes;  // 125
inline constexpr size_t kImageNameOffset = 20;
inline constexpr size_t kImageNameBytes = 16;
inline constexpr size_t kImageVersionOffset = 36;
inline constexpr size_t kImageVersionBytes = 8;

// The fixed buffer an image is read into; the image starts at offset 0.
using ImageBuffer = std::array<uint8_t, kImageBufferBytes>;

enum class ImageFault {
  None,
  Length,    // empty, or not a whole number of blocks (a file of 32768 bytes or more included)
  HighHalf,  // a block's first 32-bit value exceeds 0xFFFF (bytes 2-3 are not both zero)
  BadCrc,    // a block's CRC does not fit its bytes
};

struct ImageCheck {
  ImageFault fault = ImageFault::None;
  size_t badBlock = 0;  // the first bad block (HighHalf, BadCrc)
  size_t blocks = 0;    // whole blocks of the image (when its length is right)
  // The texts of the first block, in the file's 8-bit code page (when the image is good).
  std::string name;
  std::string version;
};

// The checks made when an image is loaded, in this order: the length; then block by block the
// high half and the CRC, the first bad block ending the check. `image` is what was read.
ImageCheck CheckImage(std::span<const uint8_t> image);

// The block address of block `block` (its bytes 0..1, little-endian).
uint16_t BlockAddress(std::span<const uint8_t> image, size_t block);

// Reads the file at `path` into `buffer`, at most kImageBufferBytes: the number of bytes read,
// or -1 when the file cannot be opened or read (missing, not permitted, not a regular file).
// `fileSize`, when given, is set to the file's whole size (more than was read for a larger file).
long ReadImageFile(const std::string& path, ImageBuffer& buffer, uint64_t* fileSize = nullptr);

}  // namespace nx480
