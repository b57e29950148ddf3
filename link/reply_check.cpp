#include "reply_check.h"

#include <cstring>

#include "frames.h"

namespace nx480 {

namespace {

constexpr size_t kExceptionLength = 5;  // address, function | 0x80, code, CRC
constexpr size_t kCountedFrame = 5;     // address, function, byte count, (data), CRC

bool IsRead(uint8_t function) {
  return function == 0x01 || function == 0x03 || function == 0x04;
}

// A reply of any length that is not the one expected: an exception reply, or just wrong.
ReplyVerdict Unexpected(std::span<const uint8_t> request, std::span<const uint8_t> reply) {
  if (reply.empty()) return {LinkError::NoReply};
  if (reply.size() == kExceptionLength && request.size() >= 2 &&
      ModbusCrc(reply.data(), reply.size()) == 0 && reply[0] == request[0] &&
      reply[1] == (request[1] | 0x80)) {
    return {LinkError::Exception, reply[2]};
  }
  return {LinkError::WrongLength};
}

// A frame of the right length: CRC, then whose and what it is.
ReplyVerdict Whole(std::span<const uint8_t> request, std::span<const uint8_t> reply) {
  if (ModbusCrc(reply.data(), reply.size()) != 0) return {LinkError::BadCrc};
  if (request.size() < 2 || reply.size() < 3) return {LinkError::WrongLength};
  if (reply[0] != request[0]) return {LinkError::WrongSlave};
  if (reply[1] == (request[1] | 0x80)) return {LinkError::Exception, reply[2]};
  if (reply[1] != request[1]) return {LinkError::WrongFunction};
  return {};
}

}  // namespace

ReplyVerdict JudgeReply(std::span<const uint8_t> request, std::span<const uint8_t> reply,
                        size_t expected) {
  if (reply.size() != expected) return Unexpected(request, reply);
  ReplyVerdict verdict = Whole(request, reply);
  if (verdict.error != LinkError::None) return verdict;
  if (IsRead(request[1]) && reply[2] != expected - kExceptionLength)
    return {LinkError::WrongByteCount};
  return {};
}

ReplyVerdict JudgeIdentification(std::span<const uint8_t> request, std::span<const uint8_t> reply) {
  if (reply.size() < kShortestIdentification) return Unexpected(request, reply);
  return Whole(request, reply);
}

size_t ExceptionReplyLength(const uint8_t* head, size_t count) {
  return count >= 2 && (head[1] & 0x80) != 0 ? kExceptionLength : 0;
}

size_t IdentificationReplyLength(const uint8_t* head, size_t count) {
  if (const size_t exception = ExceptionReplyLength(head, count)) return exception;
  constexpr uint8_t kReportSlaveId = 0x11;
  if (count < 3 || head[1] != kReportSlaveId) return 0;
  const size_t whole = size_t{head[2]} + kCountedFrame;
  return whole >= kShortestIdentification ? whole : 0;
}

bool EchoMatches(std::span<const uint8_t> request, std::span<const uint8_t> reply) {
  return request.size() >= 6 && reply.size() >= 6 &&
         std::memcmp(request.data(), reply.data(), 6) == 0;
}

}  // namespace nx480
