// The journal tests' samples: a relay's session and records, and an entry of each kind as the
// tool would open it.
#pragma once

#include <string>
#include <vector>

#include "journal_changes.h"
#include "relay_session.h"

namespace nx480::test {

inline SettingsWords SampleSettings() {
  SettingsWords r{};
  for (size_t i = 0; i < r.size(); ++i) r[i] = static_cast<uint16_t>(0x0101 * (i + 1));
  r[8] = 196;  // Uu1
  return r;
}

inline const CalibrationWords kCalibration = {1003, 1000, 999, 9987, 0x00C8, 1234, 0, 0x0101};

inline RelaySession SampleSession() {
  RelaySession session;
  session.connected = true;
  session.port = "/dev/ttyUSB0";
  session.identText = "NX480\x9A   1.14.d";  // "š" in the relay's code page
  session.firmware = FirmwareFeaturesOf(14);
  session.serialNumber = 1234;
  return session;
}

// An entry of each kind as the tool would open it for the relay 1234.
inline JournalEntry Sample(ChangeKind kind) {
  JournalEntry entry = NewJournalEntry(SampleSession(), kind, Keyed("settings-window"));
  switch (kind) {
    case ChangeKind::Settings:
      entry.backups = {SettingsBackup(SampleSettings())};
      entry.details = {Keyed("row", {"Uu1", "196 V", "200 V"})};
      break;
    case ChangeKind::Calibration:
      entry.description = Keyed("calibration-ctl", {"nx480ctl calibration set"});
      entry.backups = {CalibrationBackup(kCalibration)};
      entry.details = {Keyed("calibration-row", {"KalU1", "1.003", "1.010"})};
      break;
    case ChangeKind::Clock:
      entry.description = Keyed("clock-window");
      entry.details = ClockDetails(46000.5, 46000.5 - 1.5 / 86400);
      break;
    case ChangeKind::HistoryClearing: {
      entry.description = Keyed("clearing-window");
      const std::string csv = "Datum;Událost\r\n09.12.2026 23:15:02;U<1\r\n";
      entry.backups = {HistoryBackup({csv.begin(), csv.end()})};
      break;
    }
    case ChangeKind::FirmwareUpload:
      entry.description = Keyed("upload-ctl", {"nx480ctl upload"});
      entry.backups = FirmwareUploadBackups(entry.identification, SampleSettings(), kCalibration);
      entry.details = {FirmwareImageDetail("nx480-1.15.a.bn6", "NX480", "1.15", 32750, 125)};
      break;
    case ChangeKind::RelayMode:
      entry.description = Keyed("relay-window", {"forced on"});
      entry.details = {RelayModeDetail(2)};
      break;
  }
  return entry;
}

inline std::vector<std::string> English(const std::vector<JournalText>& texts) {
  return RenderJournalLines(texts, TextLanguage::English);
}

}  // namespace nx480::test
