// nx480ctl's commands, each on the link's transactions and the records' conversions and files.
#pragma once

#include "command_line.h"
#include "exit_code.h"

namespace nx480::ctl {

Exit RunIdentify(const Invocation& invocation);
Exit RunLive(const Invocation& invocation);
Exit RunSettings(const Invocation& invocation);
Exit RunClock(const Invocation& invocation);
Exit RunRelay(const Invocation& invocation);
Exit RunCalibration(const Invocation& invocation);
Exit RunHistory(const Invocation& invocation);
Exit RunUpload(const Invocation& invocation);
Exit RunJournal(const Invocation& invocation);

// The command of `invocation` (not Help or Version).
Exit RunCommand(const Invocation& invocation);

}  // namespace nx480::ctl
