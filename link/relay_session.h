// What the tool knows about the relay it is connected to: learnt by the connection search (and
// again after a firmware upload) and handed to every window in one call when it changes. A plain
// value; it belongs to the user-interface thread, and the worker keeps a copy of its own that is
// written only while it is parked or waits in a synchronous call (TModbus::SetSession).
#pragma once

#include <cstdint>
#include <string>

#include "firmware_features.h"
#include "serial_number.h"

namespace nx480 {

struct RelaySession {
  bool connected = false;
  bool serviceMode = false;  // started with "/servis"; fixed for the life of the process
  std::string port;          // the device of the connection
  // The relay's identification text: its name, three spaces, its version, with the 7th
  // character replaced by "-" (it tells the temperature variant). In the relay's code page.
  std::string identText;
  // What its firmware can do, from the two-digit number at the end of the version (1.14.d: 14).
  FirmwareFeatures firmware = {};
  bool hasTemperature = false;
  int32_t serialNumber = -1;  // -1 when it could not be read

  // What changes between two sessions when a relay is disconnected: the identification, the
  // firmware number and the temperature variant are kept until the next connection.
  bool operator==(const RelaySession&) const = default;
};

}  // namespace nx480
