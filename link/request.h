// Requests: how a window asks the worker for a transaction.
//
// A request is a flag that the window sets and the worker clears once the transaction has
// returned, plus (for some) a payload that travels with it. A window declares each of its
// requests once, together with its transaction, in a RequestDecl; the main window binds every
// declaration to the worker and clears the ones marked clearedOnConnect when the user connects
// or disconnects. The worker serves the slots in the order of their list (kRequestSlots). See
// THREADING.md for who may touch what when.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <iterator>

namespace nx480 {

class TModbus;

// The request flags, one line each, in the order in which the worker serves them (the first
// served first in every pass). The enumerator (kLiveRequest), its name in the trace and tests
// ("LiveRequest") and its place in the order all come from this list.
#define NX480_REQUEST_SLOTS(X) \
  X(LiveRequest)               \
  X(ReadParamsRequest)         \
  X(WriteParamsRequest)        \
  X(ReadClockRequest)          \
  X(WriteClockRequest)         \
  X(ReadCalibrationRequest)    \
  X(WriteCalibrationRequest)   \
  X(ClearHistoryRequest)       \
  X(HistoryRequest)            \
  X(RecordRequest)             \
  X(TrendSettingsRequest)      \
  X(JournalReadRequest)        \
  X(UploadLength)              \
  X(RelayCommand)

#define NX480_SLOT_ENUMERATOR(name) k##name,
enum RequestSlot : int { NX480_REQUEST_SLOTS(NX480_SLOT_ENUMERATOR) kRequestSlotCount };
#undef NX480_SLOT_ENUMERATOR

struct RequestSlotEntry {
  RequestSlot slot;
  const char* name;
};

// The list as data, in serving order: the worker's loop walks it.
#define NX480_SLOT_ENTRY(name) {k##name, #name},
inline constexpr RequestSlotEntry kRequestSlots[] = {NX480_REQUEST_SLOTS(NX480_SLOT_ENTRY)};
#undef NX480_SLOT_ENTRY

// The worker keeps its slots in an array indexed by RequestSlot and serves them by walking
// kRequestSlots: the two orders must be one.
constexpr bool SlotsIndexTheirEntries() {
  if (std::size(kRequestSlots) != kRequestSlotCount) return false;
  for (int i = 0; i < kRequestSlotCount; ++i)
    if (kRequestSlots[i].slot != i) return false;
  return true;
}
static_assert(SlotsIndexTheirEntries());

// "LiveRequest" for kLiveRequest; "?" for a value outside the list.
const char* RequestSlotName(RequestSlot slot);

// A request flag: 0 means nothing is asked for. Set on the user-interface thread, cleared by
// the worker after the transaction (or by the window or the main window to drop it).
class Request {
 public:
  Request() = default;
  Request(const Request&) = delete;
  Request& operator=(const Request&) = delete;

  // Asks for the transaction; refused (false) while the previous one is still pending or
  // running, so that whatever travels with it is never changed under the worker.
  bool Post(int32_t value = 1) {
    int32_t idle = 0;
    return flag_.compare_exchange_strong(idle, value, std::memory_order_acq_rel);
  }
  // For requests whose value is all they carry: sets it whatever is pending (a newer value
  // replaces an older one that has not been served yet).
  void Set(int32_t value) { flag_.store(value, std::memory_order_release); }
  void Clear() { flag_.store(0, std::memory_order_release); }
  int32_t Value() const { return flag_.load(std::memory_order_acquire); }
  bool Pending() const { return Value() != 0; }

  std::atomic<int32_t>& Flag() { return flag_; }

 private:
  std::atomic<int32_t> flag_{0};
};

// A request with data: the window fills the payload only while the request is idle and posts
// it; the worker reads it while the request is pending (the flag's release/acquire orders the
// two).
template <typename Payload>
class RequestWith : public Request {
 public:
  bool Post(const Payload& payload, int32_t value = 1) {
    if (Pending()) return false;
    payload_ = payload;
    return Request::Post(value);
  }
  // Worker thread while pending; user-interface thread while idle.
  const Payload& Data() const { return payload_; }

 private:
  Payload payload_{};
};

// One request of a window: its slot in the worker's order, its flag, the transaction that
// serves it (run on the worker thread) and how a failure that escapes it as an exception is
// reported (also on the worker thread; after it the worker drains the input).
struct RequestDecl {
  RequestSlot slot = kRequestSlotCount;
  Request* request = nullptr;
  std::function<void(TModbus&)> transaction = {};
  std::function<void(TModbus&)> onException = {};
  // The connect button drops it (a read or write of the settings that was asked for against
  // another relay, or that waited while none was connected).
  bool clearedOnConnect = false;
};

}  // namespace nx480
