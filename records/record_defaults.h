// What the record window remembers between sessions: the site and the technician last used, in
// record.conf in the configuration folder (places.h: $XDG_CONFIG_HOME/nx480-pc/record.conf, else
// ~/.config/nx480-pc/record.conf; Windows: %APPDATA%\nx480-pc\record.conf), a UTF-8 text of
// "site = TEXT" and "technician = TEXT" lines written whole through WriteFileAtomically. Lines
// of no such form are skipped. Plain C++, no Qt.
#pragma once

#include <optional>
#include <string>

#include "atomic_file.h"
#include "journal.h"

namespace nx480 {

struct RecordDefaults {
  std::string site;
  std::string technician;
  bool operator==(const RecordDefaults&) const = default;
};

// The file's path; nullopt when there is no configuration folder.
std::optional<std::string> RecordDefaultsPath(const EnvironmentLookup& env = ProcessEnvironment);

// What the file holds; empty texts when there is no file or it cannot be read.
RecordDefaults ReadRecordDefaults(const EnvironmentLookup& env = ProcessEnvironment);

// Writes the file (its folder made when missing); a value's line breaks become spaces and its
// outer blanks go. False with `error` (and `path`, when known) when it cannot be written.
bool WriteRecordDefaults(const RecordDefaults& defaults, std::string& path, FileError& error,
                         const EnvironmentLookup& env = ProcessEnvironment);

}  // namespace nx480
