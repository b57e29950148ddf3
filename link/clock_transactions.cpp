#include "clock_transactions.h"

#include <array>
#include <cstring>

#include "modbus.h"
#include "relay_time.h"

namespace nx480 {

namespace {

constexpr size_t kReplyData = 3;          // address, function, byte count
constexpr size_t kRelayModeByte = 7;      // the data byte of the relay-mode request
constexpr size_t kClockRegisters = 4;     // 0x40-0x43
constexpr int32_t kLastRelayCommand = 3;  // forced off

void Report(TModbus& link, ClockWindow& window, Outcome outcome) {
  link.Synchronize([&] { window.ShowResult(outcome); });
}

void Fail(TModbus& link, ClockWindow& window) {
  Report(link, window, {Outcome::CommunicationError, link.LastError()});
  link.DrainInput();
}

}  // namespace

void ReadClock(TModbus& link, ClockWindow& window) {
  link.SendRequest(link.BuildRequest(templates::kClockRead));
  // The PC's time that belongs to the relay's: the moment the request went out.
  const double pcTime = window.PcNow();
  if (!link.CheckReply(kMainReply, templates::kClockRead.replyLength)) {
    Fail(link, window);
    return;
  }
  std::array<uint8_t, 8> data{};
  std::memcpy(data.data(), link.ReplyBuffer.data() + kReplyData, data.size());
  const double deviceTime = DecodeRelayClock(data);
  link.Synchronize([&] { window.ShowClock(deviceTime, pcTime); });
  Report(link, window, Outcome::Ok);
}

void WriteClock(TModbus& link, ClockWindow& window) {
  // The 20 ms are added before the date is split, so 23:59:59.990 sets the next day.
  const double time = window.PcNow() + kTwentyMilliseconds;
  const std::array<uint8_t, 8> data = EncodeRelayClock(time);
  std::array<uint16_t, kClockRegisters> words{};
  for (size_t i = 0; i < words.size(); ++i)
    words[i] = static_cast<uint16_t>(data[2 * i] << 8 | data[2 * i + 1]);
  RequestPatch patch;
  patch.words = words.data();
  patch.wordCount = words.size();
  link.SendRequest(link.BuildRequest(templates::kClockWrite, patch));
  if (!link.CheckReply(kMainReply, templates::kClockWrite.replyLength) || !link.CheckEcho()) {
    Fail(link, window);
    return;
  }
  link.Synchronize([&] { window.ShowClock(time, time); });
  Report(link, window, Outcome::Ok);
}

Outcome WriteRelay(TModbus& link, Request& relayCommand) {
  Outcome outcome = Outcome::Ok;
  int32_t command = relayCommand.Value();
  if (command >= 1 && command <= kLastRelayCommand) {
    RequestPatch patch;
    patch.byteOffset = kRelayModeByte;
    patch.byteValue = static_cast<uint8_t>(command - 1);
    link.SendRequest(link.BuildRequest(templates::kRelayMode, patch));
    // The acknowledgement is taken off the line, and not drained after: a lost forced state is
    // sent again by the window's timer.
    if (!link.CheckReply(kMainReply, templates::kRelayMode.replyLength))
      outcome = {Outcome::CommunicationError, link.LastError()};
  }
  // Only the command sent: one chosen meanwhile goes out next.
  relayCommand.Flag().compare_exchange_strong(command, 0, std::memory_order_acq_rel);
  return outcome;
}

}  // namespace nx480
