// What a relay's firmware can do, decided once from its two-digit firmware number (1.14.d: 14)
// and carried in the session. Windows, transactions and nx480ctl ask these by name; no other
// place compares firmware numbers. A new difference between firmwares is a new member here.
#pragma once

namespace nx480 {

// The relay mode (coils 0-1) exists from this firmware number on; older relays are never sent one.
inline constexpr int kRelayModeFirmware = 14;

struct FirmwareFeatures {
  int minor = 0;                 // the firmware number itself, for the texts that name it
  int delayScale = 10;           // delay steps per second: 10 before x.05, 20 from it
  bool uo1Stage = false;         // the U>1 stage (its boxes; the live captions U>>, U>>> above it)
  bool logInterval = false;      // the settings record's log interval is read into the list
  bool logLabel = false;         // the log interval's label is enabled
  bool historyClearing = false;  // the event history can be cleared
  bool fo2Stage = false;         // the f>> stage (its boxes and its live panel)
  bool resolutionBox = false;    // the live window's 0,1 V box
  bool relayMode = false;        // the relay mode (Auto / On / Off)
  bool tenMinuteArea = false;    // the live window's 10-minute area
  // The live values read: input registers from 0 and protection-stage coils from 0.
  int liveRegisters = 5;
  int liveCoils = 16;
  // Registers 0-2 and 5-7 hold tenths of a volt (no separate tenths block).
  bool tenthsInMainRegisters = false;
  // In 0,1 V mode the 10-minute values are tenths too (otherwise whole volts from 5-7).
  bool tenMinuteTenths = false;
  // The temperature box comes up by itself for a reading other than exactly "25,0".
  bool temperatureShowsItself = false;

  bool operator==(const FirmwareFeatures&) const = default;
};

FirmwareFeatures FirmwareFeaturesOf(int firmwareMinor);

}  // namespace nx480
