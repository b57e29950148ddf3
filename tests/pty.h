// Raw serial lines for tests. RawLine is one end of a line opened by path (the tool's side in
// the simulator's tests); PtyPair is a bare pseudo-terminal whose master end a test plays the
// device on, while the port under test opens the slave.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "sim/test_util.h"

class RawLine {
 public:
  using Clock = std::chrono::steady_clock;

  RawLine() = default;
  // Takes over `fd`.
  explicit RawLine(int fd) : fd_(fd) {}
  // Opens `path` raw at 115200 baud; with `configure` false it keeps the settings it has.
  explicit RawLine(const std::string& path, bool configure = true) {
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
  ~RawLine() { Close(); }
  RawLine(RawLine&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  RawLine& operator=(RawLine&& other) noexcept {
    if (this != &other) {
      Close();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }

  bool Ok() const { return fd_ >= 0; }
  int Fd() const { return fd_; }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

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
  bool Write(const std::string& hex) { return Write(nx480::sim::test::Bytes(hex)); }

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
      if (got > 0) {
        out.insert(out.end(), buf, buf + got);
      } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
        break;  // the other side is gone
      }
    }
    return out;
  }

  // Everything that arrives within `window`.
  std::vector<std::uint8_t> ReadFor(std::chrono::milliseconds window) {
    return Read(1 << 16, window);
  }

  // Sends `request` (hex) and returns the reply (expected `length` bytes) as hex.
  std::string Ask(const std::string& request, std::size_t length,
                  std::chrono::milliseconds timeout = std::chrono::milliseconds(10000)) {
    if (!Write(request)) return "(write failed)";
    return nx480::sim::test::Hex(Read(length, timeout));
  }

 private:
  int fd_ = -1;
};

class PtyPair {
 public:
  PtyPair() {
    master_ = RawLine(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
    if (!master_.Ok() || ::grantpt(master_.Fd()) != 0 || ::unlockpt(master_.Fd()) != 0) return;
    char name[128];
    if (::ptsname_r(master_.Fd(), name, sizeof name) != 0) return;
    path_ = name;
    // Hold the slave open ourselves, raw, so the line exists between the port's opens.
    holder_ = RawLine(path_);
  }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool ok() const { return master_.Ok() && holder_.Ok(); }
  const std::string& path() const { return path_; }
  int master() const { return master_.Fd(); }

  void Send(const std::vector<uint8_t>& bytes) { master_.Write(bytes); }
  // What the port wrote, collected for up to `waitMs`.
  std::vector<uint8_t> Receive(size_t want, int waitMs = 10000) {
    return master_.Read(want, std::chrono::milliseconds(waitMs));
  }
  // The device goes away as an unplugged adapter does: the slave side sees a hang-up.
  void Unplug() { master_.Close(); }

 private:
  RawLine master_;
  RawLine holder_;
  std::string path_;
};
