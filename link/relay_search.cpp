#include "relay_search.h"

#include <algorithm>

#include "identity.h"
#include "port_list.h"

namespace nx480 {

void TakeIdentification(const std::string& identText, RelaySession& session) {
  session.identText = identText;
  session.hasTemperature = identText.size() >= 7 && identText[6] == 'T';
  if (identText.size() >= 7) session.identText[6] = '-';
  session.firmware = FirmwareFeaturesOf(FirmwareMinorOf(session.identText));
}

SearchResult SearchRelay(TModbus& link, const std::vector<std::string>& ports,
                         const LineSettings& line, int pollInterval,
                         const std::function<bool()>& stop) {
  SearchResult result;
  // Port numbers past the devices present have no device: they cost nothing.
  const size_t count = std::min<size_t>(ports.size(), kPortNumberCount);
  for (size_t n = 0; n < count; ++n) {
    if (stop && stop()) break;
    if (!link.OpenPort(ports[n], line, pollInterval)) {
      const OpenError error = link.LastOpenError();
      if (error == OpenError::AccessDenied && result.problems.deniedPort.empty()) {
        result.problems.deniedPort = ports[n];
        result.problems.deniedGroup = DeviceGroup(ports[n]);
      } else if (error == OpenError::Busy && result.problems.busyPort.empty()) {
        result.problems.busyPort = ports[n];
      }
      continue;
    }
    std::string identText;
    if (!link.Identify(identText) || identText.compare(0, 5, kModelName) != 0) {
      link.ClosePort();
      continue;
    }
    result.found = true;
    result.session.port = ports[n];
    TakeIdentification(identText, result.session);
    result.session.serialNumber = link.ReadSerialNumber();
    return result;
  }
  return result;
}

}  // namespace nx480
