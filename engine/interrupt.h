// A stop asked for from outside the run, by SIGINT or SIGTERM. The job honours a stop at
// record boundaries; this flag reaches the waits that no record boundary interrupts: a
// pipe or named pipe whose reader or writer never comes, standard output nobody reads.
//
//   WaitForDescriptor(fd, POLLIN);  // returns when fd is readable, throws on a stop
//   read(fd, ...);
#pragma once

namespace trundle {

// Async-signal-safe: a signal handler may call it.
void RequestInterrupt();
bool InterruptRequested();
// For a process that runs more than one job (tests): the next run starts unstopped.
void ClearInterrupt();

// Waits until fd is ready for events (POLLIN or POLLOUT), or has hung up or failed, and
// returns. Throws StopRequestedError once RequestInterrupt has been called, whether
// before the wait or during it.
void WaitForDescriptor(int fd, short events);

// Waits a moment (a tenth of a second) unless a stop was requested; throws
// StopRequestedError when one was. For retrying what cannot be waited for by poll
// (opening a named pipe that has no reader yet).
void PauseUnlessInterrupted();

}  // namespace trundle
