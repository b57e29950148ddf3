// The reply checks, the lengths replies tell, and the identification: whatever a line brings, a
// verdict of "good" means the frame really is the whole answer to its request, and nothing is read
// outside the reply.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "frames.h"
#include "identity.h"
#include "reply_check.h"

namespace {

using namespace nx480;

// Requests of every kind the tool sends: reads, writes, the identification.
const FrameTemplate* const kRequests[] = {
    &templates::kLiveRegisters16, &templates::kCoils24,        &templates::kCoils16,
    &templates::kParamsReadLow,   &templates::kParamsWriteLow, &templates::kClockRead,
    &templates::kCalibrationRead, &templates::kClearHistory,   &templates::kRelayMode,
    &templates::kHistoryPointer,  &templates::kUploadStart,    &templates::kUploadStatus,
};

void Require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

// Input: one byte choosing the request, then the bytes the read brought.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const FrameTemplate& tmpl = *kRequests[data[0] % std::size(kRequests)];
  std::vector<uint8_t> request(tmpl.bytes.begin(), tmpl.bytes.begin() + tmpl.length);
  // The reply in a buffer of its own size, so that a read past it is caught.
  const std::vector<uint8_t> reply(data + 1, data + size);
  const std::span<const uint8_t> bytes(reply);

  const ReplyVerdict verdict = JudgeReply(request, bytes, tmpl.replyLength);
  if (verdict.error == LinkError::None) {
    Require(reply.size() == tmpl.replyLength);
    Require(ModbusCrc(reply.data(), reply.size()) == 0);
    Require(reply[0] == request[0] && reply[1] == request[1]);
    if (request[1] <= 0x04) Require(reply[2] == tmpl.replyLength - 5);
    if (tmpl.replyLength == 21) (void)SerialNumberFromReply(reply.data());
    if (request[1] == 0x10 || request[1] == 0x0F) (void)EchoMatches(request, bytes);
  } else if (verdict.error == LinkError::Exception) {
    Require(reply.size() >= 3 && reply[1] == (request[1] | 0x80));
  }

  const std::vector<uint8_t> ident(
      templates::kIdentification.bytes.begin(),
      templates::kIdentification.bytes.begin() + templates::kIdentification.length);
  std::string text = "unchanged";
  const bool good = JudgeIdentification(ident, bytes).error == LinkError::None;
  const bool parsed = ParseIdentification(reply.data(), reply.size(), text);
  if (good) {
    Require(parsed);
    // Name (at most 16) + three spaces + version (what lies between byte 16 and the CRC).
    Require(text.size() >= 3 && text.size() <= 16 + 3 + (reply.size() - 5 - 16));
    (void)FirmwareMinorOf(text);
  }
  if (!parsed) Require(text == "unchanged");
  // The lengths that end a read early: told by the first bytes, never changed by later ones,
  // and for the identification never shorter than an acceptable reply (or an exception's 5).
  size_t told = 0, toldIdent = 0;
  for (size_t count = 0; count <= reply.size(); ++count) {
    const size_t any = ExceptionReplyLength(reply.data(), count);
    const size_t ident = IdentificationReplyLength(reply.data(), count);
    Require(any == 0 || any == 5);
    Require(ident == 0 || ident == 5 || (ident >= kShortestIdentification && ident <= 260));
    if (told != 0) Require(any == told);
    if (toldIdent != 0) Require(ident == toldIdent);
    told = any;
    toldIdent = ident;
  }
  // Any text at all, as a relay might name itself.
  (void)FirmwareMinorOf(std::string(reinterpret_cast<const char*>(data), size));
  return 0;
}
