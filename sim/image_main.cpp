// nx480-image: writes firmware image files (.bn6) for tests and demos, good or broken on
// purpose, and checks files the way the service tool does when it loads one.

#include <cstdio>
#include <exception>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "faults.h"
#include "firmware_image.h"

namespace {

using nx480::sim::ImageDefect;
using nx480::sim::ImageOptions;

constexpr const char* kUsage =
    "usage: nx480-image [options] OUT.bn6\n"
    "       nx480-image --check FILE\n"
    "  --name TEXT       application name, at most 16 characters (default NX480)\n"
    "  --version TEXT    version, at most 8 characters (default 1.15)\n"
    "  --blocks N        number of 262-byte blocks, 1..250 (default 4; the tool takes 125 at "
    "most)\n"
    "  --address A       byte address of the first block, 0..0xFFFF (default 0)\n"
    "  --seed N          seed of the data bytes (default 480)\n"
    "  --bad-crc K       block K gets a wrong CRC\n"
    "  --high-half K     block K gets non-zero bytes 2..3 (its CRC fits them)\n"
    "  --length N        cut the file to N bytes or pad it with 0xFF (0: one byte short)\n"
    "  --check FILE      check FILE as the tool does on loading; prints the verdict,\n"
    "                    exit status 0 for a good image, 1 for a bad one\n"
    "Exit status 2 for bad arguments or a file that cannot be read or written.\n";

int Usage(const std::string& error) {
  std::cerr << "nx480-image: " << error << "\n" << kUsage;
  return 2;
}

bool Number(const std::string& text, long long min, long long max, long long& out) {
  long long value = 0;
  if (!nx480::sim::ParseInt(text, value) || value < min || value > max) return false;
  out = value;
  return true;
}

int Check(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::cerr << "nx480-image: cannot read " << path << "\n";
    return 2;
  }
  const std::vector<std::uint8_t> file((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
  const auto check = nx480::sim::CheckImage(file);
  std::cout << nx480::sim::ImageVerdictName(check.verdict);
  if (check.block >= 0) std::cout << " block=" << check.block;
  if (check.verdict == nx480::sim::ImageVerdict::kOk) {
    std::cout << " blocks=" << check.blocks << " name=" << check.name
              << " version=" << check.version;
  }
  std::cout << " bytes=" << file.size() << "\n";
  return check.verdict == nx480::sim::ImageVerdict::kOk ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  ImageOptions options;
  std::string out;
  int defects = 0;
  const std::vector<std::string> args(argv + 1, argv + argc);
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool has_value = i + 1 < args.size();
    const std::string value = has_value ? args[i + 1] : std::string();
    long long n = 0;
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (arg == "--check") {
      if (!has_value || args.size() != 2) return Usage("--check takes one file and nothing else");
      return Check(value);
    } else if (arg == "--name" && has_value) {
      options.name = value;
    } else if (arg == "--version" && has_value) {
      options.version = value;
    } else if (arg == "--blocks" && has_value && Number(value, 1, 250, n)) {
      options.blocks = static_cast<int>(n);
    } else if (arg == "--address" && has_value && Number(value, 0, 0xFFFF, n)) {
      options.address = static_cast<std::uint16_t>(n);
    } else if (arg == "--seed" && has_value && Number(value, 0, 0xFFFFFFFFLL, n)) {
      options.seed = static_cast<std::uint32_t>(n);
    } else if ((arg == "--bad-crc" || arg == "--high-half") && has_value &&
               Number(value, 0, 249, n)) {
      options.defect = arg == "--bad-crc" ? ImageDefect::kBadCrc : ImageDefect::kHighHalf;
      options.defect_block = static_cast<int>(n);
      ++defects;
    } else if (arg == "--length" && has_value && Number(value, 0, 1 << 20, n)) {
      options.defect = ImageDefect::kWrongLength;
      options.length = static_cast<std::size_t>(n);
      ++defects;
    } else if (arg.rfind("--", 0) != 0 && out.empty()) {
      out = arg;
      continue;
    } else {
      return Usage("bad argument '" + arg + "'" + (has_value ? " " + value : std::string()));
    }
    ++i;  // the option's value
  }
  if (out.empty()) return Usage("no output file");
  if (defects > 1) return Usage("one of --bad-crc, --high-half, --length at a time");

  std::vector<std::uint8_t> image;
  try {
    image = nx480::sim::WriteImage(options);
  } catch (const std::exception& e) {
    return Usage(e.what());
  }
  std::ofstream file(out, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(image.data()),
             static_cast<std::streamsize>(image.size()));
  if (!file.flush()) {
    std::cerr << "nx480-image: cannot write " << out << "\n";
    return 2;
  }
  return 0;
}
