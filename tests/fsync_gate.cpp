// The tests' hand on nx480ctl's journal step, loaded into the program with LD_PRELOAD (the
// program itself has no such path): the process's first fsync - the first file of a change's
// journal entry - waits until the test has sent an interrupt and the program's main thread has
// taken it, so that the interrupt comes while the entry is written, however the machine is
// loaded. NX480_FSYNC_GATE names a file it makes when that fsync begins to wait; the test sends
// the signal, then makes the same name with ".sent" added. Without it every fsync is the
// system's.
#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <string>

namespace {

std::atomic<bool> gated{false};

bool InterruptPending() {
  sigset_t pending;
  return ::sigpending(&pending) == 0 &&
         (sigismember(&pending, SIGINT) == 1 || sigismember(&pending, SIGTERM) == 1 ||
          sigismember(&pending, SIGHUP) == 1);
}

void Nap(long ms) {
  const timespec t{ms / 1000, (ms % 1000) * 1000000};
  ::nanosleep(&t, nullptr);
}

// At most a minute: a test that sends nothing fails on what the program then does.
template <class Done>
void WaitFor(Done done) {
  for (int i = 0; i < 60000 && !done(); ++i) Nap(1);
}

}  // namespace

extern "C" int fsync(int fd) {
  const char* gate = std::getenv("NX480_FSYNC_GATE");
  if (gate != nullptr && !gated.exchange(true)) {
    const int marker = ::open(gate, O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (marker >= 0) ::close(marker);
    // The signals are blocked in every thread: one sent stays pending until the main thread takes
    // it (at once, perhaps, before this thread looks).
    const std::string sent = std::string(gate) + ".sent";
    WaitFor([&sent] { return ::access(sent.c_str(), F_OK) == 0; });
    WaitFor([] { return !InterruptPending(); });
    Nap(200);  // the main thread holds the changes right after it took the signal
  }
  return static_cast<int>(::syscall(SYS_fsync, fd));
}
