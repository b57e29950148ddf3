#include "firmware_features.h"

namespace nx480 {

FirmwareFeatures FirmwareFeaturesOf(int v) {
  FirmwareFeatures f;
  f.minor = v;
  f.delayScale = v < 5 ? 10 : 20;
  f.uo1Stage = v >= 5;
  f.logInterval = v >= 5;
  f.logLabel = v >= 6;
  f.historyClearing = v >= 5;
  f.fo2Stage = v >= 9;
  f.resolutionBox = v >= 11;
  f.relayMode = v >= kRelayModeFirmware;
  f.tenMinuteArea = v >= 5;
  f.liveRegisters = v <= 4 ? 5 : v <= 10 ? 9 : v == 11 ? 13 : v == 12 ? 10 : 16;
  f.liveCoils = v <= 8 ? 16 : 24;
  f.tenthsInMainRegisters = v == 12;
  f.tenMinuteTenths = v >= 12;
  f.temperatureShowsItself = v == 12 || v >= 14;
  return f;
}

}  // namespace nx480
