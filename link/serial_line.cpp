#include "serial_line.h"

namespace nx480 {

PortTimeouts TimeoutsForBaud(int baud, int readConstant) {
  PortTimeouts t;
  if (baud <= 0) baud = 1;
  t.readInterval = 38000 / baud + 22;
  t.readPerByte = 11000 / baud + 1;
  t.readConstant = readConstant;
  t.writePerByte = 11000 / baud + 1;
  t.writeConstant = 50;
  return t;
}

}  // namespace nx480
