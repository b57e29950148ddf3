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

// Reads registers 0x40-0x43 into `deviceTime`, with the PC's time of the moment the request
// went out in `pcTime`; false when the reply fails its check.
bool ReadBothClocks(TModbus& link, const ClockWindow& window, double& deviceTime, double& pcTime) {
  link.SendRequest(link.BuildRequest(templates::kClockRead));
  // The PC's time that belongs to the relay's: the moment the request went out.
  pcTime = window.PcNow();
  if (!link.CheckReply(kMainReply, templates::kClockRead.replyLength)) return false;
  std::array<uint8_t, 8> data{};
  std::memcpy(data.data(), link.ReplyBuffer.data() + kReplyData, data.size());
  deviceTime = DecodeRelayClock(data);
  return true;
}

}  // namespace

void ReadClock(TModbus& link, ClockWindow& window) {
  double deviceTime = 0;
  double pcTime = 0;
  if (!ReadBothClocks(link, window, deviceTime, pcTime)) {
    Fail(link, window);
    return;
  }
  link.Synchronize([&] { window.ShowClock(deviceTime, pcTime); });
  Report(link, window, Outcome::Ok);
}

void WriteClock(TModbus& link, ClockWindow& window) {
  // What the set replaces, read right now: the time shown may be stale.
  double relayBefore = 0;
  double pcBefore = 0;
  if (!ReadBothClocks(link, window, relayBefore, pcBefore)) {
    Fail(link, window);
    return;
  }
  bool goOn = false;
  link.Synchronize([&] { goOn = window.JournalBefore(relayBefore, pcBefore); });
  if (!goOn) return;
  // A stop that came during the journal step (Ctrl-C, the window closed): nothing goes out.
  if (link.ChangeStopped()) {
    link.Synchronize([&] {
      window.JournalAfter(kChangeHeldBack, std::nullopt);
      window.ShowResult(kChangeHeldBack);
    });
    return;
  }
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
    const Outcome failed = link.UnacknowledgedWrite();
    link.Synchronize([&] {
      window.JournalAfter(failed, std::nullopt);
      window.ShowResult(failed);
    });
    link.DrainInput();
    return;
  }
  // The relay took the time: what remains between the two clocks is only for the journal, and
  // a read of it that fails does not undo the set.
  double relayAfter = 0;
  double pcAfter = 0;
  const bool readAgain = ReadBothClocks(link, window, relayAfter, pcAfter);
  std::optional<double> remaining;
  if (readAgain) remaining = (relayAfter - pcAfter) * 86400.0;
  link.Synchronize([&] {
    window.ShowClock(time, time);
    window.JournalAfter(Outcome::Ok, remaining);
    window.ShowResult(Outcome::Ok);
  });
  if (!readAgain) link.DrainInput();
}

Outcome WriteRelay(TModbus& link, Request& relayCommand, int32_t* sent) {
  Outcome outcome = Outcome::Ok;
  int32_t command = relayCommand.Value();
  const bool valid = command >= 1 && command <= kLastRelayCommand;
  if (sent) *sent = valid ? command : 0;
  if (valid) {
    RequestPatch patch;
    patch.byteOffset = kRelayModeByte;
    patch.byteValue = static_cast<uint8_t>(command - 1);
    link.SendRequest(link.BuildRequest(templates::kRelayMode, patch));
    // The acknowledgement is taken off the line, and not drained after: a lost forced state is
    // sent again by the window's timer.
    if (!link.CheckReply(kMainReply, templates::kRelayMode.replyLength))
      outcome = link.UnacknowledgedWrite();
  }
  // Only the command sent: one chosen meanwhile goes out next.
  relayCommand.Flag().compare_exchange_strong(command, 0, std::memory_order_acq_rel);
  return outcome;
}

}  // namespace nx480
