#include "engine/interrupt.h"

#include <poll.h>

#include <atomic>
#include <cerrno>

#include "engine/errors.h"

namespace trundle {
namespace {

// A lock-free atomic is safe to set from a signal handler.
std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

// How long one poll may block before the flag is looked at again: a signal that comes
// just before poll starts is then seen within this time.
constexpr int kPollMilliseconds = 100;

}  // namespace

void RequestInterrupt() { g_interrupted.store(true, std::memory_order_relaxed); }

bool InterruptRequested() { return g_interrupted.load(std::memory_order_relaxed); }

void ClearInterrupt() { g_interrupted.store(false, std::memory_order_relaxed); }

void WaitForDescriptor(int fd, short events) {
  for (;;) {
    if (InterruptRequested()) throw StopRequestedError();
    pollfd p{fd, events, 0};
    const int n = poll(&p, 1, kPollMilliseconds);
    if (n > 0) return;  // ready, or POLLHUP / POLLERR, which the read or write reports
    if (n < 0 && errno != EINTR) return;
  }
}

void PauseUnlessInterrupted() {
  if (InterruptRequested()) throw StopRequestedError();
  poll(nullptr, 0, kPollMilliseconds);
  if (InterruptRequested()) throw StopRequestedError();
}

}  // namespace trundle
