// The ground the transaction tests stand on: a simulated relay on a pty, the link opened on it
// (paused, so the test thread owns the port), the relay's registers read back, and a request
// served by the worker as the tool serves it.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <thread>
#include <utility>

#include "link_support.h"
#include "modbus.h"
#include "pty_relay.h"

// `Base` is ::testing::Test, or ::testing::TestWithParam<> for a table of cases.
template <class Base = ::testing::Test>
class RelayLinkTest : public Base {
 protected:
  // Starts a relay of `config` and opens the link on it; a relay started before is stopped.
  void Connect(nx480::sim::RelayConfig config = {}, const nx480::LineSettings& line = TestLine(),
               nx480::sim::PtyOptions options = {}) {
    link_.ClosePort();
    relay_ = std::make_unique<nx480::sim::PtyRelay>(std::move(config), std::move(options));
    relay_->Start();
    ASSERT_TRUE(link_.OpenPort(relay_->SlavePath(), line, 50));
  }
  // Closes the port and stops the relay, and with it whatever the test gave its trace.
  void Disconnect() {
    link_.ClosePort();
    relay_.reset();
  }
  void TearDown() override { Disconnect(); }

  // The relay's holding registers from `first` on; 0xDEAD where it defines none.
  template <size_t N>
  std::array<uint16_t, N> HoldingRegisters(uint16_t first) const {
    std::array<uint16_t, N> words{};
    for (size_t i = 0; i < N; ++i)
      words[i] = relay_->GetRegister(nx480::sim::Table::kHolding, static_cast<uint16_t>(first + i))
                     .value_or(0xDEAD);
    return words;
  }
  // Requests the relay has taken so far.
  uint64_t Requests() const { return relay_->Counters().model.requests; }

  // Posts `value` on `request` (bound to the link), lets the worker serve it, and pauses the
  // worker again once the request is cleared; fails when that takes longer than `limit`.
  void Serve(nx480::Request& request, int32_t value, std::chrono::seconds limit) {
    ASSERT_TRUE(request.Post(value)) << "a request still pending";
    link_.Resume();
    const auto end = std::chrono::steady_clock::now() + limit;
    while (request.Pending() && std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_FALSE(request.Pending()) << "the request was not served in " << limit.count() << " s";
    ASSERT_TRUE(link_.Suspend());
  }

  std::unique_ptr<nx480::sim::PtyRelay> relay_;
  nx480::TModbus link_;
};
