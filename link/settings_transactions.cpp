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

void Fail(TModbus& link, ParameterWindow& window, OutcomeKind kind = Outcome::CommunicationError) {
  Report(link, window, {kind, link.LastError()});
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

size_t ReadSettingsWords(TModbus& link, SettingsWords& words) {
  link.SendRequest(link.BuildRequest(templates::kParamsReadLow));
  if (!link.CheckReply(kMainReply, templates::kParamsReadLow.replyLength)) return 0;
  CopySwapped(words.data(), link.ReplyBuffer.data() + kReplyData, kLowWords);
  link.SendRequest(link.BuildRequest(templates::kParamsReadHigh));
  if (!link.CheckReply(kMainReply, templates::kParamsReadHigh.replyLength)) return kLowWords;
  CopySwapped(words.data() + kLowWords, link.ReplyBuffer.data() + kReplyData, kHighWords);
  return kSettingsWords;
}

void ReadParameters(TModbus& link, ParameterWindow& window) {
  SettingsWords words{};
  const size_t got = ReadSettingsWords(link, words);
  if (got < kSettingsWords) {
    // The first half may have arrived: it replaces words 0-7; words 8-23 stay as they were.
    if (got > 0) link.Synchronize([&] { window.StoreParameterWords(0, words.data(), got); });
    Fail(link, window);
    return;
  }
  link.Synchronize([&] {
    window.StoreParameterWords(0, words.data(), kSettingsWords);
    window.SettingsToBoxes();
  });
  Report(link, window, Outcome::Ok);
}

void WriteParameters(TModbus& link, ParameterWindow& window) {
  const SettingsWords written = window.WriteHandOver();
  // What the write replaces, read right now: an earlier read may be stale.
  SettingsWords before{};
  if (ReadSettingsWords(link, before) < kSettingsWords) {
    Fail(link, window);
    return;
  }
  bool goOn = false;
  link.Synchronize([&] { goOn = window.JournalBefore(before, written); });
  if (!goOn) return;
  auto end = [&](Outcome outcome, const SettingsWords& held) {
    link.Synchronize([&] {
      window.JournalAfter(outcome, held);
      window.ShowResult(outcome);
    });
  };
  // A stop that came during the journal step (Ctrl-C, the window closed): nothing goes out.
  if (link.ChangeStopped()) {
    end(kChangeHeldBack, before);
    return;
  }
  // Once the first block has gone out the relay may hold some of the write: only a block that
  // did not leave whole, or that the relay refused, is a write that changed nothing.
  if (!WriteBlock(link, templates::kParamsWriteLow, written.data(), kLowWords,
                  std::chrono::milliseconds(0))) {
    end(link.UnacknowledgedWrite(), before);
    link.DrainInput();
    return;
  }
  if (!WriteBlock(link, templates::kParamsWriteHigh, written.data() + kLowWords, kHighWords,
                  kHighWriteWait)) {
    end({Outcome::Unknown, link.LastError()}, before);
    link.DrainInput();
    return;
  }
  // The relay may refuse or clamp a value and still acknowledge the write: only what it reads
  // back tells.
  SettingsWords held{};
  if (ReadSettingsWords(link, held) < kSettingsWords) {
    end({Outcome::Unknown, link.LastError(), true}, before);
    link.DrainInput();
    return;
  }
  if (held == written) {
    end(Outcome::Ok, held);
    return;
  }
  link.Synchronize([&] {
    window.StoreParameterWords(0, held.data(), kSettingsWords);
    window.SettingsToBoxes();
    window.StoreDifferences(written, held);
  });
  end(Outcome::Differs, held);
}

}  // namespace nx480
