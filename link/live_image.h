// One snapshot of the relay's live values as the live values transaction hands it over: a view
// of the reply buffer, light enough for the Qt-free decoding code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "firmware_features.h"
#include "frames.h"

namespace nx480 {

// Offsets inside the live image (which starts at ReplyBuffer byte 3, the first data byte of the
// register reply).
inline constexpr size_t kLiveImageStart = kMainReply + 3;
inline constexpr size_t kLiveSecondFrequency = kFrequencyReply + 3 - kLiveImageStart;  // 200
inline constexpr size_t kLiveCoilData = kCoilReply + 3 - kLiveImageStart;              // 208

// The hand-over of one good snapshot: the bytes of ReplyBuffer from byte 3 on, and how many
// registers of the block at its start came with this reply. Bytes past that block are left
// over from earlier replies and mean nothing.
struct LiveImage {
  std::span<const uint8_t> bytes;
  int registers = 0;
  FirmwareFeatures firmware = {};  // of the relay that sent it

  bool Has(int reg) const { return reg >= 0 && reg < registers; }
  // Register `reg` of the block, high byte first on the wire.
  uint16_t Register(int reg) const { return WireWord(bytes.data() + 2 * reg); }
  // Input register 3 as read the second time, after the coils.
  uint16_t SecondFrequency() const { return WireWord(bytes.data() + kLiveSecondFrequency); }
};

}  // namespace nx480
