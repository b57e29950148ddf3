// SerialLine on Windows: the COM port opened for overlapped I/O. The driver's time-outs make a
// read return at once with what is there; waiting is ours alone (WaitForMultipleObjects on the
// operation's event and the wake event, to the next millisecond), so the time-out model and the
// frame-length early end (ReadCourse, serial_line.h) and the waking rules are those of
// serial_port.cpp.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>

#include "port_list.h"
#include "serial_port.h"

namespace nx480 {

struct SerialPort::Saved {
  DCB dcb;
  COMMTIMEOUTS timeouts;
};

namespace {

using Clock = std::chrono::steady_clock;

std::wstring Wide(const std::string& text) {
  if (text.empty()) return {};
  const int n =
      ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

// "COM5" (any spelling, "\\.\COM5" too) -> "\\.\COM5": the device namespace, the only way
// to COM10 and above. Any other name is opened as it is.
std::wstring DevicePath(const std::string& path) {
  const std::string com = ComPortName(path);
  return com.empty() ? Wide(path) : L"\\\\.\\" + Wide(com);
}

OpenError ClassifyOpenError(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return OpenError::NotFound;
    // What Windows reports for a port that another program holds open: the ports are not
    // shared, and there is no permission to lack on a COM port.
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return OpenError::Busy;
    default:
      return OpenError::Other;
  }
}

// The errors an unplugged USB adapter gives on a read, a write or ClearCommError, and a line
// that hung up (a tty behind Wine's COM port whose other side closed: ERROR_BROKEN_PIPE, and
// an aborted wait for its next byte).
bool IsGoneError(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_GEN_FAILURE || error == ERROR_BAD_COMMAND ||
         error == ERROR_DEVICE_NOT_CONNECTED || error == ERROR_BROKEN_PIPE ||
         error == ERROR_OPERATION_ABORTED;  // only when we did not cancel: see Finish()
}

// The time left, in whole milliseconds rounded up: a wait never ends before it is due.
DWORD WaitMilliseconds(Clock::duration left) {
  const auto us = std::chrono::duration_cast<std::chrono::microseconds>(left).count();
  return static_cast<DWORD>(std::clamp<long long>((us + 999) / 1000, 0, 60'000));
}

}  // namespace

void TightenTimersOfThisThread() {
  // The system timer at 1 ms for the rest of the process (one request, never given back: the
  // worker's waits are few milliseconds for as long as the program runs).
  static std::once_flag once;
  std::call_once(once, [] { ::timeBeginPeriod(1); });
}

SerialPort::SerialPort() {
  wakeEvent_ = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ioEvent_ = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

SerialPort::~SerialPort() {
  Close();
  if (wakeEvent_ != nullptr) ::CloseHandle(wakeEvent_);
  if (ioEvent_ != nullptr) ::CloseHandle(ioEvent_);
}

bool SerialPort::Open(const std::string& path, const LineSettings& settings) {
  std::lock_guard<std::mutex> lock(ioMutex_);
  CloseLocked();
  lastError_ = OpenError::None;
  lastErrno_ = 0;

  // Not shared (0): while we hold the port no other program opens it.
  const HANDLE h = ::CreateFileW(DevicePath(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    lastErrno_ = static_cast<int>(::GetLastError());
    lastError_ = ClassifyOpenError(static_cast<DWORD>(lastErrno_));
    return false;
  }
  // The port's own name too: a driver refuses a second open by itself, but Wine's COM ports (a
  // tty behind a link) do not, so a second copy of this tool is refused here, as on Linux by the
  // advisory lock.
  std::wstring lockName = L"Local\\nx480-port-" + DevicePath(path);
  std::replace(lockName.begin() + 6, lockName.end(), L'\\', L'/');
  const HANDLE portLock = ::CreateMutexW(nullptr, FALSE, lockName.c_str());
  if (portLock == nullptr || ::GetLastError() == ERROR_ALREADY_EXISTS) {
    if (portLock != nullptr) ::CloseHandle(portLock);
    ::CloseHandle(h);
    lastErrno_ = ERROR_SHARING_VIOLATION;
    lastError_ = OpenError::Busy;
    return false;
  }
  Saved before{};
  before.dcb.DCBlength = sizeof(DCB);
  if (!::GetCommState(h, &before.dcb) || !::GetCommTimeouts(h, &before.timeouts)) {
    // A file or a device that is no serial port.
    lastErrno_ = static_cast<int>(::GetLastError());
    lastError_ = OpenError::NotAPort;
    ::CloseHandle(portLock);
    ::CloseHandle(h);
    return false;
  }

  DCB dcb = before.dcb;
  dcb.BaudRate = static_cast<DWORD>(std::max(settings.baud, 1));
  dcb.ByteSize = 8;
  dcb.fBinary = TRUE;
  dcb.fParity = FALSE;  // parity is sent, received parity is not checked
  switch (settings.parity) {
    case Parity::None:
      dcb.Parity = NOPARITY;
      break;
    case Parity::Odd:
      dcb.Parity = ODDPARITY;
      break;
    case Parity::Even:
      dcb.Parity = EVENPARITY;
      break;
    case Parity::Mark:
      dcb.Parity = MARKPARITY;
      break;
  }
  switch (settings.stopBits) {
    case StopBits::One:
      dcb.StopBits = ONESTOPBIT;
      break;
    case StopBits::OneAndHalf:
      dcb.StopBits = ONE5STOPBITS;
      break;
    case StopBits::Two:
      dcb.StopBits = TWOSTOPBITS;
      break;
  }
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fTXContinueOnXoff = TRUE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.fAbortOnError = FALSE;
  // Refused settings show up as failing transactions, as on Linux. Most UARTs take 1.5 stop
  // bits only with 5 data bits: then two, which every receiver expecting 1.5 accepts.
  if (!::SetCommState(h, &dcb) && dcb.StopBits == ONE5STOPBITS) {
    dcb.StopBits = TWOSTOPBITS;
    ::SetCommState(h, &dcb);
  }
  ::SetupComm(h, 128, 128);
  // A read returns at once with what is there; a write has no driver limit. Our own deadlines
  // decide every wait.
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  ::SetCommTimeouts(h, &timeouts);
  ::SetCommMask(h, EV_RXCHAR);
  ::PurgeComm(h, PURGE_RXABORT | PURGE_TXABORT | PURGE_RXCLEAR | PURGE_TXCLEAR);

  if (wakeEvent_ != nullptr) ::ResetEvent(wakeEvent_);
  handle_ = h;
  portLock_ = portLock;
  opened_ = std::make_unique<Saved>(before);
  gone_.store(false, std::memory_order_release);
  timeouts_ = settings.timeouts;
  open_.store(true, std::memory_order_release);
  return true;
}

void SerialPort::Close() {
  // Marked closed at once, so a call woken below knows why its wait ended; the woken call
  // cancels its own pending operation and waits for it to end (Finish) before it lets go of the
  // mutex, so the handle is closed only once nothing uses it.
  open_.store(false, std::memory_order_release);
  Wake();
  std::lock_guard<std::mutex> lock(ioMutex_);
  CloseLocked();
  if (wakeEvent_ != nullptr) ::ResetEvent(wakeEvent_);
}

void SerialPort::CloseLocked() {
  if (handle_ == nullptr) return;
  open_.store(false, std::memory_order_release);
  const HANDLE h = handle_;
  // What was handed over leaves, for as long as a write of the request buffer may take; only
  // what is still queued then is discarded.
  const auto sent = Clock::now() + std::chrono::milliseconds(64 * timeouts_.writePerByte +
                                                             timeouts_.writeConstant);
  COMSTAT stat{};
  DWORD errors = 0;
  bool queued = false;
  while (!gone_.load(std::memory_order_acquire) && ::ClearCommError(h, &errors, &stat) &&
         (queued = stat.cbOutQue > 0) && Clock::now() < sent) {
    ::Sleep(1);
  }
  ::PurgeComm(h, PURGE_RXCLEAR | (queued ? PURGE_TXCLEAR : 0));
  ::SetCommMask(h, 0);
  if (opened_) {
    ::SetCommState(h, &opened_->dcb);
    ::SetCommTimeouts(h, &opened_->timeouts);
  }
  ::CloseHandle(h);
  handle_ = nullptr;
  ::CloseHandle(portLock_);
  portLock_ = nullptr;
}

void SerialPort::MarkGoneIf(unsigned long error) {
  if (IsGoneError(error)) gone_.store(true, std::memory_order_release);
}

SerialPort::Waited SerialPort::WaitFor(void* event, Clock::time_point deadline,
                                       const StopFlag* stop) {
  for (;;) {
    if (stop != nullptr && stop->load(std::memory_order_acquire)) return Waited::CutShort;
    if (!open_.load(std::memory_order_acquire)) return Waited::CutShort;  // being closed
    const auto now = Clock::now();
    if (now >= deadline) return Waited::Deadline;
    HANDLE handles[2] = {wakeEvent_, event};
    const DWORD count = event != nullptr ? 2 : 1;
    const DWORD r =
        ::WaitForMultipleObjects(count, handles, FALSE, WaitMilliseconds(deadline - now));
    if (r == WAIT_OBJECT_0) {
      // Woken: look at the stop flag and the open state again.
      ::ResetEvent(wakeEvent_);
      continue;
    }
    if (r == WAIT_OBJECT_0 + 1) return Waited::Done;
    if (r == WAIT_FAILED) return Waited::CutShort;
    // WAIT_TIMEOUT: the deadline is looked at above.
  }
}

unsigned long SerialPort::Finish(void* overlapped, bool cancel) {
  auto* ov = static_cast<OVERLAPPED*>(overlapped);
  if (cancel) ::CancelIoEx(handle_, ov);
  // The operation must have left the OVERLAPPED before it goes out of scope: wait for it.
  DWORD moved = 0;
  if (!::GetOverlappedResult(handle_, ov, &moved, TRUE)) {
    const DWORD error = ::GetLastError();
    if (!(cancel && error == ERROR_OPERATION_ABORTED)) MarkGoneIf(error);
  }
  return moved;
}

size_t SerialPort::Write(const uint8_t* data, size_t length, const StopFlag* stop) {
  std::lock_guard<std::mutex> lock(ioMutex_);
  if (handle_ == nullptr || length == 0) return 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(static_cast<long long>(length) *
                                                                     timeouts_.writePerByte +
                                                                 timeouts_.writeConstant);
  OVERLAPPED ov{};
  ov.hEvent = ioEvent_;
  ::ResetEvent(ioEvent_);
  if (::WriteFile(handle_, data, static_cast<DWORD>(length), nullptr, &ov))
    return Finish(&ov, false);
  const DWORD error = ::GetLastError();
  if (error != ERROR_IO_PENDING) {
    MarkGoneIf(error);
    return 0;
  }
  const Waited waited = WaitFor(ioEvent_, deadline, stop);
  return Finish(&ov, waited != Waited::Done);
}

size_t SerialPort::Read(uint8_t* data, size_t expected, const StopFlag* stop,
                        FrameLength frameLength) {
  std::lock_guard<std::mutex> lock(ioMutex_);
  if (handle_ == nullptr || expected == 0) return 0;
  ReadCourse course(timeouts_, expected, frameLength, Clock::now());
  while (course.Missing() > 0 && !gone_.load(std::memory_order_acquire)) {
    const auto limit = course.Limit();
    // What is there, at once (the driver's time-outs).
    OVERLAPPED ov{};
    ov.hEvent = ioEvent_;
    ::ResetEvent(ioEvent_);
    DWORD n = 0;
    if (::ReadFile(handle_, data + course.Got(), static_cast<DWORD>(course.Missing()), nullptr,
                   &ov)) {
      n = Finish(&ov, false);
    } else if (const DWORD error = ::GetLastError(); error == ERROR_IO_PENDING) {
      // A driver that waits despite the time-outs: its read is waited for as a byte would be.
      n = Finish(&ov, WaitFor(ioEvent_, limit, stop) != Waited::Done);
    } else {
      MarkGoneIf(error);
      break;
    }
    if (n > 0) {
      course.Received(data, n, Clock::now());
      continue;
    }
    if (stop != nullptr && stop->load(std::memory_order_acquire)) break;
    if (!open_.load(std::memory_order_acquire) || Clock::now() >= limit) break;
    // Nothing there: a device that is gone says so here; bytes that came meanwhile are read.
    COMSTAT stat{};
    DWORD errors = 0;
    if (!::ClearCommError(handle_, &errors, &stat)) {
      MarkGoneIf(::GetLastError());
      if (gone_.load(std::memory_order_acquire)) break;
    } else if (stat.cbInQue > 0) {
      continue;
    }
    // Wait for the next byte. A byte that came after the read above is remembered by the
    // driver, and the wait then ends at once.
    OVERLAPPED ev{};
    ev.hEvent = ioEvent_;
    ::ResetEvent(ioEvent_);
    DWORD mask = 0;
    if (::WaitCommEvent(handle_, &mask, &ev)) continue;
    if (const DWORD error = ::GetLastError(); error != ERROR_IO_PENDING) {
      MarkGoneIf(error);
      if (gone_.load(std::memory_order_acquire)) break;
      // A driver without events: look again in a millisecond.
      if (WaitFor(nullptr, std::min(limit, Clock::now() + std::chrono::milliseconds(1)), stop) ==
          Waited::CutShort)
        break;
      continue;
    }
    const Waited waited = WaitFor(ioEvent_, limit, stop);
    Finish(&ev, waited != Waited::Done);
    if (waited != Waited::Done) break;
  }
  return course.Got();
}

bool SerialPort::Sleep(std::chrono::microseconds duration, const StopFlag* stop) {
  // Touches only the wake event, which lives as long as the object.
  return WaitFor(nullptr, Clock::now() + duration, stop) == Waited::Deadline;
}

void SerialPort::Idle(std::chrono::microseconds duration) {
  std::this_thread::sleep_for(duration);
}

void SerialPort::Wake() {
  if (wakeEvent_ != nullptr) ::SetEvent(wakeEvent_);
}

}  // namespace nx480
