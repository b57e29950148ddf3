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

}  // namespace nx480
