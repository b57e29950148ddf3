// The ground the transaction tests stand on: a simulated relay in memory, in virtual time
// (sim/virtual_line.h), the link opened on it (paused, so the test thread owns the port), the
// relay's registers read back, and a request served by the worker as the tool serves it.
//
// Every wait of a transaction is the line's, so a transaction's outcome depends on the relay,
// its faults and the time-out model alone: the same on a busy machine as on a quiet one. Times
// a test asserts are the line's (Now()), never the wall clock's.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <utility>

#include "link_support.h"
#include "modbus.h"
#include "virtual_line.h"

// `Base` is ::testing::Test, or ::testing::TestWithParam<> for a table of cases.
template <class Base = ::testing::Test>
class RelayLinkTest : public Base {
 protected:
  using LineClock = std::chrono::steady_clock;
  static constexpr const char* kPort = "relay";

  RelayLinkTest()
      : ports_(std::make_shared<nx480::sim::VirtualPorts>()),
        link_(MakeLine(ports_, line_)) {}

  // Starts a relay of `config` and opens the link on it; a relay started before is gone.
  void Connect(nx480::sim::RelayConfig config = {}, const nx480::LineSettings& line = TestLine(),
               nx480::sim::VirtualOptions options = {}) {
    link_.ClosePort();
    relay_ = ports_->Add(kPort, std::move(config), std::move(options));
    ASSERT_TRUE(link_.OpenPort(kPort, line, 50));
  }
  // Closes the port and removes the relay, and with it whatever the test gave its trace.
  void Disconnect() {
    link_.ClosePort();
    ports_->Remove(kPort);
    relay_.reset();
  }
  void TearDown() override { Disconnect(); }

  // The line's clock, and the time since a moment of it.
  LineClock::time_point Now() const { return line_->Now(); }
  long long MsSince(LineClock::time_point t0) const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Now() - t0).count();
  }

  // The relay's holding registers from `first` on; 0xDEAD where it defines none.
  template <size_t N>
  std::array<uint16_t, N> HoldingRegisters(uint16_t first) const {
    std::array<uint16_t, N> words{};
    for (size_t i = 0; i < N; ++i)
      words[i] = relay_->GetRegister(nx480::sim::Table::kHolding, static_cast<uint16_t>(first + i))
                     .value_or(0xDEAD);
    return words;
  }
  // Lets `duration` of line time pass with nobody reading, and the relay take whatever reached
  // it meanwhile (a frame on its way, a late reply that lands in the port's buffer).
  void Settle(std::chrono::microseconds duration) {
    line_->Idle(duration);
    (void)relay_->Counters();
  }
  // Requests the relay has taken so far.
  uint64_t Requests() const { return relay_->Counters().model.requests; }

  // Posts `value` on `request` (bound to the link), lets the worker serve it, and pauses the
  // worker again once the request is cleared; fails when that takes longer than `limit` of the
  // wall clock (a limit for a hung worker only: the transaction's time is the line's).
  void Serve(nx480::Request& request, int32_t value,
             std::chrono::seconds limit = std::chrono::seconds(60)) {
    ASSERT_TRUE(request.Post(value)) << "a request still pending";
    link_.Resume();
    const auto end = LineClock::now() + limit;
    for (int spins = 0; request.Pending() && LineClock::now() < end; ++spins) {
      if (spins < 2000) {
        std::this_thread::yield();
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    }
    ASSERT_FALSE(request.Pending()) << "the request was not served in " << limit.count() << " s";
    ASSERT_TRUE(link_.Suspend());
  }

  std::shared_ptr<nx480::sim::VirtualPorts> ports_;
  nx480::sim::VirtualLine* line_ = nullptr;  // owned by link_
  std::shared_ptr<nx480::sim::VirtualRelay> relay_;
  nx480::TModbus link_;

 private:
  static std::unique_ptr<nx480::SerialLine> MakeLine(
      const std::shared_ptr<nx480::sim::VirtualPorts>& ports, nx480::sim::VirtualLine*& line) {
    auto made = std::make_unique<nx480::sim::VirtualLine>(ports);
    line = made.get();
    return made;
  }
};
