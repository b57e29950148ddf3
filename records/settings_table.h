// The protection settings record's parameters, one entry each: where its bits are, what they
// mean in units, the "Parametry" box that shows it and the firmware feature that brings it.
// The record's conversions to and from the page's boxes (settings_record.h) and nx480ctl's rows
// are built from this table; a new parameter is one more entry here.
//
// Record words (holding registers 0-23), delays and times in steps of 1/delayScale second
// (FirmwareFeatures), frequencies in steps of 0.1 Hz, voltages in volts:
//   0 tUu1 | tUu2 << 8    1 tUo2 | tUo3 << 8    2 tFu1 | tFu2 << 8    3 tFo1 | tFo2 << 8
//   4-6 carried unchanged  7 Faze << 8           8 Uu1  9 Uu2  10 Uo2  11 Uo3
//   12 Fu1  13 Fu2  14 Fo1   15 tRel   16 Uo1   17 tUo1   18 Log (seconds)   19 Fo2
//   20-23 carried unchanged
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "firmware_features.h"
#include "settings_words.h"

namespace nx480 {

// Record word indices.
enum SettingsWord : int {
  kWordTUu = 0,  // tUu1, tUu2
  kWordTUo = 1,  // tUo2, tUo3
  kWordTFu = 2,  // tFu1, tFu2
  kWordTFo = 3,  // tFo1, tFo2
  kWordFaze = 7,
  kWordUu1 = 8,
  kWordUu2 = 9,
  kWordUo2 = 10,
  kWordUo3 = 11,
  kWordFu1 = 12,
  kWordFu2 = 13,
  kWordFo1 = 14,
  kWordTRel = 15,
  kWordUo1 = 16,
  kWordTUo1 = 17,
  kWordLog = 18,
  kWordFo2 = 19,
};

// The edit boxes of the "Parametry" page (named after the controls without "Edit").
enum Box : int {
  kBoxUn,
  // Voltage boxes and their percent partners, in the same order.
  kBoxUu1,
  kBoxUu2,
  kBoxUo1,
  kBoxUo2,
  kBoxUo3,
  kBoxPUu1,
  kBoxPUu2,
  kBoxPUo1,
  kBoxPUo2,
  kBoxPUo3,
  // Frequencies.
  kBoxFu1,
  kBoxFu2,
  kBoxFo1,
  kBoxFo2,
  // Delays.
  kBoxTUu1,
  kBoxTUu2,
  kBoxTUo1,
  kBoxTUo2,
  kBoxTUo3,
  kBoxTFu1,
  kBoxTFu2,
  kBoxTFo1,
  kBoxTFo2,
  kBoxTRel,
  kBoxCount
};

// The bits of its word a parameter takes.
enum class WordPart : uint8_t { Whole, LowByte, HighByte };

// What a parameter's steps count, and so its unit.
enum class Quantity : uint8_t {
  Voltage,    // volts (also as percent of the nominal 230 V)
  Frequency,  // hertz
  Time,       // seconds, in steps of 1/delayScale second
  Interval,   // the recording interval in seconds
  Phases,     // the operating mode: 0 single-phase, 1 three-phase (see kSettingsParameters)
};

// A firmware feature, asked by name: FirmwareFeatures::*feature.
using FeatureMember = bool FirmwareFeatures::*;

struct SettingsParameter {
  std::string_view name;  // as the page and nx480ctl name it: Uu1, tUu1, ...
  int word;               // SettingsWord
  WordPart part;
  Quantity quantity;
  int stepsPerUnit;       // 10: steps of 0.1 unit; 0 for a time (delayScale steps per second)
  int decimals;           // the decimals the page shows
  int box;                // Box, or -1: the page shows it in a list or radio group of its own
  FeatureMember feature;  // the feature that brings it; nullptr: every firmware has it
};

// In the order of the page: the mode, each stage's value and delay, the reconnection time, the
// recording interval. Faze takes the whole of word 7: the mode is its high byte, the page writes
// the low byte 0 and shows any mode above 1 as three-phase.
inline constexpr std::array<SettingsParameter, 21> kSettingsParameters{{
    {"Faze", kWordFaze, WordPart::Whole, Quantity::Phases, 1, 0, -1, nullptr},
    {"Uu1", kWordUu1, WordPart::Whole, Quantity::Voltage, 1, 0, kBoxUu1, nullptr},
    {"tUu1", kWordTUu, WordPart::LowByte, Quantity::Time, 0, 2, kBoxTUu1, nullptr},
    {"Uu2", kWordUu2, WordPart::Whole, Quantity::Voltage, 1, 0, kBoxUu2, nullptr},
    {"tUu2", kWordTUu, WordPart::HighByte, Quantity::Time, 0, 2, kBoxTUu2, nullptr},
    {"Uo1", kWordUo1, WordPart::Whole, Quantity::Voltage, 1, 0, kBoxUo1,
     &FirmwareFeatures::uo1Stage},
    {"tUo1", kWordTUo1, WordPart::Whole, Quantity::Time, 0, 2, kBoxTUo1,
     &FirmwareFeatures::uo1Stage},
    {"Uo2", kWordUo2, WordPart::Whole, Quantity::Voltage, 1, 0, kBoxUo2, nullptr},
    {"tUo2", kWordTUo, WordPart::LowByte, Quantity::Time, 0, 2, kBoxTUo2, nullptr},
    {"Uo3", kWordUo3, WordPart::Whole, Quantity::Voltage, 1, 0, kBoxUo3, nullptr},
    {"tUo3", kWordTUo, WordPart::HighByte, Quantity::Time, 0, 2, kBoxTUo3, nullptr},
    {"Fu1", kWordFu1, WordPart::Whole, Quantity::Frequency, 10, 1, kBoxFu1, nullptr},
    {"tFu1", kWordTFu, WordPart::LowByte, Quantity::Time, 0, 2, kBoxTFu1, nullptr},
    {"Fu2", kWordFu2, WordPart::Whole, Quantity::Frequency, 10, 1, kBoxFu2, nullptr},
    {"tFu2", kWordTFu, WordPart::HighByte, Quantity::Time, 0, 2, kBoxTFu2, nullptr},
    {"Fo1", kWordFo1, WordPart::Whole, Quantity::Frequency, 10, 1, kBoxFo1, nullptr},
    {"tFo1", kWordTFo, WordPart::LowByte, Quantity::Time, 0, 2, kBoxTFo1, nullptr},
    {"Fo2", kWordFo2, WordPart::Whole, Quantity::Frequency, 10, 1, kBoxFo2,
     &FirmwareFeatures::fo2Stage},
    {"tFo2", kWordTFo, WordPart::HighByte, Quantity::Time, 0, 2, kBoxTFo2,
     &FirmwareFeatures::fo2Stage},
    {"tRel", kWordTRel, WordPart::Whole, Quantity::Time, 0, 1, kBoxTRel, nullptr},
    {"Log", kWordLog, WordPart::Whole, Quantity::Interval, 1, 0, -1,
     &FirmwareFeatures::logInterval},
}};

// The words no parameter takes: the page and the file carry them as they are.
inline constexpr std::array<int, 7> kCarriedWords{4, 5, 6, 20, 21, 22, 23};

// The nominal voltage the percent values are of (the page's EditUn).
inline constexpr double kNominalVolts = 230;

std::span<const SettingsParameter> SettingsParameters();
// The parameter named `name`, or nullptr.
const SettingsParameter* FindSettingsParameter(std::string_view name);

// Whether the firmware has the parameter (the relay keeps the bits either way).
bool HasParameter(const FirmwareFeatures& firmware, const SettingsParameter& parameter);

// The bits of its word the parameter takes: 0xFFFF, 0x00FF or 0xFF00.
uint16_t ParameterMask(const SettingsParameter& parameter);
// Whether the parameter's bits differ between two records.
bool ParameterDiffers(const SettingsWords& a, const SettingsWords& b,
                      const SettingsParameter& parameter);

// The parameter's bits as a number (a byte shifted down), and stored back: a byte takes
// `steps` modulo 256, the rest of the word stays.
uint16_t ParameterSteps(const SettingsWords& record, const SettingsParameter& parameter);
void SetParameterSteps(SettingsWords& record, const SettingsParameter& parameter, uint16_t steps);

// Steps per unit at the firmware's time scale: delayScale for a time, else stepsPerUnit.
int StepsPerUnit(const SettingsParameter& parameter, const FirmwareFeatures& firmware);

// The value in units: volts, hertz, seconds; the mode (the high byte) of a phase choice.
double ParameterValue(const SettingsWords& record, const SettingsParameter& parameter,
                      const FirmwareFeatures& firmware);
// A record's delays, counted at `from`'s time scale, counted again at `to`'s (every other word
// as it is): what a record kept under one firmware means under another. False when a delay is
// no whole number of `to`'s steps or does not fit its part of the word: `rows` then names those
// and the record is left as it was.
bool RescaleDelays(SettingsWords& record, const FirmwareFeatures& from, const FirmwareFeatures& to,
                   std::vector<std::string>& rows);

// Whether a phase choice's mode is three-phase (the page's item 1: any mode above 0), else
// single-phase (item 0).
bool ThreePhase(double mode);
// A voltage as percent of kNominalVolts.
double PercentOfNominal(double volts);

// The unit's symbol: "V", "Hz", "s"; empty for a phase choice.
std::string_view UnitSymbol(Quantity quantity);

// printf's "%.<decimals>f" without the C locale's say on the decimal point.
std::string DecimalText(double value, int decimals);
// A word as its bits: "0x01F4".
std::string HexWord(uint16_t word);

// A value with its unit at the parameter's decimals: "196 V (85 %)" (the percent rounded
// half up), "1.50 s", "47.5 Hz", "60 s", "three-phase".
std::string ValueText(const SettingsParameter& parameter, double value);
// The parameter in the record as ValueText gives it; a phase choice whose word is not what the
// page writes for it (a mode above 1, a low byte that is not 0) adds the word: "three-phase
// (0x0201)".
std::string ParameterText(const SettingsWords& record, const SettingsParameter& parameter,
                          const FirmwareFeatures& firmware);

}  // namespace nx480
