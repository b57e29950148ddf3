#pragma once
// What the tests need of the platform, the same on Linux and Windows (the tests that also run
// under Wine, tests/windows.cmake): a new temporary folder, an environment variable set or
// removed (and the C library's time zone taken from it again), UTC's broken-down time.
#include <stdlib.h>

#include <ctime>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>

namespace nx480::test {

// A new, empty folder NAME.XXXXXX in the system's temporary folder.
inline std::filesystem::path NewTemporaryFolder(const std::string& name) {
  std::random_device seed;
  std::mt19937_64 random(seed());
  constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string suffix(6, ' ');
    for (char& c : suffix) c = kLetters[random() % (sizeof kLetters - 1)];
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / (name + "." + suffix);
    std::error_code error;
    if (std::filesystem::create_directory(folder, error)) return folder;
    if (error) throw std::system_error(error, folder.string());
  }
  throw std::runtime_error("no new temporary folder " + name);
}

// VALUE null removes the variable.
inline void SetEnvironment(const char* name, const char* value) {
#ifdef _WIN32
  ::_putenv_s(name, value ? value : "");
#else
  if (value) {
    ::setenv(name, value, 1);
  } else {
    ::unsetenv(name);
  }
#endif
}

// The broken-down UTC time of `seconds`.
inline std::tm UtcTime(std::time_t seconds) {
  std::tm utc{};
#ifdef _WIN32
  ::gmtime_s(&utc, &seconds);
#else
  ::gmtime_r(&seconds, &utc);
#endif
  return utc;
}

// The C library's time zone read from TZ again.
inline void ReadTimeZone() {
#ifdef _WIN32
  ::_tzset();
#else
  ::tzset();
#endif
}

}  // namespace nx480::test
