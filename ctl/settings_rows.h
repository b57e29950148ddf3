// The protection settings record as text for `settings show` and `settings diff`, one line a
// row; the rows and which of them differ come from records/settings_compare.h, the comparison
// the "Parametry" page makes too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "firmware_features.h"
#include "settings_compare.h"
#include "settings_words.h"

namespace nx480::ctl {

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
