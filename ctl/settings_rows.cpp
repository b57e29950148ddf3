#include "settings_rows.h"

#include <algorithm>

#include "output.h"
#include "settings_table.h"

namespace nx480::ctl {

namespace {

constexpr size_t kNameWidth = 9;

}  // namespace

std::string TimeScaleLine(const FirmwareFeatures& firmware) {
  return "time scale: " + std::to_string(firmware.delayScale) + " steps per second (firmware " +
         std::to_string(firmware.minor) + ")";
}

std::string SettingsTable(const SettingsWords& record, const FirmwareFeatures& firmware) {
  std::string text;
  for (const SettingsRow& row : SettingsRows(record, firmware))
    text += Column(row.name, kNameWidth) + row.value + "\n";
  return text;
}

std::string DiffTable(const SettingsWords& left, const SettingsWords& right,
                      const FirmwareFeatures& firmware, const std::string& leftTitle,
                      const std::string& rightTitle) {
  const std::vector<size_t> differing = DifferingRows(left, right);
  if (differing.empty()) return "";
  const std::vector<SettingsRow> a = SettingsRows(left, firmware);
  const std::vector<SettingsRow> b = SettingsRows(right, firmware);
  size_t width = leftTitle.size();
  for (size_t i : differing) width = std::max(width, a[i].value.size());
  width += 2;
  std::string text = Column("row", kNameWidth) + Column(leftTitle, width) + rightTitle + "\n";
  for (size_t i : differing)
    text += Column(a[i].name, kNameWidth) + Column(a[i].value, width) + b[i].value + "\n";
  return text;
}

}  // namespace nx480::ctl
