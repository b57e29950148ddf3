// How a settings transaction ended, as its window reports it.
#pragma once

namespace nx480 {

enum class Outcome {
  Ok,
  CommunicationError,  // no valid reply, or a reply that does not fit the request
  Refused,             // the relay refused the clear-history code
  Unknown,             // the command went out, but its answer was cut off by a disconnect
};

}  // namespace nx480
