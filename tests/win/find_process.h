// The one running process of an image name, for the test programs that act on a program under
// Wine from outside it (send_ctrl, end_session).
#pragma once

#include <windows.h>
// windows.h first
#include <tlhelp32.h>

#include <cwchar>

// The id of the one running process whose image name is NAME (case aside); 0 when there is
// none or more than one.
inline DWORD FindProcess(const char* name) {
  wchar_t wide[MAX_PATH] = {};
  if (MultiByteToWideChar(CP_UTF8, 0, name, -1, wide, MAX_PATH) == 0) return 0;
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  DWORD found = 0;
  int count = 0;
  for (BOOL more = Process32FirstW(snapshot, &entry); more;
       more = Process32NextW(snapshot, &entry)) {
    if (_wcsicmp(entry.szExeFile, wide) == 0) {
      found = entry.th32ProcessID;
      ++count;
    }
  }
  CloseHandle(snapshot);
  return count == 1 ? found : 0;
}
