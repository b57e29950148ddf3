#include <string>

#include "command_table.h"
#include "output.h"
#include "relay_link.h"
#include "text_codec.h"

namespace nx480::ctl {

namespace {

Exit RunIdentify(const Invocation& invocation) {
  RelayLink relay(invocation);
  if (const Exit connected = relay.Connect(); connected != Exit::Ok) return connected;
  const RelaySession& s = relay.Session();
  const std::string serial =
      HasSerialNumber(s.serialNumber) ? SerialNumberDigits(s.serialNumber, 6) : "unknown";
  Print("port: " + s.port + "\n" +
        // The relay's own text, in its code page: shown as the main window shows it.
        "identification: " + Cp1250ToUtf8(s.identText) + "\n" +
        "firmware: " + std::to_string(s.firmware.minor) + " (delays in steps of 1/" +
        std::to_string(s.firmware.delayScale) + " s)\n" + "temperature: " +
        (s.hasTemperature ? "yes" : "no") + "\n" + "serial number: " + serial + "\n");
  return Exit::Ok;
}

std::string ParseIdentify(const CommandWords& given, Invocation& inv) {
  inv.command = Command::Identify;
  return given.Count(0, "");
}

}  // namespace

const CommandRow kIdentifyCommandRow = {
    .name = "identify",
    .options = {},
    .parse = ParseIdentify,
    .run = RunIdentify,
    .overview = {{"identify", "the relay's identification and serial number"}},
    .help =
        "Usage: nx480ctl [--port DEVICE] identify\n"
        "\n"
        "Finds the relay and prints its port, identification (as the relay sends it),\n"
        "firmware number, temperature variant and serial number.\n",
};

}  // namespace nx480::ctl
