#include "port_list.h"

#ifdef _WIN32
#include <windows.h>
// windows.h first
#include <setupapi.h>
#else
#include <grp.h>
#include <sys/stat.h>
#endif

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <utility>

namespace nx480 {

#ifndef _WIN32

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

#endif

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

std::string ComPortName(const std::string& name) {
  std::string rest = name;
  if (rest.compare(0, 4, "\\\\.\\") == 0) rest = rest.substr(4);
  if (rest.size() < 4 || rest.size() > 6) return {};
  for (int i = 0; i < 3; ++i) {
    if (std::toupper(static_cast<unsigned char>(rest[static_cast<size_t>(i)])) != "COM"[i])
      return {};
  }
  const std::string digits = rest.substr(3);
  if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return {};
  if (digits.size() > 1 && digits[0] == '0') return {};  // "COM05" names no device
  const long number = std::strtol(digits.c_str(), nullptr, 10);
  if (number >= kPortNumberCount) return {};
  return "COM" + std::to_string(number);
}

std::vector<std::string> OrderComPorts(const std::vector<std::string>& names) {
  std::vector<long> numbers;
  for (const std::string& name : names) {
    const std::string com = ComPortName(name);
    if (!com.empty()) numbers.push_back(std::strtol(com.c_str() + 3, nullptr, 10));
  }
  std::sort(numbers.begin(), numbers.end());
  numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
  std::vector<std::string> ports;
  for (const long number : numbers) ports.push_back("COM" + std::to_string(number));
  return ports;
}

std::vector<std::string> SplitWindowsPortList(const std::string& list) {
  std::vector<std::string> out;
  size_t begin = 0;
  while (begin <= list.size()) {
    size_t end = list.find(';', begin);
    if (end == std::string::npos) end = list.size();
    const std::string item = list.substr(begin, end - begin);
    if (!item.empty()) {
      const std::string com = ComPortName(item);
      out.push_back(com.empty() ? item : com);
    }
    begin = end + 1;
  }
  return out;
}

#ifdef _WIN32

namespace {

std::string Utf8(const wchar_t* text, size_t length) {
  if (length == 0) return {};
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0,
                                      nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), n, nullptr,
                        nullptr);
  return out;
}

// The names of HARDWARE\DEVICEMAP\SERIALCOMM: the ports whose drivers run now.
void AddRegistryPorts(std::vector<std::string>& names) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
      ERROR_SUCCESS)
    return;
  for (DWORD i = 0;; ++i) {
    wchar_t valueName[256];
    DWORD nameLength = 256;
    wchar_t data[64];
    DWORD dataBytes = sizeof data;
    DWORD type = 0;
    const LONG r = ::RegEnumValueW(key, i, valueName, &nameLength, nullptr, &type,
                                   reinterpret_cast<BYTE*>(data), &dataBytes);
    if (r == ERROR_NO_MORE_ITEMS) break;
    if (r != ERROR_SUCCESS || type != REG_SZ) continue;
    size_t length = dataBytes / sizeof(wchar_t);
    while (length > 0 && data[length - 1] == L'\0') --length;
    names.push_back(Utf8(data, length));
  }
  ::RegCloseKey(key);
}

// The DOS device names COM0 to COM255 that exist: also ports whose drivers the registry above
// does not list (a virtual port, Wine's links of the prefix). One look-up of a name each, no open.
void AddDosDevicePorts(std::vector<std::string>& names) {
  wchar_t target[1024];
  for (int n = 0; n < kPortNumberCount; ++n) {
    const std::wstring name = L"COM" + std::to_wstring(n);
    if (::QueryDosDeviceW(name.c_str(), target, 1024) > 0 ||
        ::GetLastError() == ERROR_INSUFFICIENT_BUFFER)
      names.push_back("COM" + std::to_string(n));
  }
}

// The device class of serial and parallel ports.
const GUID kPortsClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

}  // namespace

std::vector<std::string> ListSerialPorts(const std::string&, const std::string&) {
  if (const char* env = std::getenv("NX480_PORTS")) {
    auto ports = SplitWindowsPortList(env);
    if (ports.size() > kPortNumberCount) ports.resize(kPortNumberCount);
    return ports;
  }
  std::vector<std::string> names;
  AddRegistryPorts(names);
  AddDosDevicePorts(names);
  return OrderComPorts(names);
}

std::string DeviceGroup(const std::string&) {
  return {};
}

std::string UserPortName(const std::string& name) {
  const std::string com = ComPortName(name);
  return com.empty() ? name : com;
}

std::string PortLabel(const std::string& port) {
  const std::string com = ComPortName(port);
  if (com.empty()) return port;
  std::string label;
  const HDEVINFO devices = ::SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
  if (devices == INVALID_HANDLE_VALUE) return port;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD i = 0; label.empty() && ::SetupDiEnumDeviceInfo(devices, i, &device); ++i) {
    const HKEY key =
        ::SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) continue;
    wchar_t portName[64] = {};
    DWORD bytes = sizeof portName - sizeof(wchar_t);
    DWORD type = 0;
    const bool named =
        ::RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(portName),
                           &bytes) == ERROR_SUCCESS &&
        type == REG_SZ;
    ::RegCloseKey(key);
    if (!named || ComPortName(Utf8(portName, std::wcslen(portName))) != com) continue;
    wchar_t friendly[256] = {};
    if (::SetupDiGetDeviceRegistryPropertyW(devices, &device, SPDRP_FRIENDLYNAME, nullptr,
                                            reinterpret_cast<BYTE*>(friendly),
                                            sizeof friendly - sizeof(wchar_t), nullptr)) {
      label = Utf8(friendly, std::wcslen(friendly));
    }
  }
  ::SetupDiDestroyDeviceInfoList(devices);
  if (label.empty()) return port;
  // Friendly names of ports end in "(COMn)"; one that does not gets it.
  if (label.find("(" + com + ")") == std::string::npos) label += " (" + com + ")";
  return label;
}

#else

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

std::string UserPortName(const std::string& name) {
  return name;
}

std::string PortLabel(const std::string& port) {
  return port;
}

#endif

}  // namespace nx480
