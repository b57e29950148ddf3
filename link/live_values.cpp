#include "live_values.h"

#include <chrono>

namespace nx480 {

using namespace std::chrono_literals;

LivePlan LivePlanFor(const FirmwareFeatures& firmware) {
  const FrameTemplate* coils =
      firmware.liveCoils == 16 ? &templates::kCoils16 : &templates::kCoils24;
  const int coilCount = firmware.liveCoils;
  switch (firmware.liveRegisters) {
    case 5:
      return {&templates::kLiveRegisters5, 5, coils, coilCount};
    case 9:
      return {&templates::kLiveRegisters9, 9, coils, coilCount};
    case 13:
      return {&templates::kLiveRegisters13, 13, coils, coilCount};
    case 10:
      return {&templates::kLiveRegisters10, 10, coils, coilCount};
    default:
      return {&templates::kLiveRegisters16, 16, coils, coilCount};
  }
}

uint32_t StageFlagsFromCoils(const uint8_t* coilData, int coilCount) {
  uint32_t flags = static_cast<uint32_t>(coilData[0]) | static_cast<uint32_t>(coilData[1]) << 8;
  if (coilCount > 16) flags |= static_cast<uint32_t>(coilData[2]) << 16;
  return flags;
}

bool ReadLiveValues(TModbus& link, LiveValuesWindow& window) {
  const FirmwareFeatures& firmware = link.Session().firmware;
  const LivePlan plan = LivePlanFor(firmware);
  bool good = false;
  do {
    link.SendRequest(link.BuildRequest(*plan.registers));
    if (!link.CheckReply(kMainReply, plan.registers->replyLength)) break;
    link.SendRequest(link.BuildRequest(*plan.coils));
    if (!link.CheckReply(kCoilReply, plan.coils->replyLength)) break;
    if (!link.Sleep(80ms)) break;
    link.SendRequest(link.BuildRequest(templates::kFrequencyAgain));
    if (!link.CheckReply(kFrequencyReply, templates::kFrequencyAgain.replyLength)) break;
    good = true;
  } while (false);

  if (good) {
    const std::span<const uint8_t> bytes(link.ReplyBuffer.data() + kLiveImageStart,
                                         link.ReplyBuffer.size() - kLiveImageStart);
    window.StoreLiveValues(LiveImage{bytes, plan.registerCount, firmware},
                           StageFlagsFromCoils(bytes.data() + kLiveCoilData, plan.coilCount));
    link.Synchronize([&window] { window.ShowLiveValues(); });
    return true;
  }
  // The replies that did arrive are not handed over.
  window.ClearLiveValues();
  link.Synchronize([&window] { window.ShowLiveValues(); });
  link.DrainInput();
  return false;
}

}  // namespace nx480
