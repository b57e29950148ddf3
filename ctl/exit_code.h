// The exit codes of nx480ctl: what a script can tell apart without reading the messages.
#pragma once

namespace nx480::ctl {

enum class Exit : int {
  Ok = 0,
  Differs = 1,            // settings diff: the relay and the file differ; settings check: a row
                          // is outside the profile
  Usage = 2,              // bad command line
  NoRelay = 3,            // no relay found (or the given port is none)
  Communication = 4,      // no valid reply, a reply that does not fit, the device gone
  BadFile = 5,            // a file that cannot be read or written, or is not what it must be;
                          // standard output that could not be written whole
  Refused = 6,            // the relay answered, but did not take the request
  JournalIncomplete = 7,  // a change ended, but its journal entry could not be closed (it stays
                          // pending, tried twice): what came of the change is in the messages
  Interrupted = 130,      // Ctrl-C (SIGINT) or SIGTERM
};

inline int Code(Exit exit) {
  return static_cast<int>(exit);
}

}  // namespace nx480::ctl
