// A hook that sees every frame on the line: for debugging a relay in the field. The link calls
// it on the thread that owns the port; it must not block and must not call back into the link.
// The application routes it to a logging category that is off by default.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <span>

#include "link_error.h"

namespace nx480 {

enum class FrameDirection { Sent, Received, Drained };

struct FrameEvent {
  FrameDirection direction;
  std::span<const uint8_t> bytes;
  // Time since the request was written (0 for the request itself).
  std::chrono::microseconds sinceRequest{0};
  // For a received frame the reply check's verdict (None: good); None for the others.
  LinkError verdict = LinkError::None;
  const char* frame = "";        // the request template, e.g. "parameters read, low"
  const char* transaction = "";  // the request being served, or "connection" outside the worker
};

using FrameTraceHook = std::function<void(const FrameEvent&)>;

}  // namespace nx480
