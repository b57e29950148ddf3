#include "settings_transactions.h"

#include <chrono>

#include "modbus.h"

namespace nx480 {

namespace {

constexpr size_t kLowWords = 8;                    // registers 0-7
constexpr size_t kHighWords = kSettingsWords - 8;  // registers 8-23
constexpr size_t kReplyData = 3;                   // address, function, byte count
constexpr auto kHighWriteWait = std::chrono::milliseconds(250);

void Report(TModbus& link, ParameterWindow& window, Outcome outcome) {
  link.Synchronize([&] { window.ShowResult(outcome); });
}

void Fail(TModbus& link, ParameterWindow& window) {
  Report(link, window, {Outcome::CommunicationError, link.LastError()});
  link.DrainInput();
}

// Sends one write of the parameter block and checks its acknowledgement with the echo.
bool WriteBlock(TModbus& link, const FrameTemplate& tmpl, const uint16_t* words, size_t count,
                std::chrono::milliseconds wait) {
  RequestPatch patch;
  patch.words = words;
  patch.wordCount = count;
  link.SendRequest(link.BuildRequest(tmpl, patch));
  if (wait.count() > 0 && !link.Sleep(wait)) return false;
  return link.CheckReply(kMainReply, tmpl.replyLength) && link.CheckEcho();
}

}  // namespace

void ReadParameters(TModbus& link, ParameterWindow& window) {
  SettingsWords words{};

  link.SendRequest(link.BuildRequest(templates::kParamsReadLow));
  if (!link.CheckReply(kMainReply, templates::kParamsReadLow.replyLength)) {
    Fail(link, window);
    return;
  }
  CopySwapped(words.data(), link.ReplyBuffer.data() + kReplyData, kLowWords);

  link.SendRequest(link.BuildRequest(templates::kParamsReadHigh));
  if (!link.CheckReply(kMainReply, templates::kParamsReadHigh.replyLength)) {
    // The first half has arrived and replaces words 0-7; words 8-23 stay as they were.
    link.Synchronize([&] { window.StoreParameterWords(0, words.data(), kLowWords); });
    Fail(link, window);
    return;
  }
  CopySwapped(words.data() + kLowWords, link.ReplyBuffer.data() + kReplyData, kHighWords);

  link.Synchronize([&] {
    window.StoreParameterWords(0, words.data(), kSettingsWords);
    window.SettingsToBoxes();
  });
  Report(link, window, Outcome::Ok);
}

void WriteParameters(TModbus& link, ParameterWindow& window) {
  const SettingsWords& record = window.WriteHandOver();
  if (!WriteBlock(link, templates::kParamsWriteLow, record.data(), kLowWords,
                  std::chrono::milliseconds(0)) ||
      !WriteBlock(link, templates::kParamsWriteHigh, record.data() + kLowWords, kHighWords,
                  kHighWriteWait)) {
    Fail(link, window);
    return;
  }
  Report(link, window, Outcome::Ok);
}

}  // namespace nx480
