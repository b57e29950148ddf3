// Judging a reply: what the bytes that one read brought say about the request they answer.
// Plain functions over byte runs, tested against fixed frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "link_error.h"

namespace nx480 {

struct ReplyVerdict {
  LinkError error = LinkError::None;
  uint8_t exceptionCode = 0;  // of an exception reply
};

// The reply to `request` (its first bytes: address, function, ...) that was read with an
// expected length of `expected` bytes. Good when all `expected` bytes came, the CRC over them is
// 0, the slave address and the function code are the request's and, for the read functions
// 0x01, 0x03 and 0x04, the byte count is expected - 5. A 5-byte frame with a good CRC, the
// request's address and its function code with the high bit set is an exception reply.
ReplyVerdict JudgeReply(std::span<const uint8_t> request, std::span<const uint8_t> reply,
                        size_t expected);

// The identification reply (function 0x11), whose length varies: at least 29 bytes, a good CRC,
// the request's address and function code.
ReplyVerdict JudgeIdentification(std::span<const uint8_t> request, std::span<const uint8_t> reply);
inline constexpr size_t kShortestIdentification = 29;

// How long a reply is, as its first `count` bytes tell it (a FrameLength for the line's read,
// which then ends as soon as the reply is whole); 0 when they do not tell it (yet).
// Any reply: an exception reply (function code with its high bit set) is 5 bytes; other
// replies are left to the length their request fixes.
size_t ExceptionReplyLength(const uint8_t* head, size_t count);
// The identification reply: byte count + 5 when that is long enough to be accepted (a shorter
// claim is not trusted to end the read), 5 for an exception reply.
size_t IdentificationReplyLength(const uint8_t* head, size_t count);

// Write-multiple acknowledgement: its first 6 bytes (address, function, first register,
// quantity) are those of the request.
bool EchoMatches(std::span<const uint8_t> request, std::span<const uint8_t> reply);

}  // namespace nx480
