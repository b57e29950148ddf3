// Small helpers for the link tests: the relay link's line settings, and requests bound the
// short way.
#pragma once

#include <functional>

#include "modbus.h"
#include "serial_line.h"

// 115200 baud, 8N1, the given read time-out constant: the relay link as the tool opens it.
inline nx480::LineSettings TestLine(int readConstant = 100) {
  nx480::LineSettings line;
  line.timeouts = nx480::TimeoutsForBaud(line.baud, readConstant);
  return line;
}

// Binds `request` to `slot` with a transaction (and a failure report) that ignore the link.
inline bool BindSimple(nx480::TModbus& worker, nx480::RequestSlot slot, nx480::Request* request,
                       std::function<void()> run, std::function<void()> onException = nullptr) {
  nx480::RequestDecl decl;
  decl.slot = slot;
  decl.request = request;
  if (run) decl.transaction = [run](nx480::TModbus&) { run(); };
  if (onException) decl.onException = [onException](nx480::TModbus&) { onException(); };
  return worker.Bind(decl);
}
