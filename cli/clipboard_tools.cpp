#include "cli/clipboard_tools.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "engine/errors.h"

namespace trundle {
namespace {

std::string FindOnPath(const std::string& tool) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t colon = dirs.find(':', start);
    if (colon == std::string::npos) colon = dirs.size();
    const std::string candidate = dirs.substr(start, colon - start) + "/" + tool;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    start = colon + 1;
  }
  return "";
}

// The two ends of a pipe, each closed by the destructor whichever way the caller leaves.
class Pipe {
 public:
  Pipe() {
    if (pipe2(fds_, O_CLOEXEC) != 0) {
      fds_[0] = fds_[1] = -1;
      throw TrundleError(std::string("Can't put the table on the clipboard: ") +
                         std::strerror(errno));
    }
  }
  ~Pipe() {
    CloseReadEnd();
    CloseWriteEnd();
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;

  int read_end() const { return fds_[0]; }
  int write_end() const { return fds_[1]; }
  void CloseReadEnd() { CloseEnd(0); }
  void CloseWriteEnd() { CloseEnd(1); }

 private:
  void CloseEnd(int i) {
    if (fds_[i] >= 0) ::close(fds_[i]);
    fds_[i] = -1;
  }
  int fds_[2];
};

// Writes all of data to fd; false when the reader went away or the write failed.
// A reader that exits early raises SIGPIPE. It is held back on this thread only, and a
// SIGPIPE our own write raised is taken off again: changing its disposition instead
// would change it for every thread of the process.
bool WriteAll(int fd, std::string_view data) {
  sigset_t pipe_signal, old_mask, pending;
  sigemptyset(&pipe_signal);
  sigaddset(&pipe_signal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe_signal, &old_mask);
  sigpending(&pending);
  const bool was_pending = sigismember(&pending, SIGPIPE) == 1;
  size_t done = 0;
  bool broken_pipe = false;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      broken_pipe = n < 0 && errno == EPIPE;
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (broken_pipe && !was_pending) {
    const timespec no_wait{};
    while (sigtimedwait(&pipe_signal, nullptr, &no_wait) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
  return done == data.size();
}

class CommandClipboard : public SystemClipboard {
 public:
  explicit CommandClipboard(std::vector<std::string> argv) : argv_(std::move(argv)) {}

  void SetText(const std::string& text) override {
    Pipe pipe;
    const pid_t pid = Spawn(pipe.read_end());
    pipe.CloseReadEnd();
    const bool written = WriteAll(pipe.write_end(), text);
    pipe.CloseWriteEnd();
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!written || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
      Fail(argv_[0] + " did not take the text");
  }

 private:
  // Starts the tool reading from input; the pipe's descriptors are close-on-exec, so the
  // tool holds only its standard input. SIGPIPE starts at its default in the tool, as
  // a tool expects, whatever this process does with it.
  pid_t Spawn(int input) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input, STDIN_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    std::vector<char*> args;
    for (std::string& a : argv_) args.push_back(a.data());
    args.push_back(nullptr);
    pid_t pid = -1;
    const int error = posix_spawn(&pid, args[0], &actions, &attributes, args.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) Fail("cannot start " + argv_[0] + ": " + std::strerror(error));
    return pid;
  }

  [[noreturn]] static void Fail(const std::string& cause) {
    throw TrundleError("Can't put the table on the clipboard: " + cause);
  }
  std::vector<std::string> argv_;
};

}  // namespace

std::shared_ptr<SystemClipboard> FindCommandClipboard() {
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  const char* x11 = std::getenv("DISPLAY");
  if (wayland && *wayland) {
    const std::string tool = FindOnPath("wl-copy");
    if (!tool.empty()) return std::make_shared<CommandClipboard>(std::vector<std::string>{tool});
  }
  if (x11 && *x11) {
    std::string tool = FindOnPath("xclip");
    if (!tool.empty())
      return std::make_shared<CommandClipboard>(
          std::vector<std::string>{tool, "-selection", "clipboard"});
    tool = FindOnPath("xsel");
    if (!tool.empty())
      return std::make_shared<CommandClipboard>(
          std::vector<std::string>{tool, "--clipboard", "--input"});
  }
  return nullptr;
}

}  // namespace trundle
