// The live values transaction: one snapshot of the relay's measurements and protection stages,
// read by the worker for the live values window.
//
// Wire: the input registers from 0 (how many depends on the firmware), the protection-stage
// coils from 0 (16 or 24), then after 80 ms input register 3 (the frequency) once more. The
// replies land in fixed regions of ReplyBuffer; the window gets a byte view of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "frames.h"
#include "modbus.h"

namespace nx480 {

// What one firmware delivers: the register and coil requests and their sizes.
struct LivePlan {
  const FrameTemplate* registers;
  int registerCount;
  const FrameTemplate* coils;
  int coilCount;
};

// V <= 4: 5 registers; 5-10: 9; 11: 13; 12: 10; >= 13: 16. Coils: 16 up to V 8, else 24.
LivePlan LivePlanFor(int firmwareMinor);

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

  bool Has(int reg) const { return reg >= 0 && reg < registers; }
  // Register `reg` of the block, high byte first on the wire.
  uint16_t Register(int reg) const { return WireWord(bytes.data() + 2 * reg); }
  // Input register 3 as read the second time, after the coils.
  uint16_t SecondFrequency() const { return WireWord(bytes.data() + kLiveSecondFrequency); }
};

// Stage flags from the coil data bytes: bit i is coil i (first byte = coils 0-7, lowest bit
// first). With 16 coils, bits 16-23 are 0.
uint32_t StageFlagsFromCoils(const uint8_t* coilData, int coilCount);

// The live values window as the transaction sees it. StoreLiveValues and ClearLiveValues run on
// the worker thread and may only write the window's pending state; ShowLiveValues runs on the
// user-interface thread through TModbus::Synchronize while the worker waits.
class LiveValuesWindow {
 public:
  virtual ~LiveValuesWindow() = default;
  // The firmware's two-digit version number, readable from the worker thread.
  virtual int LiveFirmwareMinor() const = 0;
  virtual void StoreLiveValues(const LiveImage& image, uint32_t stageFlags) = 0;
  virtual void ClearLiveValues() = 0;
  virtual void ShowLiveValues() = 0;
};

// ReadLiveValues: registers, coils, 80 ms, frequency again. Success: StoreLiveValues, then
// ShowLiveValues on the user-interface thread. Any failed step: ClearLiveValues,
// ShowLiveValues, then DrainInput. Returns true on success.
bool ReadLiveValues(TModbus& link, LiveValuesWindow& window);

}  // namespace nx480
