#include "live_values.h"

#include <chrono>

namespace nx480 {

using namespace std::chrono_literals;

LivePlan LivePlanFor(int v) {
  const FrameTemplate* coils = v <= 8 ? &templates::kCoils16 : &templates::kCoils24;
  const int coilCount = v <= 8 ? 16 : 24;
  if (v <= 4) return {&templates::kLiveRegisters5, 5, coils, coilCount};
  if (v <= 10) return {&templates::kLiveRegisters9, 9, coils, coilCount};
  if (v == 11) return {&templates::kLiveRegisters13, 13, coils, coilCount};
  if (v == 12) return {&templates::kLiveRegisters10, 10, coils, coilCount};
  return {&templates::kLiveRegisters16, 16, coils, coilCount};
}

uint32_t StageFlagsFromCoils(const uint8_t* coilData, int coilCount) {
  uint32_t flags = static_cast<uint32_t>(coilData[0]) | static_cast<uint32_t>(coilData[1]) << 8;
  if (coilCount > 16) flags |= static_cast<uint32_t>(coilData[2]) << 16;
  return flags;
}

bool ReadLiveValues(TModbus& link, LiveValuesWindow& window) {
  const int firmwareMinor = link.Session().firmwareMinor;
  const LivePlan plan = LivePlanFor(firmwareMinor);
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
    window.StoreLiveValues(LiveImage{bytes, plan.registerCount, firmwareMinor},
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
