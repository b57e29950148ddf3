// The firmware image check: an image that passes is whole blocks, no more than the buffer holds,
// every block with its high half zero and its CRC right, and its texts no longer than their
// fields; whatever the file holds, nothing is read outside it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "frames.h"
#include "image_file.h"

namespace {

using namespace nx480;

void Require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // What the tool reads of a file: at most the buffer's size.
  const std::vector<uint8_t> image(data, data + std::min(size, kImageBufferBytes));
  const ImageCheck check = CheckImage(image);
  if (check.fault == ImageFault::Length) {
    Require(image.empty() || image.size() % kImageBlockBytes != 0 ||
            image.size() >= kImageBufferBytes);
    return 0;
  }
  Require(!image.empty() && image.size() % kImageBlockBytes == 0);
  Require(check.blocks == image.size() / kImageBlockBytes && check.blocks <= kImageMaxBlocks);
  if (check.fault != ImageFault::None) {
    Require(check.badBlock < check.blocks);
    return 0;
  }
  for (size_t b = 0; b < check.blocks; ++b) {
    const uint8_t* block = image.data() + b * kImageBlockBytes;
    Require(block[2] == 0 && block[3] == 0);
    Require(ModbusCrc(block, kImageBlockBytes) == 0);
    (void)BlockAddress(image, b);
  }
  Require(check.name.size() <= kImageNameBytes && check.version.size() <= kImageVersionBytes);
  Require(check.name.find('\0') == std::string::npos);
  return 0;
}
