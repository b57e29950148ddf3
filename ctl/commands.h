// nx480ctl's commands, each on the link's transactions and the records' conversions and files.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "calibration_words.h"
#include "command_line.h"
#include "exit_code.h"
#include "grid_profile.h"
#include "journal_text.h"
#include "relay_session.h"
#include "settings_words.h"

namespace nx480::ctl {

// Connects as every command does, lets `prepare` (when given) look at the relay's session and
// make the record fit it, or refuse with its exit code after a message, then writes the record
// as `settings write` does: the journal entry with `description` first, the read-back after.
// `source` names where the record comes from.
Exit WriteSettingsRecord(
    const Invocation& invocation, SettingsWords record, const std::string& source,
    const JournalText& description,
    const std::function<Exit(const RelaySession&, SettingsWords&)>& prepare = {});

// The same for the calibration block, as `calibration set` writes it: the relay's calibration
// read first and handed to `prepare` with the record, which it may change or refuse.
Exit WriteCalibrationRecord(
    const Invocation& invocation, CalibrationWords record, const JournalText& description,
    const std::function<Exit(const RelaySession&, const CalibrationWords& held,
                             CalibrationWords& record)>& prepare = {});

// The profile named on the command line (a path, or a name looked up as settings check looks it
// up), found and parsed; every bad line said. nullopt: it cannot be used (exit code 5).
std::optional<ParsedProfile> ProfileOf(const std::string& name);
// The command of `invocation` (not Help or Version).
Exit RunCommand(const Invocation& invocation);

}  // namespace nx480::ctl
