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
