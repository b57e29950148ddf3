// The relay's data model as seen over Modbus: coils, input registers and
// holding registers. Each table covers the full 16-bit address space but only
// addresses that were defined answer requests; everything else is an illegal
// data address.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace nx480::sim {

enum class Table : std::uint8_t { kCoils, kInputs, kHolding };

const char* TableName(Table table);

class RegisterTable {
 public:
  RegisterTable();

  // Makes [first, first + count) answerable, each address set to `initial`.
  // The range is clipped at the end of the address space.
  void Define(std::uint16_t first, std::uint32_t count, std::uint16_t initial = 0);
  // Removes [first, first + count) from the answerable set (values reset to 0).
  void Undefine(std::uint16_t first, std::uint32_t count);

  bool IsDefined(std::uint16_t address) const { return defined_[address]; }
  // True when every address of [first, first + count) is defined; false for
  // ranges that run past the end of the address space or are empty.
  bool AllDefined(std::uint32_t first, std::uint32_t count) const;

  // 0 for an undefined address.
  std::uint16_t Get(std::uint16_t address) const { return values_[address]; }
  // Returns false (and changes nothing) when the address is not defined.
  bool Set(std::uint16_t address, std::uint16_t value);

 private:
  std::vector<std::uint16_t> values_;
  std::vector<bool> defined_;
};

// Coils are kept as 0 or 1 in their table; a non-zero value reads as 1.
struct RegisterBank {
  RegisterTable coils;
  RegisterTable inputs;
  RegisterTable holding;

  RegisterTable& Of(Table table);
  const RegisterTable& Of(Table table) const;
};

}  // namespace nx480::sim
