// Who runs the tool on which computer, as the journal and the commissioning record name them:
// the system's own answers (POSIX: the password database and gethostname; Windows:
// GetUserNameW and GetComputerNameExW, else USERNAME and COMPUTERNAME). Plain C++, no Qt.
#pragma once

#include <string>

namespace nx480 {

// The user's login name (UTF-8): POSIX the effective user's from the password database, else
// $USER, else "uid N"; Windows GetUserNameW, else %USERNAME%, else "?".
std::string ThisPcUser();

// The computer's host name (UTF-8); "" when the system gives none.
std::string ThisPcHost();

// The folder of the running program (UTF-8, no trailing separator); "" when the system does not
// say. Windows only (GetModuleFileNameW): there the files shipped with the program lie beside it.
std::string ThisProgramFolder();

}  // namespace nx480
