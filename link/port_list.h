// Which device is serial port number n.
//
// The connection search tries port numbers 0 to 255. With NX480_PORTS set to a colon-separated
// list of device paths, those paths are ports 0, 1, 2, ... and nothing else is tried; a colon
// separates only before a path that begins with "/" (or before another colon, or at the end),
// so the stable names under /dev/serial/by-path/, which hold colons, may be given. Otherwise
// the serial devices present are numbered in this order: USB adapters /dev/ttyUSB* and
// /dev/ttyACM* (the usual way a service PC reaches the relay), then built-in /dev/ttyS*; each
// group in numeric order (ttyUSB2 before ttyUSB10). Built-in ports that the kernel lists but
// which have no UART behind them are left out.
#pragma once

#include <string>
#include <vector>

namespace nx480 {

inline constexpr int kPortNumberCount = 256;

// Port numbers from NX480_PORTS when it is set, else from the devices under `devDir`.
// `sysClassTty` is where the kernel describes tty devices (for the UART type of ttyS*).
std::vector<std::string> ListSerialPorts(const std::string& devDir = "/dev",
                                         const std::string& sysClassTty = "/sys/class/tty");

// Splits a colon-separated list of absolute paths at every ":" followed by "/", ":" or the end,
// dropping empty entries: "/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0:/dev/ttyS0"
// is two paths.
std::vector<std::string> SplitPortList(const std::string& list);

// The group that owns the device at `path`, or an empty text.
std::string DeviceGroup(const std::string& path);

}  // namespace nx480
