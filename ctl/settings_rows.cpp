#include "settings_rows.h"

#include <algorithm>
#include <cstdio>

#include "output.h"
#include "settings_record.h"

namespace nx480::ctl {

namespace {

enum class Kind { Voltage, Frequency, Delay, Faze, Log, Word };

// A row: the box that shows it, and the bits of the word it comes from.
struct RowForm {
  const char* name;
  Kind kind;
  int box;  // -1: none
  int word;
  uint16_t mask;
};

// In the order of the "Parametry" page: the mode, each stage's value and delay, the
// reconnection time, the recording interval; then the words the page carries unchanged.
constexpr RowForm kRows[] = {
    {"Faze", Kind::Faze, -1, kWordFaze, 0xFFFF},
    {"Uu1", Kind::Voltage, kBoxUu1, kWordUu1, 0xFFFF},
    {"tUu1", Kind::Delay, kBoxTUu1, kWordTUu, 0x00FF},
    {"Uu2", Kind::Voltage, kBoxUu2, kWordUu2, 0xFFFF},
    {"tUu2", Kind::Delay, kBoxTUu2, kWordTUu, 0xFF00},
    {"Uo1", Kind::Voltage, kBoxUo1, kWordUo1, 0xFFFF},
    {"tUo1", Kind::Delay, kBoxTUo1, kWordTUo1, 0xFFFF},
    {"Uo2", Kind::Voltage, kBoxUo2, kWordUo2, 0xFFFF},
    {"tUo2", Kind::Delay, kBoxTUo2, kWordTUo, 0x00FF},
    {"Uo3", Kind::Voltage, kBoxUo3, kWordUo3, 0xFFFF},
    {"tUo3", Kind::Delay, kBoxTUo3, kWordTUo, 0xFF00},
    {"Fu1", Kind::Frequency, kBoxFu1, kWordFu1, 0xFFFF},
    {"tFu1", Kind::Delay, kBoxTFu1, kWordTFu, 0x00FF},
    {"Fu2", Kind::Frequency, kBoxFu2, kWordFu2, 0xFFFF},
    {"tFu2", Kind::Delay, kBoxTFu2, kWordTFu, 0xFF00},
    {"Fo1", Kind::Frequency, kBoxFo1, kWordFo1, 0xFFFF},
    {"tFo1", Kind::Delay, kBoxTFo1, kWordTFo, 0x00FF},
    {"Fo2", Kind::Frequency, kBoxFo2, kWordFo2, 0xFFFF},
    {"tFo2", Kind::Delay, kBoxTFo2, kWordTFo, 0xFF00},
    {"tRel", Kind::Delay, kBoxTRel, kWordTRel, 0xFFFF},
    {"Log", Kind::Log, -1, kWordLog, 0xFFFF},
    {"word 4", Kind::Word, -1, 4, 0xFFFF},
    {"word 5", Kind::Word, -1, 5, 0xFFFF},
    {"word 6", Kind::Word, -1, 6, 0xFFFF},
    {"word 20", Kind::Word, -1, 20, 0xFFFF},
    {"word 21", Kind::Word, -1, 21, 0xFFFF},
    {"word 22", Kind::Word, -1, 22, 0xFFFF},
    {"word 23", Kind::Word, -1, 23, 0xFFFF},
};

constexpr size_t kNameWidth = 9;

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(' ');
  return first == std::string::npos ? std::string() : text.substr(first);
}

std::string Hex(uint16_t word) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(word));
  return text;
}

std::string ValueOf(const RowForm& row, const SettingsWords& record, const ParameterBoxes& boxes) {
  const uint16_t word = record[row.word];
  switch (row.kind) {
    case Kind::Voltage:
      return boxes.text[row.box] + " V (" + boxes.text[PartnerBox(row.box)] + " %)";
    case Kind::Frequency:
      return Trimmed(boxes.text[row.box]) + " Hz";
    case Kind::Delay:
      return Trimmed(boxes.text[row.box]) + " s";
    case Kind::Faze: {
      // The page's radio group: its item, and the word itself where the item does not say it
      // all (a mode byte above 1, a low byte that is not 0).
      std::string text = boxes.fazeIndex == 0 ? "single-phase" : "three-phase";
      if (word != static_cast<uint16_t>(boxes.fazeIndex << 8)) text += " (" + Hex(word) + ")";
      return text;
    }
    case Kind::Log:
      return std::to_string(word) + " s";
    case Kind::Word:
      return Hex(word);
  }
  return "";
}

}  // namespace

std::vector<SettingsRow> SettingsRows(const SettingsWords& record,
                                      const FirmwareFeatures& firmware) {
  ParameterBoxes boxes;
  SettingsToBoxes(record, firmware, boxes);
  std::vector<SettingsRow> rows;
  for (const RowForm& row : kRows) rows.push_back({row.name, ValueOf(row, record, boxes)});
  return rows;
}

std::vector<size_t> DifferingRows(const SettingsWords& a, const SettingsWords& b) {
  std::vector<size_t> rows;
  for (size_t i = 0; i < std::size(kRows); ++i)
    if ((a[kRows[i].word] ^ b[kRows[i].word]) & kRows[i].mask) rows.push_back(i);
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
