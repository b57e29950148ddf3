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

// Write-multiple acknowledgement: its first 6 bytes (address, function, first register,
// quantity) are those of the request.
bool EchoMatches(std::span<const uint8_t> request, std::span<const uint8_t> reply);

}  // namespace nx480
