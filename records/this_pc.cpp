#include "this_pc.h"

#include <cstdlib>
#include <vector>

#include "places.h"

#ifdef _WIN32
#include "win32_text.h"
#else
#include <pwd.h>
#include <unistd.h>
#endif

namespace nx480 {

#ifdef _WIN32

std::string ThisPcUser() {
  wchar_t name[257];
  DWORD size = 257;
  if (::GetUserNameW(name, &size) && size > 1) return Utf8(std::wstring_view(name, size - 1));
  if (const auto user = ProcessEnvironment("USERNAME"); user && !user->empty()) return *user;
  return "?";
}

std::string ThisPcHost() {
  wchar_t name[256];
  DWORD size = 256;
  if (::GetComputerNameExW(ComputerNameDnsHostname, name, &size) && size > 0)
    return Utf8(std::wstring_view(name, size));
  return ProcessEnvironment("COMPUTERNAME").value_or("");
}

std::string ThisProgramFolder() {
  std::wstring path(32768, L'\0');
  const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  if (length == 0 || length >= path.size()) return {};
  path.resize(length);
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::string()
                                     : Utf8(std::wstring_view(path).substr(0, slash));
}

#else

std::string ThisPcUser() {
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  if (size <= 0) size = 16384;
  std::vector<char> buffer(static_cast<size_t>(size));
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
      found->pw_name && *found->pw_name)
    return found->pw_name;
  const char* user = std::getenv("USER");
  if (user && *user) return user;
  return "uid " + std::to_string(::geteuid());
}

std::string ThisPcHost() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return "";
  return name;
}

#endif

}  // namespace nx480
