#include "virtual_line.h"

#include <algorithm>
#include <cerrno>
#include <thread>
#include <utility>

namespace nx480::sim {

// ---------------------------------------------------------------------------------------------
// VirtualClock

VirtualClock::VirtualClock(Pacing pacing) : pacing_(pacing), start_(Clock::now()) {}

VirtualClock::Clock::time_point VirtualClock::Now() const {
  if (pacing_ == Pacing::kRealTime) return Clock::now();
  return start_ + Clock::duration(elapsed_.load(std::memory_order_acquire));
}

void VirtualClock::AdvanceTo(Clock::time_point at) {
  if (pacing_ == Pacing::kRealTime) return;
  const Clock::rep target = (at - start_).count();
  Clock::rep seen = elapsed_.load(std::memory_order_acquire);
  while (seen < target &&
         !elapsed_.compare_exchange_weak(seen, target, std::memory_order_acq_rel)) {
  }
}

// ---------------------------------------------------------------------------------------------
// VirtualRelay

VirtualRelay::VirtualRelay(std::shared_ptr<VirtualClock> clock, RelayConfig config,
                           VirtualOptions options)
    : clock_(std::move(clock)),
      options_(std::move(options)),
      byte_time_(options_.baud == 0
                     ? Clock::duration::zero()
                     : std::chrono::duration_cast<Clock::duration>(
                           std::chrono::nanoseconds(10'000'000'000LL / options_.baud))),
      model_(std::move(config), [c = clock_] { return c->Now(); }),
      framer_(options_.frame_gap) {}

void VirtualRelay::AddFault(const FaultRule& rule) {
  std::lock_guard lock(mutex_);
  CatchUp(clock_->Now());
  model_.Faults().Add(rule);
}

void VirtualRelay::ClearFaults() {
  std::lock_guard lock(mutex_);
  CatchUp(clock_->Now());
  model_.Faults().Clear();
}

bool VirtualRelay::SetRegister(Table table, std::uint16_t address, std::uint16_t value) {
  std::lock_guard lock(mutex_);
  CatchUp(clock_->Now());
  if (table == Table::kCoils) value = value != 0 ? 1 : 0;
  return model_.Bank().Of(table).Set(address, value);
}

std::optional<std::uint16_t> VirtualRelay::GetRegister(Table table, std::uint16_t address) const {
  std::lock_guard lock(mutex_);
  CatchUp(clock_->Now());
  const RegisterTable& t = std::as_const(model_).Bank().Of(table);
  if (!t.IsDefined(address)) return std::nullopt;
  return t.Get(address);
}

RelayCounters VirtualRelay::Counters() const {
  std::lock_guard lock(mutex_);
  CatchUp(clock_->Now());
  RelayCounters c = counters_;
  c.model = model_.Counters();
  c.framer = framer_.GetStats();
  return c;
}

void VirtualRelay::Emit(std::span<const std::uint8_t> bytes, Clock::time_point start) {
  std::lock_guard lock(mutex_);
  const Clock::time_point at = std::max(start, line_free_);
  Put(at, bytes);
  line_free_ = at + byte_time_ * static_cast<Clock::rep>(bytes.size());
}

void VirtualRelay::Unplug(Clock::time_point at) {
  std::lock_guard lock(mutex_);
  if (!gone_at_ || at < *gone_at_) gone_at_ = at;
}

std::optional<VirtualRelay::Clock::time_point> VirtualRelay::GoneAt() const {
  std::lock_guard lock(mutex_);
  return gone_at_;
}

bool VirtualRelay::Attach() {
  std::lock_guard lock(mutex_);
  if (attached_) return false;
  attached_ = true;
  return true;
}

void VirtualRelay::Detach() {
  std::lock_guard lock(mutex_);
  attached_ = false;
}

void VirtualRelay::Send(std::span<const std::uint8_t> bytes, Clock::time_point now) {
  std::lock_guard lock(mutex_);
  Clock::time_point at = std::max(now, relay_free_);
  for (const std::uint8_t byte : bytes) {
    at += byte_time_;
    to_relay_.push_back({at, byte});
  }
  relay_free_ = at;
  counters_.bytes_received += bytes.size();
}

std::optional<VirtualRelay::Arrival> VirtualRelay::Peek(Clock::time_point limit) {
  std::lock_guard lock(mutex_);
  Run(limit, true);
  if (!to_line_.empty() && to_line_.front().at <= limit) return to_line_.front();
  return std::nullopt;
}

void VirtualRelay::Pop() {
  std::lock_guard lock(mutex_);
  if (!to_line_.empty()) to_line_.pop_front();
}

void VirtualRelay::Flush(Clock::time_point now) {
  std::lock_guard lock(mutex_);
  Run(now, false);
  while (!to_line_.empty() && to_line_.front().at <= now) to_line_.pop_front();
}

void VirtualRelay::CatchUp(Clock::time_point now) const {
  // Looking from outside changes nothing the line could tell: the relay's side only runs ahead
  // to a moment that has passed.
  auto* self = const_cast<VirtualRelay*>(this);
  self->Run(now, false);
  self->model_.Refresh(std::max(now, model_.Time()));
}

void VirtualRelay::Run(Clock::time_point until, bool stopAtReply) {
  for (;;) {
    std::optional<Clock::time_point> next = framer_.Deadline();
    const bool byteFirst = !to_relay_.empty() && (!next || to_relay_.front().at <= *next);
    if (byteFirst) next = to_relay_.front().at;
    if (!next || *next > until) return;
    // A reply byte due no later than the relay's next step is for the line to take first.
    if (stopAtReply && !to_line_.empty() && to_line_.front().at <= *next) return;
    const Clock::time_point at = *next;
    if (byteFirst) {
      const std::uint8_t byte = to_relay_.front().byte;
      to_relay_.pop_front();
      Schedule(framer_.Push(std::span<const std::uint8_t>(&byte, 1), at), at);
    } else {
      Schedule(framer_.Expire(at), at);
    }
  }
}

void VirtualRelay::Put(Clock::time_point start, std::span<const std::uint8_t> bytes) {
  Clock::time_point at = start;
  for (const std::uint8_t byte : bytes) {
    at += byte_time_;
    if (!to_line_.empty()) at = std::max(at, to_line_.back().at);
    to_line_.push_back({at, byte});
  }
  counters_.bytes_sent += bytes.size();
}

void VirtualRelay::Schedule(const std::vector<RtuFramer::Frame>& frames, Clock::time_point now) {
  for (const auto& frame : frames) {
    if (options_.trace) options_.trace(true, frame, now);
    std::optional<Reply> reply = model_.Handle(frame, now);
    if (!reply || reply->bytes.empty()) continue;
    const Clock::time_point start =
        std::max(now + options_.answer_delay + reply->delay, line_free_);
    Put(start, reply->bytes);
    line_free_ = start + byte_time_ * static_cast<Clock::rep>(reply->bytes.size());
    ++counters_.replies_sent;
    if (options_.trace) options_.trace(false, reply->bytes, start);
    if (reply->babble > std::chrono::milliseconds(0)) ScheduleBabble(reply->babble);
  }
}

// Random bytes right behind the last reply, a chunk every 2 ms (as on the pty).
void VirtualRelay::ScheduleBabble(std::chrono::milliseconds length) {
  constexpr auto kPeriod = std::chrono::milliseconds(2);
  const std::size_t per_chunk =
      options_.baud == 0 ? 23 : std::max<std::size_t>(1, options_.baud / 5000);
  const Clock::time_point end = line_free_ + length;
  std::vector<std::uint8_t> chunk(per_chunk);
  for (Clock::time_point at = line_free_; at < end; at += kPeriod) {
    for (auto& b : chunk) b = static_cast<std::uint8_t>(babble_random_());
    Put(at, chunk);
    counters_.babble_bytes += chunk.size();
  }
  line_free_ = std::max(line_free_, end);
}

std::shared_ptr<LiveValues> AttachLiveValues(VirtualRelay& relay,
                                             std::optional<LiveConfig> config) {
  const auto start = relay.Time().Now();
  return relay.WithModel([&](RelayModel& model) {
    auto live = std::make_shared<LiveValues>(config.value_or(LiveConfigFor(model.Config())), start);
    AttachLiveValues(model, live);
    return live;
  });
}

// ---------------------------------------------------------------------------------------------
// VirtualPorts

VirtualPorts::VirtualPorts(Pacing pacing) : clock_(std::make_shared<VirtualClock>(pacing)) {}

std::shared_ptr<VirtualRelay> VirtualPorts::Add(const std::string& name, RelayConfig config,
                                                VirtualOptions options) {
  auto relay = std::make_shared<VirtualRelay>(clock_, std::move(config), std::move(options));
  std::lock_guard lock(mutex_);
  relays_[name] = relay;
  return relay;
}

void VirtualPorts::Remove(const std::string& name) {
  std::lock_guard lock(mutex_);
  relays_.erase(name);
}

std::shared_ptr<VirtualRelay> VirtualPorts::Find(const std::string& name) const {
  std::lock_guard lock(mutex_);
  const auto it = relays_.find(name);
  return it == relays_.end() ? nullptr : it->second;
}

// ---------------------------------------------------------------------------------------------
// VirtualLine

VirtualLine::VirtualLine(std::shared_ptr<VirtualPorts> ports)
    : ports_(std::move(ports)), clock_(ports_->Clock()) {}

VirtualLine::~VirtualLine() {
  Close();
}

bool VirtualLine::Open(const std::string& path, const LineSettings& settings) {
  std::lock_guard lock(ioMutex_);
  CloseLocked();
  lastError_ = OpenError::None;
  lastErrno_ = 0;
  std::shared_ptr<VirtualRelay> relay = ports_->Find(path);
  if (!relay) {
    lastError_ = OpenError::NotFound;
    lastErrno_ = ENOENT;
    return false;
  }
  if (!relay->Attach()) {
    lastError_ = OpenError::Busy;
    lastErrno_ = EBUSY;
    return false;
  }
  relay->Flush(clock_->Now());
  relay_ = std::move(relay);
  timeouts_ = settings.timeouts;
  gone_.store(false, std::memory_order_release);
  {
    std::lock_guard wait(waitMutex_);
    wakes_ = 0;
  }
  open_.store(true, std::memory_order_release);
  return true;
}

void VirtualLine::Close() {
  // As the port: marked closed at once, a waiting call woken, then the close once it let go.
  open_.store(false, std::memory_order_release);
  Wake();
  std::lock_guard lock(ioMutex_);
  CloseLocked();
}

void VirtualLine::CloseLocked() {
  open_.store(false, std::memory_order_release);
  if (!relay_) return;
  // What was written is on the wire already and still reaches the relay.
  relay_->Detach();
  relay_.reset();
}

bool VirtualLine::Stopped(const StopFlag* stop) const {
  return (stop != nullptr && stop->load(std::memory_order_acquire)) ||
         !open_.load(std::memory_order_acquire);
}

bool VirtualLine::WaitUntil(Clock::time_point at, const StopFlag* stop) {
  if (clock_->GetPacing() == Pacing::kVirtual) {
    if (Stopped(stop)) return false;
    clock_->AdvanceTo(at);
    return true;
  }
  std::unique_lock lock(waitMutex_);
  for (;;) {
    if (Stopped(stop)) return false;
    if (Clock::now() >= at) return true;
    const uint64_t seen = wakes_;
    woken_.wait_until(lock, at, [&] { return wakes_ != seen; });
  }
}

void VirtualLine::Wake() {
  {
    std::lock_guard lock(waitMutex_);
    ++wakes_;
  }
  woken_.notify_all();
}

void VirtualLine::Idle(std::chrono::microseconds duration) {
  if (clock_->GetPacing() == Pacing::kRealTime) {
    std::this_thread::sleep_for(duration);
  } else {
    clock_->AdvanceTo(clock_->Now() + duration);
  }
}

void VirtualLine::At(Clock::time_point at, std::function<void()> action) {
  std::lock_guard lock(actionsMutex_);
  actions_.emplace(at, std::move(action));
}

void VirtualLine::CancelActions() {
  std::lock_guard lock(actionsMutex_);
  actions_.clear();
}

std::optional<VirtualLine::Clock::time_point> VirtualLine::NextAction() const {
  std::lock_guard lock(actionsMutex_);
  if (actions_.empty()) return std::nullopt;
  return actions_.begin()->first;
}

void VirtualLine::RunActions() {
  for (;;) {
    std::function<void()> action;
    {
      std::lock_guard lock(actionsMutex_);
      if (actions_.empty() || actions_.begin()->first > clock_->Now()) return;
      action = std::move(actions_.begin()->second);
      actions_.erase(actions_.begin());
    }
    action();
  }
}

size_t VirtualLine::Write(const uint8_t* data, size_t length, const StopFlag*) {
  std::lock_guard lock(ioMutex_);
  if (!open_.load(std::memory_order_acquire) || !relay_ || length == 0) return 0;
  // As on the port, a write goes out at once even with the stop flag set (a Cancel after a
  // pause); only a device that is gone takes nothing.
  if (const auto gone = relay_->GoneAt(); gone && *gone <= clock_->Now()) {
    gone_.store(true, std::memory_order_release);
    return 0;
  }
  relay_->Send({data, length}, clock_->Now());
  return length;
}

size_t VirtualLine::Read(uint8_t* data, size_t expected, const StopFlag* stop,
                         FrameLength frameLength) {
  std::lock_guard lock(ioMutex_);
  if (!open_.load(std::memory_order_acquire) || !relay_ || expected == 0) return 0;
  const std::shared_ptr<VirtualRelay> relay = relay_;  // an action may close the line
  ReadCourse course(timeouts_, expected, frameLength, clock_->Now());
  RunActions();
  while (course.Missing() > 0) {
    if (Stopped(stop)) break;
    const Clock::time_point limit = course.Limit();
    Clock::time_point bound = limit;
    const std::optional<Clock::time_point> action = NextAction();
    if (action && *action < bound) bound = std::max(*action, clock_->Now());
    const std::optional<Clock::time_point> gone = relay->GoneAt();
    if (gone && *gone < bound) bound = std::max(*gone, clock_->Now());

    if (const auto arrival = relay->Peek(bound)) {
      if (!WaitUntil(std::max(arrival->at, clock_->Now()), stop)) break;
      relay->Pop();
      data[course.Got()] = arrival->byte;
      course.Received(data, 1, clock_->Now());
      continue;
    }
    if (!WaitUntil(bound, stop)) break;
    if (action && *action <= bound) {
      RunActions();
      continue;
    }
    if (gone && *gone <= bound) {
      gone_.store(true, std::memory_order_release);
      break;
    }
    break;  // the time-out model's limit
  }
  return course.Got();
}

bool VirtualLine::Sleep(std::chrono::microseconds duration, const StopFlag* stop) {
  std::lock_guard lock(ioMutex_);
  const Clock::time_point end = clock_->Now() + duration;
  RunActions();
  for (;;) {
    if (Stopped(stop)) return false;
    const std::optional<Clock::time_point> action = NextAction();
    if (!action || *action > end) break;
    if (!WaitUntil(std::max(*action, clock_->Now()), stop)) return false;
    RunActions();
  }
  return WaitUntil(end, stop);
}

}  // namespace nx480::sim
