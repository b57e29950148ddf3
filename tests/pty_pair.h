// A bare pseudo-terminal for tests: the port under test opens the slave side, the test plays
// the device on the master side.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

class PtyPair {
 public:
  PtyPair() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
    char name[128];
    if (::ptsname_r(master_, name, sizeof name) != 0) return;
    path_ = name;
    // Hold the slave open ourselves, raw, so the line exists between the port's opens.
    holder_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios tio{};
    ::tcgetattr(holder_, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(holder_, TCSANOW, &tio);
  }
  ~PtyPair() {
    if (holder_ >= 0) ::close(holder_);
    if (master_ >= 0) ::close(master_);
  }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool ok() const { return master_ >= 0 && holder_ >= 0; }
  // The device goes away as an unplugged adapter does: the slave side sees a hang-up.
  void Unplug() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }
  const std::string& path() const { return path_; }
  int master() const { return master_; }

  void Send(const std::vector<uint8_t>& bytes) {
    [[maybe_unused]] auto n = ::write(master_, bytes.data(), bytes.size());
  }
  // What the port wrote, collected for up to `waitMs`.
  std::vector<uint8_t> Receive(size_t want, int waitMs = 1000) {
    std::vector<uint8_t> out;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (out.size() < want) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            end - std::chrono::steady_clock::now())
                            .count();
      if (left <= 0) break;
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left)) <= 0) break;
      uint8_t buf[256];
      const ssize_t n = ::read(master_, buf, sizeof buf);
      if (n <= 0) break;
      out.insert(out.end(), buf, buf + n);
    }
    return out;
  }

 private:
  int master_ = -1;
  int holder_ = -1;
  std::string path_;
};
