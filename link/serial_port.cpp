#include "serial_port.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <iterator>
#include <thread>

namespace nx480 {

struct SerialPort::Saved {
  termios tio;
};

namespace {

using Clock = std::chrono::steady_clock;

struct BaudEntry {
  int baud;
  speed_t code;
};

constexpr BaudEntry kBauds[] = {
    {300, B300},         {600, B600},         {1200, B1200},       {2400, B2400},
    {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},
    {500000, B500000},   {576000, B576000},   {921600, B921600},   {1000000, B1000000},
    {1152000, B1152000}, {1500000, B1500000}, {2000000, B2000000},
};

// The nearest standard rate at or below `baud` (the lowest one for anything smaller): termios
// takes only the listed codes, and a port at a slightly slower rate than asked for still
// receives what the relay sends at the asked rate far better than one that is too fast.
speed_t SpeedCode(int baud) {
  speed_t code = kBauds[0].code;
  for (const auto& entry : kBauds) {
    if (entry.baud <= baud) code = entry.code;
  }
  return code;
}

// ppoll()'s time-out: to the nanosecond, so that a wait ends when it is due, not at the next
// whole millisecond.
timespec PollTimeout(Clock::duration left) {
  const auto ns = std::clamp<long long>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(left).count(), 0, 60'000'000'000LL);
  return {static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
}

OpenError ClassifyOpenErrno(int err) {
  switch (err) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case EIO:  // built-in serial device nodes without hardware behind them
      return OpenError::NotFound;
    case EACCES:
    case EPERM:
      return OpenError::AccessDenied;
    case EBUSY:
    case EWOULDBLOCK:
      return OpenError::Busy;
    case ENOTTY:
      return OpenError::NotAPort;
    default:
      return OpenError::Other;
  }
}

// Errors of a read or write that mean the device itself is gone, not a passing condition.
bool IsGoneErrno(int err) {
  return err == EIO || err == ENODEV || err == ENXIO || err == EBADF || err == EPIPE;
}

void ResetEvent(int fd) {
  uint64_t value;
  while (::read(fd, &value, sizeof value) > 0) {
  }
}

}  // namespace

void TightenTimersOfThisThread() {
  ::prctl(PR_SET_TIMERSLACK, 1UL);  // 1 ns: no slack beyond what the kernel needs
}

SerialPort::SerialPort() {
  wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

SerialPort::~SerialPort() {
  Close();
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

bool SerialPort::Open(const std::string& path, const LineSettings& settings) {
  const Parity parity = settings.parity;
  const PortTimeouts& timeouts = settings.timeouts;
  std::lock_guard<std::mutex> lock(ioMutex_);
  CloseLocked();
  lastError_ = OpenError::None;
  lastErrno_ = 0;

  // Non-blocking so that every wait below is a poll() with our own limits; no controlling tty.
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    lastErrno_ = errno;
    lastError_ = ClassifyOpenErrno(lastErrno_);
    return false;
  }
  auto fail = [&](OpenError error, int err) {
    lastError_ = error;
    lastErrno_ = err;
    ::close(fd);
    return false;
  };
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return fail(OpenError::NotAPort, ENOTTY);
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0) return fail(ClassifyOpenErrno(errno), errno);
  const termios before = tio;

  // Not shared: TIOCEXCL refuses further opens of the device by other (non-root) programs, and
  // the advisory lock catches a second copy of this tool even when it runs as root.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return fail(OpenError::Busy, errno);
  ::ioctl(fd, TIOCEXCL);

  // Raw 8-bit bytes: no line editing, no echo, no EOF or special characters, no CR/LF mapping,
  // no break or parity marking, no stripping.
  ::cfmakeraw(&tio);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  tio.c_cflag |= CS8 | CREAD | CLOCAL;  // CLOCAL: no modem-status (DSR/DCD) sensitivity
  // No XON/XOFF in either direction.
  tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK | PARMRK | ISTRIP | IGNPAR);
  switch (parity) {
    case Parity::Odd:
      tio.c_cflag |= PARENB | PARODD;
      break;
    case Parity::Even:
      tio.c_cflag |= PARENB;
      break;
    case Parity::Mark:  // stick parity: with PARODD the parity bit is always 1
      tio.c_cflag |= PARENB | PARODD | CMSPAR;
      break;
    case Parity::None:
      break;
  }
  // Parity is generated but received parity is not verified: INPCK stays off.
  //
  // Linux has no one-and-a-half stop bits. Two is the nearest that is safe: a receiver needs at
  // least the stop time it expects, so sending two where one and a half are expected is always
  // received, and our own receiver checks only the first stop bit anyway.
  if (settings.stopBits != StopBits::One) tio.c_cflag |= CSTOPB;
  // VMIN = VTIME = 0: read() never waits in the driver; all waiting is poll() below.
  for (auto& cc : tio.c_cc) cc = 0;
  const speed_t speed = SpeedCode(settings.baud);
  ::cfsetispeed(&tio, speed);
  ::cfsetospeed(&tio, speed);
  ::tcsetattr(fd, TCSANOW, &tio);  // result deliberately unused, see header
  ::tcflush(fd, TCIOFLUSH);

  // DTR and RTS on. A pseudo-terminal or a driver without modem lines refuses this; that is fine.
  int lines = TIOCM_DTR | TIOCM_RTS;
  ::ioctl(fd, TIOCMBIS, &lines);

  // USB serial adapters hold received bytes back for up to 16 ms unless asked for low latency;
  // with a 22 ms inter-byte gap that would tear replies. Drivers without it say ENOTTY/EINVAL.
  serial_struct ser{};
  if (::ioctl(fd, TIOCGSERIAL, &ser) == 0) {
    ser.flags |= ASYNC_LOW_LATENCY;
    ::ioctl(fd, TIOCSSERIAL, &ser);
  }
  // The driver queues (128 bytes each way on other systems) have no counterpart here: the
  // kernel's tty buffers are larger and fixed.

  if (wakeFd_ >= 0) ResetEvent(wakeFd_);
  fd_ = fd;
  opened_ = std::make_unique<Saved>(Saved{before});
  gone_.store(false, std::memory_order_release);
  timeouts_ = timeouts;
  open_.store(true, std::memory_order_release);
  return true;
}

void SerialPort::Close() {
  // Mark the port closed at once, so a transaction woken below knows why its read ended; then
  // wake a Read or Write that is waiting on the descriptor and wait for it to let go.
  open_.store(false, std::memory_order_release);
  Wake();
  std::lock_guard<std::mutex> lock(ioMutex_);
  CloseLocked();
  if (wakeFd_ >= 0) ResetEvent(wakeFd_);
}

void SerialPort::CloseLocked() {
  if (fd_ < 0) return;
  open_.store(false, std::memory_order_release);
  // Clear exclusive mode: it belongs to the device, not to this descriptor, and would otherwise
  // outlive the close when another process (a simulator, a terminal) holds the device open.
  ::ioctl(fd_, TIOCNXCL);
  // What was handed over leaves - a Cancel written just before a close still reaches the relay
  // - for as long as a write of the request buffer may take. Only what is still queued then is
  // discarded, so that close() cannot linger waiting for the line to drain. (A pseudo-terminal
  // queues nothing: there, discarding output would discard what the other side has not read.)
  const auto sent = Clock::now() + std::chrono::milliseconds(64 * timeouts_.writePerByte +
                                                             timeouts_.writeConstant);
  int queued = 0;
  while (!gone_.load(std::memory_order_acquire) && ::ioctl(fd_, TIOCOUTQ, &queued) == 0 &&
         queued > 0 && Clock::now() < sent) {
    const timespec pause{0, 1'000'000};
    ::nanosleep(&pause, nullptr);
  }
  ::tcflush(fd_, queued > 0 ? TCIOFLUSH : TCIFLUSH);
  // The device's own settings again, once the last byte has left the line (nothing is queued
  // now, so the wait is the transmitter's last character at most).
  if (opened_) ::tcsetattr(fd_, TCSADRAIN, &opened_->tio);
  ::close(fd_);
  fd_ = -1;
}

int SerialPort::WaitFor(int fd, short events, Clock::time_point deadline, const StopFlag* stop) {
  for (;;) {
    if (stop != nullptr && stop->load(std::memory_order_acquire)) return -1;
    if (!open_.load(std::memory_order_acquire)) return -1;  // being closed
    const auto now = Clock::now();
    if (now >= deadline) return 0;
    pollfd fds[2] = {{fd, events, 0}, {wakeFd_, POLLIN, 0}};
    const timespec timeout = PollTimeout(deadline - now);
    const int r = ::ppoll(fds, 2, &timeout, nullptr);
    if (r < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (fds[1].revents & POLLIN) {
      // Woken: look at the stop flag and the open state again.
      ResetEvent(wakeFd_);
      continue;
    }
    if (fds[0].revents != 0) return fds[0].revents;
  }
}

size_t SerialPort::Write(const uint8_t* data, size_t length, const StopFlag* stop) {
  std::lock_guard<std::mutex> lock(ioMutex_);
  if (fd_ < 0 || length == 0) return 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(static_cast<long long>(length) *
                                                                     timeouts_.writePerByte +
                                                                 timeouts_.writeConstant);
  size_t done = 0;
  while (done < length) {
    const ssize_t n = ::write(fd_, data + done, length - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) {
      if (IsGoneErrno(errno)) gone_.store(true, std::memory_order_release);
      break;
    }
    const int revents = WaitFor(fd_, POLLOUT, deadline, stop);
    if (revents <= 0) break;
    if (revents & (POLLERR | POLLHUP | POLLNVAL)) {
      gone_.store(true, std::memory_order_release);
      break;
    }
  }
  return done;
}

size_t SerialPort::Read(uint8_t* data, size_t expected, const StopFlag* stop,
                        FrameLength frameLength) {
  std::lock_guard<std::mutex> lock(ioMutex_);
  if (fd_ < 0 || expected == 0) return 0;
  ReadCourse course(timeouts_, expected, frameLength, Clock::now());
  // Set when poll() reported a hang-up or error: bytes still buffered are read first, and a
  // read that then brings nothing means the device is gone (a hung-up tty reads as end of
  // file, a pty whose other side closed as EIO).
  bool hangUp = false;
  while (course.Missing() > 0) {
    const ssize_t n = ::read(fd_, data + course.Got(), course.Missing());
    if (n > 0) {
      course.Received(data, static_cast<size_t>(n), Clock::now());
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) {
      if (IsGoneErrno(errno)) gone_.store(true, std::memory_order_release);
      break;
    }
    if (hangUp) {
      gone_.store(true, std::memory_order_release);
      break;
    }
    const auto limit = course.Limit();
    const int revents = WaitFor(fd_, POLLIN, limit, stop);
    if (revents < 0) break;
    if (revents == 0 && Clock::now() >= limit) break;
    if (revents & (POLLERR | POLLHUP | POLLNVAL)) hangUp = true;
  }
  return course.Got();
}

bool SerialPort::Sleep(std::chrono::microseconds duration, const StopFlag* stop) {
  // Touches only the event descriptor, which lives as long as the object.
  return WaitFor(-1, 0, Clock::now() + duration, stop) == 0;
}

void SerialPort::Idle(std::chrono::microseconds duration) {
  std::this_thread::sleep_for(duration);
}

void SerialPort::Wake() {
  if (wakeFd_ < 0) return;
  const uint64_t one = 1;
  [[maybe_unused]] const auto n = ::write(wakeFd_, &one, sizeof one);
}

}  // namespace nx480
