#include "pty_relay.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <stdexcept>
#include <system_error>

#include "relay_live.h"

namespace nx480::sim {
namespace {

[[noreturn]] void ThrowErrno(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

void CloseFd(int& fd) {
  if (fd >= 0) {
    ::close(fd);
    fd = -1;
  }
}

std::string ReadLink(const std::string& path) {
  std::array<char, PATH_MAX> buf{};
  const ssize_t n = ::readlink(path.c_str(), buf.data(), buf.size() - 1);
  return n < 0 ? std::string() : std::string(buf.data(), static_cast<std::size_t>(n));
}

}  // namespace

PtyRelay::PtyRelay(RelayConfig config, PtyOptions options)
    : options_(std::move(options)),
      byte_time_(options_.baud == 0
                     ? Clock::duration::zero()
                     : std::chrono::duration_cast<Clock::duration>(
                           std::chrono::nanoseconds(10'000'000'000LL / options_.baud))),
      model_(std::move(config)),
      framer_(options_.frame_gap) {}

PtyRelay::~PtyRelay() {
  Stop();
}

void PtyRelay::Start() {
  std::lock_guard life(life_mutex_);
  if (thread_.joinable()) throw std::logic_error("PtyRelay already running");
  try {
    master_fd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_fd_ < 0) ThrowErrno("posix_openpt");
    if (::grantpt(master_fd_) != 0) ThrowErrno("grantpt");
    if (::unlockpt(master_fd_) != 0) ThrowErrno("unlockpt");
    std::array<char, 128> name{};
    if (::ptsname_r(master_fd_, name.data(), name.size()) != 0) ThrowErrno("ptsname_r");
    const std::string path(name.data());

    slave_fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (slave_fd_ < 0) ThrowErrno("open " + path);
    termios tio{};
    if (::tcgetattr(slave_fd_, &tio) != 0) ThrowErrno("tcgetattr");
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    ::cfsetispeed(&tio, B115200);
    ::cfsetospeed(&tio, B115200);
    if (::tcsetattr(slave_fd_, TCSANOW, &tio) != 0) ThrowErrno("tcsetattr");

    const int flags = ::fcntl(master_fd_, F_GETFL);
    if (flags < 0 || ::fcntl(master_fd_, F_SETFL, flags | O_NONBLOCK) != 0) ThrowErrno("fcntl");
    wake_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_fd_ < 0) ThrowErrno("eventfd");

    if (!options_.link_path.empty()) {
      struct stat st {};
      if (::lstat(options_.link_path.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
          errno = EEXIST;
          ThrowErrno(options_.link_path + " exists and is not a symlink");
        }
        ::unlink(options_.link_path.c_str());
      }
      if (::symlink(path.c_str(), options_.link_path.c_str()) != 0)
        ThrowErrno("symlink " + options_.link_path);
      link_made_ = true;
    }

    {
      std::lock_guard lock(mutex_);
      slave_path_ = path;
    }
    framer_ = RtuFramer(options_.frame_gap);
    tx_.clear();
    line_free_ = Clock::time_point{};
    running_ = true;
    thread_ = std::thread([this] { Run(); });
  } catch (...) {
    running_ = false;
    CloseAll();
    throw;
  }
}

void PtyRelay::Stop() {
  std::lock_guard life(life_mutex_);
  if (!thread_.joinable()) return;
  const std::uint64_t one = 1;
  while (::write(wake_fd_, &one, sizeof one) < 0 && errno == EINTR) {
  }
  thread_.join();
  running_ = false;
  CloseAll();
  changed_.notify_all();
}

void PtyRelay::CloseAll() {
  if (link_made_) {
    std::string path;
    {
      std::lock_guard lock(mutex_);
      path = slave_path_;
    }
    // Leave the link alone if someone else has put their own there meanwhile.
    if (ReadLink(options_.link_path) == path) ::unlink(options_.link_path.c_str());
    link_made_ = false;
  }
  CloseFd(wake_fd_);
  CloseFd(slave_fd_);
  CloseFd(master_fd_);
}

bool PtyRelay::Running() const {
  return running_;
}

std::string PtyRelay::SlavePath() const {
  std::lock_guard lock(mutex_);
  return slave_path_;
}

void PtyRelay::AddFault(const FaultRule& rule) {
  std::lock_guard lock(mutex_);
  model_.Faults().Add(rule);
}

void PtyRelay::ClearFaults() {
  std::lock_guard lock(mutex_);
  model_.Faults().Clear();
}

bool PtyRelay::SetRegister(Table table, std::uint16_t address, std::uint16_t value) {
  std::lock_guard lock(mutex_);
  if (table == Table::kCoils) value = value != 0 ? 1 : 0;
  return model_.Bank().Of(table).Set(address, value);
}

std::optional<std::uint16_t> PtyRelay::GetRegister(Table table, std::uint16_t address) const {
  std::lock_guard lock(mutex_);
  model_.Refresh();
  const RegisterTable& t = model_.Bank().Of(table);
  if (!t.IsDefined(address)) return std::nullopt;
  return t.Get(address);
}

RelayCounters PtyRelay::Counters() const {
  std::lock_guard lock(mutex_);
  RelayCounters c = counters_;
  c.model = model_.Counters();
  return c;
}

bool PtyRelay::WaitFor(const std::function<bool(const RelayCounters&)>& done,
                       std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] {
    RelayCounters c = counters_;
    c.model = model_.Counters();
    return done(c);
  });
}

bool PtyRelay::WaitDrained(std::chrono::milliseconds timeout) const {
  const auto end = Clock::now() + timeout;
  std::unique_lock lock(mutex_);
  for (;;) {
    int unread = 0;
    if (master_fd_ < 0 || ::ioctl(master_fd_, FIONREAD, &unread) != 0) unread = 0;
    if (unread == 0 && framer_.Pending() == 0 && tx_.empty()) return true;
    if (Clock::now() >= end) return false;
    // Bytes waiting in the pty wake the service thread, not this one: look again shortly.
    changed_.wait_for(lock, std::chrono::milliseconds(5));
  }
}

PtyRelay::Clock::time_point PtyRelay::ByteDue(const Outgoing& out, std::size_t index) const {
  // A byte has arrived at the far end once its last bit is on the wire.
  return out.start + byte_time_ * static_cast<Clock::rep>(index + 1);
}

std::optional<PtyRelay::Clock::time_point> PtyRelay::NextDeadline() const {
  std::optional<Clock::time_point> next = framer_.Deadline();
  if (!tx_.empty()) {
    const Clock::time_point due = ByteDue(tx_.front(), tx_.front().sent);
    if (!next || due < *next) next = due;
  }
  return next;
}

void PtyRelay::Run() {
  // A relay is hardware of its own: however busy the PC, its answers come when the wire brings
  // them. Where the system allows it (CAP_SYS_NICE, as for root), the service thread runs at a
  // real-time priority so that the PC's load does not delay its replies past the link's
  // time-outs; elsewhere it runs as any thread. It sleeps in ppoll between frames.
  sched_param priority{};
  priority.sched_priority = 1;
  (void)::pthread_setschedparam(::pthread_self(), SCHED_RR, &priority);
  std::vector<std::uint8_t> traced_in;
  std::vector<std::vector<std::uint8_t>> traced_out;
  bool master_broken = false;
  while (true) {
    std::optional<Clock::time_point> deadline = NextDeadline();
    if (master_broken) {
      // Should not happen while the slave is held open; avoid spinning anyway.
      const auto retry = Clock::now() + std::chrono::milliseconds(10);
      if (!deadline || retry < *deadline) deadline = retry;
    }
    timespec ts{};
    timespec* tsp = nullptr;
    if (deadline) {
      const auto wait = std::max(Clock::duration::zero(), *deadline - Clock::now());
      const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
      ts.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
      ts.tv_nsec = static_cast<long>(ns % 1'000'000'000);
      tsp = &ts;
    }
    pollfd fds[2] = {{wake_fd_, POLLIN, 0},
                     {master_fd_, static_cast<short>(master_broken ? 0 : POLLIN), 0}};
    const int ready = ::ppoll(fds, 2, tsp, nullptr);
    if (ready < 0 && errno != EINTR) break;
    if (ready > 0 && (fds[0].revents & POLLIN)) break;  // Stop()

    const Clock::time_point now = Clock::now();
    master_broken = false;
    if (ready > 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
      if (fds[1].revents & POLLIN) {
        Receive(now, traced_in);
        // Told before the replies go out: whoever learns of a request from its reply finds it
        // in the trace already.
        if (options_.trace && !traced_in.empty()) options_.trace(true, traced_in);
        traced_in.clear();
      } else {
        master_broken = true;
      }
    }
    {
      std::lock_guard lock(mutex_);
      Schedule(framer_.Expire(now), now);
      Transmit(Clock::now(), traced_out);
      counters_.framer = framer_.GetStats();
    }
    changed_.notify_all();
    if (options_.trace)
      for (const auto& reply : traced_out) options_.trace(false, reply);
    traced_out.clear();
  }
}

void PtyRelay::Receive(Clock::time_point now, std::vector<std::uint8_t>& traced) {
  std::array<std::uint8_t, 4096> buf{};
  for (int round = 0; round < 16; ++round) {
    const ssize_t n = ::read(master_fd_, buf.data(), buf.size());
    if (n <= 0) break;  // EAGAIN, or EIO while no slave is open
    const std::span<const std::uint8_t> chunk(buf.data(), static_cast<std::size_t>(n));
    if (options_.trace) traced.insert(traced.end(), chunk.begin(), chunk.end());
    std::lock_guard lock(mutex_);
    counters_.bytes_received += chunk.size();
    Schedule(framer_.Push(chunk, now), now);
  }
}

// Called with mutex_ held.
void PtyRelay::Schedule(const std::vector<RtuFramer::Frame>& frames, Clock::time_point now) {
  for (const auto& frame : frames) {
    std::optional<Reply> reply = model_.Handle(frame);
    if (!reply || reply->bytes.empty()) continue;
    const auto start = std::max(now + options_.answer_delay + reply->delay, line_free_);
    tx_.push_back(Outgoing{std::move(reply->bytes), 0, start});
    line_free_ = start + byte_time_ * static_cast<Clock::rep>(tx_.back().bytes.size());
    if (reply->babble > std::chrono::milliseconds(0)) ScheduleBabble(reply->babble);
  }
}

// Called with mutex_ held. Random bytes right behind the last reply, a chunk every 2 ms: at the
// baud rate as many as fill the 2 ms, at once (baud 0) as many as 115200 baud would carry.
void PtyRelay::ScheduleBabble(std::chrono::milliseconds length) {
  constexpr auto kPeriod = std::chrono::milliseconds(2);
  const std::size_t per_chunk =
      options_.baud == 0 ? 23 : std::max<std::size_t>(1, options_.baud / 5000);
  const Clock::time_point end = line_free_ + length;
  for (Clock::time_point at = line_free_; at < end; at += kPeriod) {
    Outgoing chunk{std::vector<std::uint8_t>(per_chunk), 0, at, true};
    for (auto& b : chunk.bytes) b = static_cast<std::uint8_t>(babble_random_());
    tx_.push_back(std::move(chunk));
  }
  line_free_ = std::max(line_free_, end);
}

// Called with mutex_ held.
void PtyRelay::Transmit(Clock::time_point now, std::vector<std::vector<std::uint8_t>>& traced) {
  while (!tx_.empty()) {
    Outgoing& out = tx_.front();
    if (now < ByteDue(out, out.sent)) return;
    std::size_t due = out.bytes.size();
    if (byte_time_ > Clock::duration::zero()) {
      const auto elapsed = static_cast<std::size_t>((now - out.start) / byte_time_);
      due = std::min(due, elapsed);
    }
    bool dropped = false;
    for (int attempt = 0; out.sent < due; ++attempt) {
      const ssize_t n = ::write(master_fd_, out.bytes.data() + out.sent, due - out.sent);
      if (n > 0) {
        out.sent += static_cast<std::size_t>(n);
        counters_.bytes_sent += static_cast<std::uint64_t>(n);
        if (out.babble) counters_.babble_bytes += static_cast<std::uint64_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (attempt == 0 && n < 0 && errno == EAGAIN) {
        // The port's input queue is full: nobody reads it. Drop what is
        // stale there and try once more.
        ::tcflush(slave_fd_, TCIFLUSH);
        continue;
      }
      dropped = true;
      break;
    }
    if (dropped) {
      if (!out.babble) ++counters_.replies_dropped;
      tx_.pop_front();
      continue;
    }
    if (out.sent < out.bytes.size()) return;  // rest is not due yet
    if (out.babble) {
      tx_.pop_front();
      continue;
    }
    ++counters_.replies_sent;
    if (options_.trace) traced.push_back(std::move(out.bytes));
    tx_.pop_front();
  }
}

std::shared_ptr<LiveValues> AttachLiveValues(PtyRelay& relay, std::optional<LiveConfig> config) {
  return relay.WithModel([&config](RelayModel& model) {
    auto live = std::make_shared<LiveValues>(config.value_or(LiveConfigFor(model.Config())));
    AttachLiveValues(model, live);
    return live;
  });
}

}  // namespace nx480::sim
