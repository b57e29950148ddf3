#include "port_list.h"

#include <grp.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <utility>

namespace nx480 {

namespace {

struct Candidate {
  int group;
  long number;
  std::string path;
};

// Group rank and number of a device name, or false when it is not a serial port name.
bool ParseName(const std::string& name, int& group, long& number) {
  static const char* const kPrefixes[] = {"ttyUSB", "ttyACM", "ttyS"};
  for (int g = 0; g < 3; ++g) {
    const std::string prefix = kPrefixes[g];
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
    const std::string digits = name.substr(prefix.size());
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
      return false;
    if (digits.size() > 6) return false;
    group = g;
    number = std::strtol(digits.c_str(), nullptr, 10);
    return true;
  }
  return false;
}

// A ttyS node whose UART type the kernel reports as 0 (unknown) has no hardware behind it.
bool HasUart(const std::string& sysClassTty, const std::string& name) {
  std::ifstream in(sysClassTty + "/" + name + "/type");
  int type = -1;
  if (!(in >> type)) return true;  // no information: let the open decide
  return type != 0;
}

}  // namespace

std::vector<std::string> SplitPortList(const std::string& list) {
  std::vector<std::string> out;
  std::string item;
  for (size_t i = 0; i < list.size(); ++i) {
    const bool separates =
        list[i] == ':' && (i + 1 == list.size() || list[i + 1] == '/' || list[i + 1] == ':');
    if (!separates) {
      item += list[i];
    } else if (!item.empty()) {
      out.push_back(std::exchange(item, {}));
    }
  }
  if (!item.empty()) out.push_back(item);
  return out;
}

std::vector<std::string> ListSerialPorts(const std::string& devDir,
                                         const std::string& sysClassTty) {
  if (const char* env = std::getenv("NX480_PORTS")) {
    auto ports = SplitPortList(env);
    if (ports.size() > kPortNumberCount) ports.resize(kPortNumberCount);
    return ports;
  }
  std::vector<Candidate> found;
  // The error-code forms throughout: a directory that changes while it is listed (a device
  // unplugged at that moment) ends the listing instead of throwing.
  std::error_code ec;
  for (std::filesystem::directory_iterator it(devDir, ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::string name = it->path().filename().string();
    int group = 0;
    long number = 0;
    if (!ParseName(name, group, number)) continue;
    if (group == 2 && !HasUart(sysClassTty, name)) continue;
    found.push_back({group, number, it->path().string()});
  }
  std::sort(found.begin(), found.end(), [](const Candidate& a, const Candidate& b) {
    return a.group != b.group ? a.group < b.group : a.number < b.number;
  });
  std::vector<std::string> ports;
  for (const auto& c : found) {
    if (ports.size() == kPortNumberCount) break;
    ports.push_back(c.path);
  }
  return ports;
}

std::string DeviceGroup(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {};
  if (const group* g = ::getgrgid(st.st_gid)) return g->gr_name;
  return {};
}

}  // namespace nx480
