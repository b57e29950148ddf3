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
//
// On Windows the ports are the names COM0 to COM255 in numeric order, but only those that exist
// (the registry's HARDWARE\DEVICEMAP\SERIALCOMM and the system's DOS device names), so a search
// opens only real ports; NX480_PORTS is ";"-separated there ("COM5;COM12"), since ":" belongs
// to Windows paths. A port is named "COMn"; the device "\\.\COMn" is what is opened.
#pragma once

#include <string>
#include <vector>

namespace nx480 {

inline constexpr int kPortNumberCount = 256;

// Port numbers from NX480_PORTS when it is set, else from the devices under `devDir`.
// `sysClassTty` is where the kernel describes tty devices (for the UART type of ttyS*).
// (Windows: from NX480_PORTS, else the COM ports present; the two paths are not used.)
std::vector<std::string> ListSerialPorts(const std::string& devDir = "/dev",
                                         const std::string& sysClassTty = "/sys/class/tty");

// Splits a colon-separated list of absolute paths at every ":" followed by "/", ":" or the end,
// dropping empty entries: "/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0:/dev/ttyS0"
// is two paths.
std::vector<std::string> SplitPortList(const std::string& list);

// The group that owns the device at `path`, or an empty text (always empty on Windows).
std::string DeviceGroup(const std::string& path);

// The Windows naming, as pure functions on every platform:
// A COM port's name in any spelling ("com5", "\\.\COM5") as "COM5"; empty when `name` is no
// COM port name of 0 to 255.
std::string ComPortName(const std::string& name);
// The COM port names among `names` (any spelling), each once, in numeric order ("COM2" before
// "COM10"); other names are left out.
std::vector<std::string> OrderComPorts(const std::vector<std::string>& names);
// Splits a ";"-separated list, dropping empty entries; a COM port in any spelling becomes
// "COMn", any other entry is kept as it is.
std::vector<std::string> SplitWindowsPortList(const std::string& list);

// The port a user named (nx480ctl --port) as the tool shows and opens it: on Windows a COM port
// in any spelling is "COMn" (so "\\.\COM12" is "COM12"); elsewhere the name as given.
std::string UserPortName(const std::string& name);
// The port as a message names it: on Windows the device's name from the system when it has one
// ("USB Serial Port (COM5)"), else the port itself.
std::string PortLabel(const std::string& port);

}  // namespace nx480
