// The protection settings record as rows of names and values with their units, for
// `settings show` and `settings diff`: a row for each parameter of the table (settings_table.h)
// and one for each word no parameter takes. Every bit of the 24 words belongs to exactly one
// row, so two records are equal exactly when no row differs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "firmware_features.h"
#include "settings_words.h"

namespace nx480::ctl {

struct SettingsRow {
  std::string name;   // the value's name (Uu1, tUu1, ...), or "word N" for a word carried as is
  std::string value;  // with its unit: "196 V (85 %)", "1.50 s", "47.5 Hz", "three-phase"
};

// The rows of `record`, delays at the firmware's delay scale.
std::vector<SettingsRow> SettingsRows(const SettingsWords& record,
                                      const FirmwareFeatures& firmware);

// The indices (into SettingsRows) of the rows whose bits differ between `a` and `b`.
std::vector<size_t> DifferingRows(const SettingsWords& a, const SettingsWords& b);

// "time scale: 20 steps per second (firmware 14)".
std::string TimeScaleLine(const FirmwareFeatures& firmware);

// The rows of `record`, one a line: "Uu1     196 V (85 %)".
std::string SettingsTable(const SettingsWords& record, const FirmwareFeatures& firmware);

// The differing rows side by side under a title line ("row", `leftTitle`, `rightTitle`);
// empty when the records are equal.
std::string DiffTable(const SettingsWords& left, const SettingsWords& right,
                      const FirmwareFeatures& firmware, const std::string& leftTitle,
                      const std::string& rightTitle);

}  // namespace nx480::ctl
