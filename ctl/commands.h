// nx480ctl's commands, each on the link's transactions and the records' conversions and files.
#pragma once

#include <string>

#include "command_line.h"
#include "exit_code.h"
#include "settings_words.h"

namespace nx480::ctl {

class RelayLink;

Exit RunIdentify(const Invocation& invocation);
Exit RunLive(const Invocation& invocation);
Exit RunSettings(const Invocation& invocation);
Exit RunClock(const Invocation& invocation);
Exit RunRelay(const Invocation& invocation);
Exit RunCalibration(const Invocation& invocation);
Exit RunHistory(const Invocation& invocation);
Exit RunUpload(const Invocation& invocation);
Exit RunJournal(const Invocation& invocation);

// Writes `record` into the connected relay as `settings write` does (the journal entry with
// `description` first, the read-back after), `source` naming where the record comes from.
Exit WriteSettingsRecord(RelayLink& relay, const SettingsWords& record, const std::string& source,
                         const std::string& description);

// The command of `invocation` (not Help or Version).
Exit RunCommand(const Invocation& invocation);

}  // namespace nx480::ctl
