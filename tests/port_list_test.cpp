#include "port_list.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

using namespace nx480;
namespace fs = std::filesystem;

namespace {

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old, had_ = true;
    if (value)
      ::setenv(name, value, 1);
    else
      ::unsetenv(name);
  }
  ~ScopedEnv() {
    if (had_)
      ::setenv(name_, old_.c_str(), 1);
    else
      ::unsetenv(name_);
  }

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

}  // namespace

TEST(PortList, DevicesInStableOrderUsbFirstPhantomUartsLeftOut) {
  ScopedEnv env("NX480_PORTS", nullptr);
  const fs::path root = fs::temp_directory_path() / ("nx480-ports-" + std::to_string(::getpid()));
  fs::remove_all(root);
  fs::create_directories(root / "dev");
  fs::create_directories(root / "sys");
  for (const char* name : {"ttyS0", "ttyS1", "ttyS10", "ttyS2", "ttyUSB10", "ttyUSB2", "ttyACM0",
                           "ttyUSB", "ttyS1x", "tty0", "console", "ttyAMA0"}) {
    std::ofstream(root / "dev" / name).put('\n');
  }
  // ttyS1 and ttyS10 have no UART behind them; ttyS0 has one; ttyS2 has no entry at all.
  for (auto [name, type] : {std::pair{"ttyS0", 4}, {"ttyS1", 0}, {"ttyS10", 0}}) {
    fs::create_directories(root / "sys" / name);
    std::ofstream(root / "sys" / name / "type") << type << "\n";
  }
  const auto ports = ListSerialPorts((root / "dev").string(), (root / "sys").string());
  const std::string d = (root / "dev").string() + "/";
  EXPECT_EQ(ports, (std::vector<std::string>{d + "ttyUSB2", d + "ttyUSB10", d + "ttyACM0",
                                             d + "ttyS0", d + "ttyS2"}));
  fs::remove_all(root);
}

TEST(PortList, EnvironmentListReplacesTheSearch) {
  const std::string byPath = "/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0";
  const std::string byPathArm = "/dev/serial/by-path/platform-3f980000.usb-usb-0:1.3:1.0-port0";
  const struct {
    std::string list;
    std::vector<std::string> ports;
  } cases[] = {
      {"/dev/pts/7::/tmp/relay:/dev/ttyUSB0:", {"/dev/pts/7", "/tmp/relay", "/dev/ttyUSB0"}},
      {"", {}},  // set but empty: nothing is tried
      // The stable names hold colons: a colon separates only before the next path.
      {byPath, {byPath}},
      {byPath + ":/dev/ttyUSB1::" + byPathArm + ":", {byPath, "/dev/ttyUSB1", byPathArm}},
  };
  for (const auto& c : cases) {
    ScopedEnv env("NX480_PORTS", c.list.c_str());
    EXPECT_EQ(ListSerialPorts("/dev"), c.ports) << c.list;
  }
  std::string many;
  for (int i = 0; i < 300; ++i) many += "/p" + std::to_string(i) + ":";
  ScopedEnv env("NX480_PORTS", many.c_str());
  const auto ports = ListSerialPorts();
  ASSERT_EQ(ports.size(), size_t(kPortNumberCount));
  EXPECT_EQ(ports.back(), "/p255");
}

// Windows' port names, as pure functions: the spellings a user may give, the order of the
// search, and the ";"-separated NX480_PORTS of Windows.
TEST(PortList, WindowsComNamesOrderedAndNormalised) {
  const struct {
    std::string name, com;
  } names[] = {
      {"COM5", "COM5"},
      {"com12", "COM12"},
      {"\\\\.\\COM12", "COM12"},
      {"\\\\.\\com0", "COM0"},
      {"COM255", "COM255"},
      {"COM256", ""},
      {"COM", ""},
      {"COM05", ""},
      {"COM5x", ""},
      {"LPT1", ""},
      {"\\\\?\\COM5", ""},
      {"/dev/ttyS0", ""},
      {"COM1000", ""},
      {"Serial0", ""},
  };
  for (const auto& n : names) EXPECT_EQ(ComPortName(n.name), n.com) << n.name;

  // The search's order: numeric, each port once, whatever told of it and however spelt.
  EXPECT_EQ(OrderComPorts({"COM10", "COM2", "com2", "\\\\.\\COM1", "LPT1", "COM256", "COM0",
                           "COM10", "CNCA0"}),
            (std::vector<std::string>{"COM0", "COM1", "COM2", "COM10"}));

  const struct {
    std::string list;
    std::vector<std::string> ports;
  } lists[] = {
      {"COM5;com12;;\\\\.\\COM3;", {"COM5", "COM12", "COM3"}},
      {"", {}},
      // Colons belong to Windows paths: only ";" separates.
      {"\\\\.\\CNCB0;C:\\dev\\relay", {"\\\\.\\CNCB0", "C:\\dev\\relay"}},
  };
  for (const auto& l : lists) EXPECT_EQ(SplitWindowsPortList(l.list), l.ports) << l.list;
}
