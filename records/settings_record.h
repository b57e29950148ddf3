// The protection settings record and the "Parametry" boxes: conversions both ways, the coupled
// volt and percent boxes, the recording intervals and the window caption. Plain C++: the
// settings window hands the texts of its boxes over in a ParameterBoxes and shows what comes
// back. Which word and bits each box stands for, and at what scale: settings_table.h.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "firmware_features.h"
#include "settings_table.h"
#include "settings_words.h"
#include "translation.h"

namespace nx480 {

inline constexpr int kVoltageBoxes = 5;
inline bool IsVoltageBox(int box) {
  return box >= kBoxUu1 && box <= kBoxUo3;
}
inline bool IsPercentBox(int box) {
  return box >= kBoxPUu1 && box <= kBoxPUo3;
}
// The partner of a voltage or percent box; -1 for any other box.
int PartnerBox(int box);

// A word that its box shows rounded, as SettingsToBoxes showed it: while the box holds exactly
// this text (at the same time scale) the word goes back unchanged instead of being converted
// from the rounded text.
struct ShownWord {
  std::string text;
  uint16_t word = 0;
  int timeScale = 0;  // 0: nothing shown yet
};

// The texts of the boxes and the two selections of the page.
struct ParameterBoxes {
  ParameterBoxes() { text[kBoxUn] = "230"; }  // EditUn: the nominal voltage, never changed
  std::array<std::string, kBoxCount> text{};
  int logIndex = 0;    // ComboBoxLog item
  int fazeIndex = -1;  // RadioGroupFaze item; -1 while none is selected
  // EdittRel shows tRel in tenths of a second, but at 20 steps per second a step is 0.05 s:
  // 601 steps show as "30.1", which would go back as 602.
  ShownWord tRelShown;
  // The user picked a ComboBoxLog item since the boxes were last filled. Until then the list
  // only shows the record's interval (rounded up to an item, or not at all before firmware
  // x.05), and the record's word 18 goes back unchanged.
  bool logChosen = false;
};

// ComboBoxLog items and the recording interval in seconds behind each.
//
// The relay's table of intervals runs on after 2 hours with 10800, 14400, 21600, 43200 and
// 65534 s, one entry more than the list has items. The list is lined up by what its items say:
// "4hod" 14400, "6hod" 21600, "12hod" 43200, and "24hod" the table's last entry, 65534 s, the
// longest interval the 16-bit word holds (a day in seconds does not fit). 10800 (3 hours) has no
// item and is never written; read from a relay it shows as the next longer item, "4hod".
inline constexpr int kLogItemCount = 19;
inline constexpr std::array<const char*, kLogItemCount> kLogItems{
    "Off", "1s", "2s", "5s", "10s", "15s", "30s", "1min", "2min", "5min", "10min", "15min", "30min",
    // The hours are words of the window's language (the page translates every item).
    QT_TRANSLATE_NOOP("PageParameters", "1hod"), QT_TRANSLATE_NOOP("PageParameters", "2hod"),
    QT_TRANSLATE_NOOP("PageParameters", "4hod"), QT_TRANSLATE_NOOP("PageParameters", "6hod"),
    QT_TRANSLATE_NOOP("PageParameters", "12hod"), QT_TRANSLATE_NOOP("PageParameters", "24hod")};
inline constexpr std::array<uint16_t, kLogItemCount> kLogIntervals{
    0, 1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600, 7200, 14400, 21600, 43200, 65534};
// The item shown for a stored interval: the first whose seconds are at least `seconds`, else
// the last.
int LogItemForSeconds(uint16_t seconds);

// Reading a decimal box: the first comma counts as a full stop; leading blanks are skipped and
// whatever follows the number is ignored; the result is multiplied by 1.00001 so that values
// such as 0.3 s do not truncate one step short. No number at the start of the text: nullopt.
std::optional<double> ReadBoxNumber(std::string_view text);
// A voltage box: a whole decimal number (leading blanks, an optional sign) that fits 32 bits,
// nothing after it.
std::optional<int32_t> ReadBoxInteger(std::string_view text);

// Leaving a voltage box: the text for its percent box, trunc(U / Un * 100 + 0.5); empty for an
// empty box. nullopt when the box holds no number (the partner then stays as it is).
std::optional<std::string> PercentForVoltage(std::string_view volts, std::string_view un);
// Leaving a percent box: the text for its voltage box, trunc(Un * P * 0.01 + 0.5).
std::optional<std::string> VoltageForPercent(std::string_view percent, std::string_view un);

// The messages of a box that holds no number, which stop a write or a save.
std::string InvalidIntegerMessage(std::string_view text);  // "'%s' is not a valid integer value"
std::string InvalidNumberMessage(std::string_view text);   // ... "valid floating point value"

// Builds the record from the boxes. Voltages are whole numbers stored modulo 65536; frequencies
// trunc(f * 10); times trunc(t * delayScale), a delay byte modulo 256 and tRel and tUo1 modulo
// 65536 (an EdittRel still showing what SettingsToBoxes put there gives back its word); Log
// from the list when the user chose an item, else the record's word; Faze from the radio group
// (with no item selected the record's word 7 stays as it is). Words 4-6 and 20-23 are not touched.
// A box that gives no number - a voltage that is not a whole number, or a frequency, delay or
// percent that is not a number - fails the whole operation: the record is left unchanged and
// `error` holds the message.
bool BoxesToSettings(const ParameterBoxes& boxes, const FirmwareFeatures& firmware,
                     SettingsWords& record, std::string& error);

// Fills the boxes from the record: voltages "%hu" with their percent boxes following,
// frequencies and tRel "%4.1f", delays "%4.2f" (at the firmware's delay scale), the recording
// interval only for a firmware that has one, Faze by its high byte (above 1: the last item). EditUn
// is not touched. Notes what tRel shows and forgets a list choice (see ParameterBoxes).
void SettingsToBoxes(const SettingsWords& record, const FirmwareFeatures& firmware,
                     ParameterBoxes& boxes);

// What differs between two records, by the names of settings_table.h in its order (the
// parameters whose bits differ), then the carried words that differ as "slovo 20".
std::vector<std::string> DifferingNames(const SettingsWords& a, const SettingsWords& b);

// The window caption: "Nastavení", and on the "Parametry" page with a settings file
// " - " + path, "*" when modified.
std::string SetupCaption(bool parametryPage, const std::string& fileName, bool modified);

}  // namespace nx480
