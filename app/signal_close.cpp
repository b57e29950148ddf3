#include "signal_close.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QWidget>
#include <cerrno>
#include <csignal>
#include <stdexcept>

namespace {

int pipeFds[2] = {-1, -1};
struct sigaction previous[std::size(CloseOnSignals::kSignals)];

static_assert(CloseOnSignals::kSignals[0] == SIGTERM && CloseOnSignals::kSignals[1] == SIGHUP &&
              CloseOnSignals::kSignals[2] == SIGINT);

void OnSignal(int signal) {
  const int saved = errno;
  const unsigned char byte = static_cast<unsigned char>(signal);
  // A full pipe already holds a request to close: this one may be lost.
  (void)!write(pipeFds[1], &byte, 1);
  errno = saved;
}

}  // namespace

CloseOnSignals::CloseOnSignals(QWidget& window) : window_(window) {
  if (pipeFds[0] >= 0) throw std::logic_error("CloseOnSignals: one at a time");
  if (pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("pipe2");
  notifier_ = new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this] { Take(); });
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (size_t i = 0; i < kSignals.size(); ++i) sigaction(kSignals[i], &action, &previous[i]);
}

CloseOnSignals::~CloseOnSignals() {
  for (size_t i = 0; i < kSignals.size(); ++i) sigaction(kSignals[i], &previous[i], nullptr);
  delete notifier_;
  close(pipeFds[0]);
  close(pipeFds[1]);
  pipeFds[0] = pipeFds[1] = -1;
}

void CloseOnSignals::Take() {
  unsigned char bytes[16];
  while (read(pipeFds[0], bytes, sizeof bytes) > 0) {
  }
  window_.close();
}
