// How a firmware upload ended, as the transaction reports it to its window (JournalAfter).
#pragma once

#include <cstddef>

#include "link_error.h"
#include "outcome.h"

namespace nx480 {

struct UploadEnd {
  enum class Step {
    BeforeStart,  // stopped before Start: nothing was sent
    Start,        // Start not acknowledged: nothing more was sent, no Cancel
    Blocks,       // the data frames: one unanswered twice or refused, or stopped between blocks
    Status,       // the relay did not report ready after the last block
    Run,          // stopped before Run (then Cancel), or Run not written (no Cancel possible)
    Restart,      // Run went out: the relay restarted, or did not identify itself
    Unknown,      // ended by a fault of the tool (an exception in a step), then Cancel
  };
  enum class Cancel { None, Acknowledged, NotAcknowledged, NotAwaited, NotSent };
  // Ok: the restarted relay identified itself; Unknown: Run went out and it did not; before Run
  // a communication error (the old firmware kept) with the error that ended it, an exception
  // reply when the relay refused a frame; kChangeHeldBack when stopped before Start.
  Outcome outcome{OutcomeKind::CommunicationError};
  Step step = Step::Unknown;
  bool stopped = false;  // the abort flag or a pause ended it, not a failed exchange
  bool aborted = false;  // the window's abort flag was raised (else a pause alone, if stopped)
  LinkError error = LinkError::None;        // the failed exchange's (Start, a block, Status, Run,
                                            // the restarted relay's identification)
  size_t blocks = 0;                        // of the image
  size_t blocksSent = 0;                    // acknowledged whole, every frame of them
  Cancel cancel = Cancel::None;             // sent after a failure or stop from the first block on
  LinkError cancelError = LinkError::None;  // its reply's, when not acknowledged or not sent
};

}  // namespace nx480
