// Two protection settings records compared row by row, the same for the settings window's
// "Parametry" page and `nx480ctl settings diff`: a row for each parameter of the table
// (settings_table.h) and one for each word no parameter takes. Every bit of the 24 words
// belongs to exactly one row, so two records are equal exactly when no row differs. Plain C++.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "firmware_features.h"
#include "settings_table.h"
#include "settings_words.h"

namespace nx480 {

// Rows 0 .. kSettingsParameters.size() - 1 are the parameters in the table's order, the rest
// the carried words (kCarriedWords) in order.
inline constexpr size_t kSettingsRowCount = kSettingsParameters.size() + kCarriedWords.size();

// The row's parameter, or nullptr for a carried word.
const SettingsParameter* RowParameter(size_t row);
// The row's carried word, or -1 for a parameter.
int RowCarriedWord(size_t row);

struct SettingsRow {
  std::string name;   // the value's name (Uu1, tUu1, ...), or "word N" for a word carried as is
  std::string value;  // with its unit: "196 V (85 %)", "1.50 s", "47.5 Hz", "three-phase"
};

// The rows of `record`, delays at the firmware's delay scale.
std::vector<SettingsRow> SettingsRows(const SettingsWords& record,
                                      const FirmwareFeatures& firmware);

// The indices (into SettingsRows) of the rows whose bits differ between `a` and `b`.
std::vector<size_t> DifferingRows(const SettingsWords& a, const SettingsWords& b);

// The row as the settings window names it: the parameter's name, "slovo 20" for a carried word
// (translated: "word 20").
std::string PageRowName(size_t row);
// The row's value as the settings window writes it: ParameterText with a decimal comma
// ("196 V (85 %)", "1,50 s", "47,5 Hz"), the mode as the page's radio group names it
// ("třífázový", "jednofáz."), a carried word in hex ("0x01F4").
std::string PageValueText(const SettingsWords& record, size_t row,
                          const FirmwareFeatures& firmware);
// A text of nx480ctl's numbers as the settings window writes them: a decimal comma, a range's
// ".." as a dash ("184..253 V": "184–253 V").
std::string PageNumberText(std::string text);

}  // namespace nx480
