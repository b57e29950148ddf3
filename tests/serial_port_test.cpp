#include "serial_port.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <termios.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "link_support.h"
#include "modbus.h"
#include "pty.h"
#include "relay_search.h"

using namespace nx480;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

long long MsSince(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

LineSettings Line(Parity parity = Parity::None, StopBits stopBits = StopBits::One,
                  PortTimeouts timeouts = {}) {
  LineSettings line;
  line.parity = parity;
  line.stopBits = stopBits;
  line.timeouts = timeouts;
  return line;
}

PortTimeouts Timeouts(int interval, int perByte, int constant) {
  PortTimeouts t;
  t.readInterval = interval;
  t.readPerByte = perByte;
  t.readConstant = constant;
  return t;
}

}  // namespace

TEST(SerialPortSettings, TimeoutsFromTheBaudRate) {
  const PortTimeouts fast = TimeoutsForBaud(115200, 100);
  EXPECT_EQ(fast.readInterval, 22);
  EXPECT_EQ(fast.readPerByte, 1);
  EXPECT_EQ(fast.readConstant, 100);
  EXPECT_EQ(fast.writePerByte, 1);
  EXPECT_EQ(fast.writeConstant, 50);
  EXPECT_EQ(TimeoutsForBaud(38000, 100).readInterval, 23);
  EXPECT_EQ(TimeoutsForBaud(38400, 100).readInterval, 22);
  const PortTimeouts slow = TimeoutsForBaud(9600, 100);
  EXPECT_EQ(slow.readInterval, 25);
  EXPECT_EQ(slow.readPerByte, 2);
  EXPECT_EQ(slow.writePerByte, 2);
}

TEST(SerialPortSettings, LineSettingsReachTheDevice) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  struct Case {
    Parity parity;
    StopBits stopBits;
    tcflag_t set, clear;
  } cases[] = {
      {Parity::None, StopBits::One, 0, PARENB | CSTOPB},
      {Parity::Odd, StopBits::Two, PARENB | PARODD | CSTOPB, CMSPAR},
      {Parity::Even, StopBits::One, PARENB, PARODD | CMSPAR | CSTOPB},
      {Parity::Mark, StopBits::OneAndHalf, PARENB | PARODD | CMSPAR | CSTOPB, 0},
  };
  for (const Case& c : cases) {
    SerialPort port;
    ASSERT_TRUE(port.Open(pty.path(), Line(c.parity, c.stopBits, TimeoutsForBaud(115200, 100))));
    termios tio{};
    ASSERT_EQ(::tcgetattr(pty.master(), &tio), 0);
    // A pseudo-terminal keeps every line flag but PARENB (it has no parity to generate).
    EXPECT_EQ(tio.c_cflag & (c.set & ~PARENB), c.set & ~PARENB);
    EXPECT_EQ(tio.c_cflag & c.clear, 0u);
    EXPECT_EQ(tio.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_EQ(tio.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | INPCK | ICRNL | ISTRIP), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    EXPECT_EQ(::cfgetospeed(&tio), speed_t(B115200));
  }
}

TEST(SerialPortOpen, MissingNonPortBusyAndReopen) {
  SerialPort port;
  EXPECT_FALSE(port.Open("/nonexistent/ttyUSB99", Line()));
  EXPECT_EQ(port.LastOpenError(), OpenError::NotFound);
  EXPECT_FALSE(port.IsOpen());

  char file[] = "/tmp/nx480-notaport-XXXXXX";
  const int fd = ::mkstemp(file);
  ASSERT_GE(fd, 0);
  ::close(fd);
  EXPECT_FALSE(port.Open(file, Line()));
  EXPECT_EQ(port.LastOpenError(), OpenError::NotAPort);
  std::remove(file);

  // Not shared: a second opener of the same device is refused, even as root.
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  ASSERT_TRUE(port.Open(pty.path(), Line()));
  SerialPort other;
  EXPECT_FALSE(other.Open(pty.path(), Line()));
  EXPECT_EQ(other.LastOpenError(), OpenError::Busy);
  // After a close the device is free again, also for the exclusive-mode check.
  port.Close();
  EXPECT_TRUE(other.Open(pty.path(), Line()));
}

TEST(SerialPortOpen, PermissionDeniedIsReportedAsSuch) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  ASSERT_EQ(::chmod(pty.path().c_str(), 0600), 0);
  // Open as an unprivileged user in a child process; root could open anything.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::geteuid() == 0 && ::setuid(65534) != 0) ::_exit(3);
    SerialPort port;
    if (port.Open(pty.path(), Line())) ::_exit(4);
    ::_exit(port.LastOpenError() == OpenError::AccessDenied ? 0 : 5);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

// The read's three ways to end, measured with generous margins.
TEST(SerialPortTiming, ReadEndsWhenCompleteAfterGapOrAtWholeLimit) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  SerialPort port;

  // 1. All expected bytes in: returns at once, long before its 2-second limit.
  ASSERT_TRUE(port.Open(pty.path(), Line(Parity::None, StopBits::One, Timeouts(1000, 1, 2000))));
  std::thread device([&] {
    std::this_thread::sleep_for(30ms);
    pty.Send({1, 2, 3, 4, 5, 6, 7, 8});
  });
  uint8_t buf[64];
  auto t0 = Clock::now();
  EXPECT_EQ(port.Read(buf, 8), 8u);
  EXPECT_LT(MsSince(t0), 1000);
  device.join();
  EXPECT_EQ(buf[7], 8);

  // 2. Fewer bytes: ends one inter-byte gap (1 s) after the last byte, and a byte inside the gap
  //    starts the gap again (the device's 200 ms pause leaves 800 ms for it to be late).
  ASSERT_TRUE(port.Open(pty.path(), Line(Parity::None, StopBits::One, Timeouts(1000, 1, 20000))));
  device = std::thread([&] {
    std::this_thread::sleep_for(20ms);
    pty.Send({1, 2, 3});
    std::this_thread::sleep_for(200ms);
    pty.Send({4, 5});
  });
  t0 = Clock::now();
  EXPECT_EQ(port.Read(buf, 30), 5u);
  const auto gapEnd = MsSince(t0);
  device.join();
  EXPECT_GE(gapEnd, 20 + 200 + 990);
  EXPECT_LT(gapEnd, 10000);

  // 3. Silence: ends at E x per-byte + constant = 10 x 5 + 250 = 300 ms.
  ASSERT_TRUE(port.Open(pty.path(), Line(Parity::None, StopBits::One, Timeouts(22, 5, 250))));
  t0 = Clock::now();
  EXPECT_EQ(port.Read(buf, 10), 0u);
  const auto silent = MsSince(t0);
  EXPECT_GE(silent, 290);
  EXPECT_LT(silent, 1500);

  // 4. Bytes trickling within the gap do not stretch the whole-read limit (360 ms), which is
  //    shorter than the gap: however late the device's bytes, only that limit ends the read.
  ASSERT_TRUE(port.Open(pty.path(), Line(Parity::None, StopBits::One, Timeouts(3000, 1, 300))));
  std::atomic<bool> stop{false};
  pty.Send({0x55});
  device = std::thread([&] {
    while (!stop) {
      std::this_thread::sleep_for(40ms);
      pty.Send({0x55});
    }
  });
  t0 = Clock::now();
  const size_t trickled = port.Read(buf, 60);
  const auto whole = MsSince(t0);
  stop = true;
  device.join();
  EXPECT_GT(trickled, 0u);
  EXPECT_LT(trickled, 60u);
  EXPECT_GE(whole, 340);
  EXPECT_LT(whole, 1500);
}

namespace {

// A frame that says its length in byte 2 (count + 5), as a read reply or the identification do.
size_t CountedLength(const uint8_t* head, size_t count) {
  return count >= 3 ? head[2] + 5u : 0u;
}

std::vector<uint8_t> CountedFrame(uint8_t count, size_t bytes) {
  std::vector<uint8_t> frame(bytes, 0x20);
  frame[0] = 0x01;
  frame[1] = 0x11;
  frame[2] = count;
  return frame;
}

}  // namespace

// With the frame's own length the read ends when the frame is whole, not one gap later; the
// length never takes it past its limits.
TEST(SerialPortTiming, ReadEndsWhenTheFrameIsWholeByItsOwnLength) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  SerialPort port;
  // A 5-second gap: a read that waited for it would show.
  ASSERT_TRUE(port.Open(pty.path(), Line(Parity::None, StopBits::One, Timeouts(5000, 1, 10000))));
  uint8_t buf[64] = {};

  // 1. 29 bytes of a frame that says 29 (count 24), the length known only with the third byte:
  //    the read takes 29 of the 30 it may and ends at once.
  const std::vector<uint8_t> frame = CountedFrame(24, 29);
  std::thread device([&] {
    pty.Send({frame.begin(), frame.begin() + 2});
    std::this_thread::sleep_for(30ms);
    pty.Send({frame.begin() + 2, frame.end()});
  });
  auto t0 = Clock::now();
  EXPECT_EQ(port.Read(buf, 30, nullptr, CountedLength), 29u);
  EXPECT_LT(MsSince(t0), 3000);
  device.join();

  // 2. A frame that stops short of the length it says still ends one gap after its last byte.
  ASSERT_TRUE(port.Open(pty.path(), Line(Parity::None, StopBits::One, Timeouts(300, 1, 3000))));
  pty.Send(CountedFrame(24, 20));
  t0 = Clock::now();
  EXPECT_EQ(port.Read(buf, 30, nullptr, CountedLength), 20u);
  EXPECT_GE(MsSince(t0), 280);

  // 3. A count longer than the read may take: the read stops at its own size, at once, and the
  //    rest stays for the next read.
  ASSERT_TRUE(port.Open(pty.path(), Line(Parity::None, StopBits::One, Timeouts(5000, 1, 10000))));
  pty.Send(CountedFrame(250, 40));
  t0 = Clock::now();
  EXPECT_EQ(port.Read(buf, 30, nullptr, CountedLength), 30u);
  EXPECT_LT(MsSince(t0), 3000);
  EXPECT_EQ(port.Read(buf, 10), 10u);

  // 4. ... nor past its whole-read limit (360 ms, shorter than the gap) while bytes keep trickling
  //    in.
  ASSERT_TRUE(port.Open(pty.path(), Line(Parity::None, StopBits::One, Timeouts(3000, 1, 300))));
  std::atomic<bool> stop{false};
  device = std::thread([&] {
    pty.Send({0x01, 0x11, 0xFF});
    while (!stop) {
      std::this_thread::sleep_for(40ms);
      pty.Send({0x55});
    }
  });
  t0 = Clock::now();
  const size_t trickled = port.Read(buf, 60, nullptr, CountedLength);
  const auto whole = MsSince(t0);
  stop = true;
  device.join();
  EXPECT_LT(trickled, 60u);
  EXPECT_GE(whole, 340);
  EXPECT_LT(whole, 1500);
}

TEST(SerialPortTiming, WriteReachesTheDevice) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  SerialPort port;
  ASSERT_TRUE(
      port.Open(pty.path(), Line(Parity::None, StopBits::One, TimeoutsForBaud(115200, 100))));
  const uint8_t request[] = {0x01, 0x11, 0xC0, 0x2C};
  EXPECT_EQ(port.Write(request, sizeof request), sizeof request);
  const auto got = pty.Receive(4);
  EXPECT_EQ(got, std::vector<uint8_t>({0x01, 0x11, 0xC0, 0x2C}));
}

TEST(SerialPortClose, CloseFromAnotherThreadEndsAWaitingRead) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  SerialPort port;
  ASSERT_TRUE(port.Open(pty.path(), Line(Parity::None, StopBits::One, Timeouts(22, 1, 10000))));
  uint8_t buf[16];
  size_t got = 99;
  long long readMs = 0;
  std::thread reader([&] {
    const auto t0 = Clock::now();
    got = port.Read(buf, 16);
    readMs = MsSince(t0);
  });
  // Most likely waiting by now; a read that begins after the close fails at once all the same.
  std::this_thread::sleep_for(100ms);
  const auto t0 = Clock::now();
  port.Close();
  const auto closeMs = MsSince(t0);
  reader.join();
  EXPECT_EQ(got, 0u);
  EXPECT_LT(readMs, 5000);  // far from its 10-second limit
  EXPECT_LT(closeMs, 2000);
  EXPECT_FALSE(port.IsOpen());

  // A closed port fails like a silent device, without waiting.
  const auto t1 = Clock::now();
  EXPECT_EQ(port.Read(buf, 16), 0u);
  EXPECT_EQ(port.Write(buf, 4), 0u);
  EXPECT_LT(MsSince(t1), 2000);  // far from the 10-second limit
  port.Close();  // closing twice is harmless
}

TEST(SerialPortClose, AVanishedDeviceIsToldApartFromASilentOne) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  SerialPort port;
  ASSERT_TRUE(port.Open(pty.path(), Line(Parity::None, StopBits::One, Timeouts(22, 1, 300))));
  uint8_t buf[16];
  // Silent: the read waits out its limit, and the device is not gone.
  EXPECT_EQ(port.Read(buf, 4), 0u);
  EXPECT_FALSE(port.DeviceGone());
  // Bytes still come in; then the device vanishes, and the next read sees it at once, long
  // before its limit of 10 s.
  ASSERT_TRUE(port.Open(pty.path(), Line(Parity::None, StopBits::One, Timeouts(22, 1, 10000))));
  pty.Send({0x01, 0x02});
  EXPECT_EQ(port.Read(buf, 2), 2u);
  EXPECT_FALSE(port.DeviceGone());
  pty.Unplug();
  const auto t0 = Clock::now();
  EXPECT_EQ(port.Read(buf, 16), 0u);
  EXPECT_TRUE(port.DeviceGone());
  EXPECT_EQ(port.Read(buf, 16), 0u);
  EXPECT_EQ(port.Write(buf, 4), 0u);
  EXPECT_LT(MsSince(t0), 5000);  // never waits out the read limits on a dead line
  EXPECT_TRUE(port.IsOpen());   // until the owner closes it
  port.Close();
  EXPECT_FALSE(port.DeviceGone() && port.IsOpen());
}

// A terminal named as a port (a console, the user's own terminal) where no relay answers: the
// search leaves it with its own settings, not raw at 115200.
TEST(SerialPortClose, AFailedSearchLeavesATerminalAsItWas) {
  RawLine master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
  char name[128];
  ASSERT_TRUE(master.Ok() && ::grantpt(master.Fd()) == 0 && ::unlockpt(master.Fd()) == 0 &&
              ::ptsname_r(master.Fd(), name, sizeof name) == 0);
  const RawLine terminal(name, false);  // as a shell has it: line editing, echo
  termios before{};
  ASSERT_EQ(::tcgetattr(terminal.Fd(), &before), 0);
  ASSERT_NE(before.c_lflag & ICANON, 0u);
  TModbus link;
  EXPECT_FALSE(SearchRelay(link, {name}, TestLine(), 50).found);
  termios after{};
  ASSERT_EQ(::tcgetattr(terminal.Fd(), &after), 0);
  EXPECT_EQ(after.c_iflag, before.c_iflag);
  EXPECT_EQ(after.c_oflag, before.c_oflag);
  EXPECT_EQ(after.c_cflag, before.c_cflag);
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  EXPECT_TRUE(std::equal(std::begin(after.c_cc), std::end(after.c_cc), std::begin(before.c_cc)));
  EXPECT_EQ(::cfgetospeed(&after), ::cfgetospeed(&before));
}
