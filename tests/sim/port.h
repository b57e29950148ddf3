// The tool's side of the line in the tests: a slave pty opened with plain
// POSIX calls, raw, the way a serial port is used.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "test_util.h"

namespace nx480::sim::test {

class Port {
 public:
  using Clock = std::chrono::steady_clock;

  // With `configure` false the port is used with the settings it has.
  explicit Port(const std::string& path, bool configure = true) {
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0 || !configure) return;
    termios tio{};
    if (::tcgetattr(fd_, &tio) == 0) {
      ::cfmakeraw(&tio);
      ::cfsetispeed(&tio, B115200);
      ::cfsetospeed(&tio, B115200);
      if (::tcsetattr(fd_, TCSANOW, &tio) == 0) {
        ::tcflush(fd_, TCIOFLUSH);
        return;
      }
    }
    Close();
  }
  ~Port() { Close(); }
  Port(const Port&) = delete;
  Port& operator=(const Port&) = delete;

  bool Ok() const { return fd_ >= 0; }
  int Fd() const { return fd_; }

  bool Write(const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    const auto until = Clock::now() + std::chrono::seconds(5);
    while (done < bytes.size() && Clock::now() < until) {
      const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
      } else {
        pollfd p{fd_, POLLOUT, 0};
        ::poll(&p, 1, 50);
      }
    }
    return done == bytes.size();
  }
  bool Write(const std::string& hex) { return Write(Bytes(hex)); }

  // Reads until `n` bytes arrived or `timeout` passed.
  std::vector<std::uint8_t> Read(std::size_t n, std::chrono::milliseconds timeout) {
    std::vector<std::uint8_t> out;
    const auto until = Clock::now() + timeout;
    while (out.size() < n) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
      if (left <= 0) break;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
      std::uint8_t buf[256];
      const ssize_t got = ::read(fd_, buf, std::min(sizeof buf, n - out.size()));
      if (got > 0) out.insert(out.end(), buf, buf + got);
    }
    return out;
  }

  // Everything that arrives within `window`.
  std::vector<std::uint8_t> ReadFor(std::chrono::milliseconds window) {
    return Read(1 << 16, window);
  }

  // Sends `request` and returns the reply (expected `length` bytes) as hex.
  std::string Ask(const std::string& request, std::size_t length,
                  std::chrono::milliseconds timeout = std::chrono::milliseconds(3000)) {
    if (!Write(request)) return "(write failed)";
    return Hex(Read(length, timeout));
  }

 private:
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  int fd_ = -1;
};

}  // namespace nx480::sim::test
