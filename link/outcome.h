// How a transaction ended, as its window reports it: the kind, and the link error that ended it.
#pragma once

#include "link_error.h"

namespace nx480 {

enum class OutcomeKind {
  Ok,
  CommunicationError,  // no valid reply, or a reply that does not fit the request; for a change,
                       // nothing that changes the relay went out: its frame did not leave
                       // whole, or the relay refused it with an exception reply
  Refused,             // the relay refused the clear-history code
  Unknown,             // a frame that changes the relay went out whole, but what came of it is
                       // not known: its acknowledgement never came or came spoilt, a disconnect
                       // cut it off, or the read-back of an acknowledged write failed
  Differs,             // the relay acknowledged a write, but reads back other values
};

struct Outcome {
  using enum OutcomeKind;  // Outcome::Ok, Outcome::Refused, ...

  constexpr Outcome(OutcomeKind k, LinkError e = LinkError::None, bool ack = false)
      : kind(k), error(e), acknowledged(ack) {}
  // Compared and switched on as its kind: outcome == Outcome::Ok, switch (outcome).
  constexpr operator OutcomeKind() const { return kind; }

  OutcomeKind kind;
  // The error of the exchange or wait that ended the transaction (an exception reply for
  // Refused; Stopped or PortClosed for an answer cut off, the read's own error for a failed
  // read-back); None for Ok and Differs.
  LinkError error;
  // Unknown only: every write was acknowledged, and the read-back that checks it failed.
  bool acknowledged;
};

// A change held back right after its journal step (TModbus::ChangeStopped): nothing of it went
// out, and the journal keeps it as not sent.
inline constexpr Outcome kChangeHeldBack{OutcomeKind::CommunicationError, LinkError::Stopped};

}  // namespace nx480
