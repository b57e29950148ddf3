#include "settings_compare.h"

#include "translation.h"

namespace nx480 {

const SettingsParameter* RowParameter(size_t row) {
  return row < kSettingsParameters.size() ? &kSettingsParameters[row] : nullptr;
}

int RowCarriedWord(size_t row) {
  if (row < kSettingsParameters.size() || row >= kSettingsRowCount) return -1;
  return kCarriedWords[row - kSettingsParameters.size()];
}

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
  for (size_t row = 0; row < kSettingsRowCount; ++row) {
    const SettingsParameter* p = RowParameter(row);
    const int word = RowCarriedWord(row);
    if (p != nullptr ? ParameterDiffers(a, b, *p) : a[word] != b[word]) rows.push_back(row);
  }
  return rows;
}

std::string PageRowName(size_t row) {
  if (const SettingsParameter* p = RowParameter(row)) return std::string(p->name);
  return Arg(translate("SettingsCompare", "slovo %1"), {std::to_string(RowCarriedWord(row))});
}

std::string PageNumberText(std::string text) {
  for (size_t at = text.find(".."); at != std::string::npos; at = text.find("..", at))
    text.replace(at, 2, "\u2013");
  for (char& c : text)
    if (c == '.') c = ',';
  return text;
}

std::string PageValueText(const SettingsWords& record, size_t row,
                          const FirmwareFeatures& firmware) {
  const SettingsParameter* p = RowParameter(row);
  if (p == nullptr) return HexWord(record[RowCarriedWord(row)]);
  std::string text = PageNumberText(ParameterText(record, *p, firmware));
  if (p->quantity == Quantity::Phases) {
    const bool three = ThreePhase(ParameterValue(record, *p, firmware));
    const std::string_view english = three ? "three-phase" : "single-phase";
    text.replace(0, english.size(),
                 three ? translate("SettingsCompare", "třífázový")
                       : translate("SettingsCompare", "jednofáz."));
  }
  return text;
}

}  // namespace nx480
