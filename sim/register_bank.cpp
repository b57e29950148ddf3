#include "register_bank.h"

#include <algorithm>
#include <utility>

namespace nx480::sim {
namespace {
constexpr std::uint32_t kAddressSpace = 0x10000;
}

const char* TableName(Table table) {
  switch (table) {
    case Table::kCoils:
      return "coil";
    case Table::kInputs:
      return "input";
    case Table::kHolding:
      return "holding";
  }
  return "?";
}

RegisterTable::RegisterTable() : values_(kAddressSpace, 0), defined_(kAddressSpace, false) {}

void RegisterTable::Define(std::uint16_t first, std::uint32_t count, std::uint16_t initial) {
  const std::uint32_t end = std::min<std::uint32_t>(kAddressSpace, first + count);
  for (std::uint32_t a = first; a < end; ++a) {
    defined_[a] = true;
    values_[a] = initial;
  }
}

void RegisterTable::Undefine(std::uint16_t first, std::uint32_t count) {
  const std::uint32_t end = std::min<std::uint32_t>(kAddressSpace, first + count);
  for (std::uint32_t a = first; a < end; ++a) {
    defined_[a] = false;
    values_[a] = 0;
  }
}

bool RegisterTable::AllDefined(std::uint32_t first, std::uint32_t count) const {
  if (count == 0 || first >= kAddressSpace || count > kAddressSpace - first) return false;
  for (std::uint32_t a = first; a < first + count; ++a) {
    if (!defined_[a]) return false;
  }
  return true;
}

bool RegisterTable::Set(std::uint16_t address, std::uint16_t value) {
  if (!defined_[address]) return false;
  values_[address] = value;
  return true;
}

RegisterTable& RegisterBank::Of(Table table) {
  return const_cast<RegisterTable&>(std::as_const(*this).Of(table));
}

const RegisterTable& RegisterBank::Of(Table table) const {
  switch (table) {
    case Table::kCoils:
      return coils;
    case Table::kInputs:
      return inputs;
    case Table::kHolding:
      break;
  }
  return holding;
}

}  // namespace nx480::sim
