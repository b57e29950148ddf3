#include "request.h"

namespace nx480 {

const char* RequestSlotName(RequestSlot slot) {
  return slot >= 0 && slot < kRequestSlotCount ? kRequestSlots[slot].name : "?";
}

}  // namespace nx480
