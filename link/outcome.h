// How a transaction ended, as its window reports it: the kind, and the link error that ended it.
#pragma once

#include "link_error.h"

namespace nx480 {

enum class OutcomeKind {
  Ok,
  CommunicationError,  // no valid reply, or a reply that does not fit the request
  Refused,             // the relay refused the clear-history code
  Unknown,             // the command went out, but its result is not known: its answer was cut
                       // off by a disconnect, or the read-back of an acknowledged write failed
  Differs,             // the relay acknowledged a write, but reads back other values
};

struct Outcome {
  using enum OutcomeKind;  // Outcome::Ok, Outcome::Refused, ...

  constexpr Outcome(OutcomeKind k, LinkError e = LinkError::None) : kind(k), error(e) {}
  // Compared and switched on as its kind: outcome == Outcome::Ok, switch (outcome).
  constexpr operator OutcomeKind() const { return kind; }

  OutcomeKind kind;
  // The error of the exchange or wait that ended the transaction (an exception reply for
  // Refused; Stopped or PortClosed for an answer cut off, the read's own error for a failed
  // read-back); None for Ok and Differs.
  LinkError error;
};

}  // namespace nx480
