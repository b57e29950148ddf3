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

namespace {

PortFailure FailureOf(OpenError error) {
  switch (error) {
    case OpenError::NotFound:
      return PortFailure::NotFound;
    case OpenError::AccessDenied:
      return PortFailure::AccessDenied;
    case OpenError::Busy:
      return PortFailure::Busy;
    case OpenError::NotAPort:
      return PortFailure::NotAPort;
    case OpenError::None:
    case OpenError::Other:
      break;
  }
  return PortFailure::OpenFailed;
}

}  // namespace

std::vector<PortFailureGroup> GroupedByFailure(const std::vector<PortTried>& tried) {
  std::vector<PortFailureGroup> groups;
  for (const PortTried& t : tried) {
    auto group = std::find_if(groups.begin(), groups.end(), [&t](const PortFailureGroup& g) {
      return g.failure == t.failure && g.identText == t.identText;
    });
    if (group == groups.end()) group = groups.insert(groups.end(), {t.failure, t.identText, {}});
    group->ports.push_back(t.port);
  }
  return groups;
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
      result.tried.push_back({ports[n], FailureOf(error), {}});
      continue;
    }
    std::string identText;
    const bool answered = link.Identify(identText);
    if (!answered || identText.compare(0, 5, kModelName) != 0) {
      link.ClosePort();
      result.tried.push_back({ports[n], answered ? PortFailure::OtherDevice : PortFailure::NoAnswer,
                              answered ? identText : std::string()});
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
