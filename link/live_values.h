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
#include "live_image.h"
#include "modbus.h"

namespace nx480 {

// What one firmware delivers: the register and coil requests and their sizes.
struct LivePlan {
  const FrameTemplate* registers;
  int registerCount;
  const FrameTemplate* coils;
  int coilCount;
};

// The requests for the firmware's numbers of live registers and coils.
LivePlan LivePlanFor(const FirmwareFeatures& firmware);

// Stage flags from the coil data bytes: bit i is coil i (first byte = coils 0-7, lowest bit
// first). With 16 coils, bits 16-23 are 0.
uint32_t StageFlagsFromCoils(const uint8_t* coilData, int coilCount);

// The live values window as the transaction sees it. StoreLiveValues and ClearLiveValues run on
// the worker thread and may only write the window's pending state; ShowLiveValues runs on the
// user-interface thread through TModbus::Synchronize while the worker waits.
class LiveValuesWindow {
 public:
  virtual ~LiveValuesWindow() = default;
  virtual void StoreLiveValues(const LiveImage& image, uint32_t stageFlags) = 0;
  virtual void ClearLiveValues() = 0;
  virtual void ShowLiveValues() = 0;
};

// ReadLiveValues, for the firmware of link.Session(): registers, coils, 80 ms, frequency again.
// Success: StoreLiveValues, then ShowLiveValues on the user-interface thread. Any failed step:
// ClearLiveValues, ShowLiveValues, then DrainInput. Returns true on success.
bool ReadLiveValues(TModbus& link, LiveValuesWindow& window);

}  // namespace nx480
