#include "commands.h"

#include <cstdio>

#include "output.h"
#include "relay_link.h"
#include "settings_record.h"
#include "text_codec.h"

namespace nx480::ctl {

Exit RunIdentify(const Invocation& invocation) {
  RelayLink relay(invocation);
  if (const Exit connected = relay.Connect(); connected != Exit::Ok) return connected;
  const RelaySession& s = relay.Session();
  const std::string serial =
      HasSerialNumber(s.serialNumber) ? SerialNumberDigits(s.serialNumber, 6) : "unknown";
  Print("port: " + s.port + "\n" +
        // The relay's own text, in its code page: shown as the main window shows it.
        "identification: " + Cp1250ToUtf8(s.identText) + "\n" +
        "firmware: " + std::to_string(s.firmware.minor) + " (delays in steps of 1/" +
        std::to_string(s.firmware.delayScale) + " s)\n" + "temperature: " +
        (s.hasTemperature ? "yes" : "no") + "\n" + "serial number: " + serial + "\n");
  return Exit::Ok;
}

Exit RunCommand(const Invocation& invocation) {
  switch (invocation.command) {
    case Command::Identify:
      return RunIdentify(invocation);
    case Command::Live:
      return RunLive(invocation);
    case Command::SettingsRead:
    case Command::SettingsWrite:
    case Command::SettingsShow:
    case Command::SettingsDiff:
    case Command::SettingsCheck:
      return RunSettings(invocation);
    case Command::Clock:
      return RunClock(invocation);
    case Command::Relay:
      return RunRelay(invocation);
    case Command::Calibration:
    case Command::CalibrationSet:
    case Command::ClearHistory:
      return RunCalibration(invocation);
    case Command::History:
      return RunHistory(invocation);
    case Command::Upload:
      return RunUpload(invocation);
    case Command::JournalList:
    case Command::JournalShow:
    case Command::JournalRestore:
      return RunJournal(invocation);
    case Command::Report:
      return RunReport(invocation);
    case Command::Help:
    case Command::Version:
      break;
  }
  return Exit::Usage;
}

}  // namespace nx480::ctl
