#include "demo_relay.h"

#include <condition_variable>
#include <mutex>
#include <sstream>
#include <thread>
#include <utility>

#include "command_interpreter.h"
#include "relay_live.h"
#include "virtual_line.h"

namespace nx480::sim {

namespace {

using std::chrono::milliseconds;

// The relay on its ports, and the thread that makes its sags.
class DemoRelay {
 public:
  explicit DemoRelay(DemoOptions options)
      : options_(std::move(options)),
        ports_(std::make_shared<VirtualPorts>(Pacing::kRealTime)),
        relay_(ports_->Add(kDemoPort, options_.relay)),
        live_(AttachLiveValues(*relay_)),
        sags_([this] { MakeSags(); }) {}

  ~DemoRelay() {
    {
      std::lock_guard lock(mutex_);
      ending_ = true;
    }
    woken_.notify_all();
    sags_.join();
  }

  DemoRelay(const DemoRelay&) = delete;
  DemoRelay& operator=(const DemoRelay&) = delete;

  const std::shared_ptr<VirtualPorts>& Ports() const { return ports_; }

 private:
  // False once the relay is ending.
  bool Wait(milliseconds duration) {
    std::unique_lock lock(mutex_);
    return !woken_.wait_for(lock, duration, [this] { return ending_; });
  }

  void MakeSags() {
    for (milliseconds next = options_.firstSag; Wait(next); next = options_.sagEvery) {
      for (const DemoStep& step : options_.sag) {
        if (!Wait(step.after)) return;
        std::ostringstream answer;  // "ok": the steps are checked by the tests
        RunLiveCommand(live_.get(), CommandWords(step.command), answer);
      }
    }
  }

  const DemoOptions options_;
  const std::shared_ptr<VirtualPorts> ports_;
  const std::shared_ptr<VirtualRelay> relay_;
  const std::shared_ptr<LiveValues> live_;
  std::mutex mutex_;
  std::condition_variable woken_;
  bool ending_ = false;  // mutex_
  std::thread sags_;     // last: it uses everything above
};

// The tool's line onto the demo relay; the relay lives as long as the line.
class DemoLine final : public SerialLine {
 public:
  explicit DemoLine(DemoOptions options)
      : relay_(std::make_unique<DemoRelay>(std::move(options))), line_(relay_->Ports()) {}

  bool Open(const std::string& path, const LineSettings& settings) override {
    return line_.Open(path, settings);
  }
  void Close() override { line_.Close(); }
  bool IsOpen() const override { return line_.IsOpen(); }
  OpenError LastOpenError() const override { return line_.LastOpenError(); }
  int LastOpenErrno() const override { return line_.LastOpenErrno(); }
  const PortTimeouts& Timeouts() const override { return line_.Timeouts(); }
  size_t Write(const uint8_t* data, size_t length, const StopFlag* stop) override {
    return line_.Write(data, length, stop);
  }
  size_t Read(uint8_t* data, size_t expected, const StopFlag* stop,
              FrameLength frameLength) override {
    return line_.Read(data, expected, stop, frameLength);
  }
  bool Sleep(std::chrono::microseconds duration, const StopFlag* stop) override {
    return line_.Sleep(duration, stop);
  }
  void Wake() override { line_.Wake(); }
  std::chrono::steady_clock::time_point Now() const override { return line_.Now(); }
  void Idle(std::chrono::microseconds duration) override { line_.Idle(duration); }
  bool DeviceGone() const override { return line_.DeviceGone(); }

 private:
  std::unique_ptr<DemoRelay> relay_;
  VirtualLine line_;  // closed before the relay goes
};

}  // namespace

std::vector<DemoStep> DemoSag() {
  return {
      {milliseconds(0), "voltage all 185"},  {milliseconds(0), "pickup Uu1"},
      {milliseconds(2000), "trip Uu1 20 2"}, {milliseconds(3000), "release Uu1"},
      {milliseconds(0), "voltage all 230"},
  };
}

std::unique_ptr<SerialLine> MakeDemoLine(DemoOptions options) {
  return std::make_unique<DemoLine>(std::move(options));
}

}  // namespace nx480::sim
