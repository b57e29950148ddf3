#include "settings_rows.h"

#include <algorithm>

#include "output.h"
#include "settings_table.h"

namespace nx480::ctl {

namespace {

constexpr size_t kNameWidth = 9;

}  // namespace

// The parameters in the table's order, then the words no parameter takes.
std::vector<SettingsRow> SettingsRows(const SettingsWords& record,
                                      const FirmwareFeatures& firmware) {
  std::vector<SettingsRow> rows;
  for (const SettingsParameter& p : SettingsParameters())
    rows.push_back({std::string(p.name), ParameterText(record, p, firmware)});
  for (int word : kCarriedWords)
    rows.push_back({"word " + std::to_string(word), HexWord(record[word])});
  return rows;
}

std::vector<size_t> DifferingRows(const SettingsWords& a, const SettingsWords& b) {
  std::vector<size_t> rows;
  size_t row = 0;
  for (const SettingsParameter& p : SettingsParameters()) {
    if (ParameterDiffers(a, b, p)) rows.push_back(row);
    ++row;
  }
  for (int word : kCarriedWords) {
    if (a[word] != b[word]) rows.push_back(row);
    ++row;
  }
  return rows;
}

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
