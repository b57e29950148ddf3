// The settings file load: any file, of any length, fills the record as the file format says
// (the first 48 bytes, low byte first, the rest of the record kept), the same through the file
// as from memory; and the boxes filled from any record go back into the record unchanged, so a
// loaded file can always be written to the relay as it was loaded.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "settings_file.h"
#include "settings_record.h"

namespace {

using namespace nx480;

void Require(bool condition) {
  if (!condition) std::abort();
}

// The file the load reads: a file in memory, reached by its /proc path like any other file.
struct MemoryFile {
  MemoryFile()
      : fd(::memfd_create("settings.nx4", 0)), path("/proc/self/fd/" + std::to_string(fd)) {
    Require(fd >= 0);
  }
  void Fill(std::span<const uint8_t> bytes) const {
    Require(::ftruncate(fd, 0) == 0);
    Require(::pwrite(fd, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size()));
  }
  int fd;
  std::string path;
};

}  // namespace

// Input: one byte choosing the firmware number (0-19), then the file's bytes.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const nx480::FirmwareFeatures firmware = nx480::FirmwareFeaturesOf(data[0] % 20);
  const std::span<const uint8_t> file(data + 1, size - 1);

  SettingsWords before{};
  for (size_t i = 0; i < before.size(); ++i)
    before[i] = static_cast<uint16_t>(0xA5A5 ^ (i * 0x0101));
  SettingsWords record = before;
  const size_t taken = ApplySettingsFileBytes(file, record);
  Require(taken == std::min(file.size(), kSettingsFileSize));
  for (size_t b = 0; b < 2 * kSettingsWords; ++b) {
    const uint8_t byte = static_cast<uint8_t>(b % 2 ? record[b / 2] >> 8 : record[b / 2]);
    const uint8_t was = static_cast<uint8_t>(b % 2 ? before[b / 2] >> 8 : before[b / 2]);
    Require(byte == (b < taken ? file[b] : was));
  }

  static const MemoryFile stored;
  stored.Fill(file);
  SettingsWords loaded = before;
  FileError error;
  Require(LoadSettingsFile(stored.path, loaded, error));
  Require(loaded == record);

  ParameterBoxes boxes;
  SettingsToBoxes(record, firmware, boxes);
  SettingsWords back = record;
  std::string message;
  Require(BoxesToSettings(boxes, firmware, back, message));
  for (size_t i = 0; i < kSettingsWords; ++i) {
    // Faze: the radio group shows the item of the high byte (above 1: the last), and it goes back
    // as that item.
    if (i == 7) continue;
    Require(back[i] == record[i]);
  }
  Require(back[7] == std::min(record[7] >> 8, 1) << 8);
  return 0;
}
