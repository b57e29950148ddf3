// Why a transaction's exchange with the relay failed. The kinds stay apart all the way up, so a
// caller can tell a silent relay from a broken line, a refusal from a gone adapter.
#pragma once

namespace nx480 {

enum class LinkError {
  None,
  NoReply,         // nothing arrived within the read limit
  WrongLength,     // too few or too many bytes
  BadCrc,          // right length, CRC over the frame is not 0
  WrongSlave,      // a good frame from another slave address
  WrongFunction,   // a good frame of another function code
  WrongByteCount,  // a good read reply whose byte count does not fit the request
  Exception,       // the relay answered with a Modbus exception reply (code kept)
  BadEcho,         // a write's acknowledgement differs from the request
  PortClosed,
  PortBusy,    // the caller does not own the port (the worker is running)
  DeviceGone,  // the adapter was unplugged or the line hung up
  Stopped,     // cut short by a pause or a close of the port
};

// A short English name for logs and test output (not shown to the user).
const char* LinkErrorText(LinkError error);

}  // namespace nx480
