#include "cli/clipboard_tools.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
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

class CommandClipboard : public SystemClipboard {
 public:
  explicit CommandClipboard(std::vector<std::string> argv) : argv_(std::move(argv)) {}

  void SetText(const std::string& text) override {
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) Fail(std::strerror(errno));
    const pid_t pid = fork();
    if (pid < 0) Fail(std::strerror(errno));
    if (pid == 0) {
      dup2(pipe_fds[0], 0);
      close(pipe_fds[0]);
      close(pipe_fds[1]);
      std::vector<char*> args;
      for (std::string& a : argv_) args.push_back(a.data());
      args.push_back(nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
    close(pipe_fds[0]);
    // A tool that exits early must not kill us with SIGPIPE.
    struct sigaction ignore {
    }, old{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &old);
    size_t done = 0;
    bool write_failed = false;
    while (done < text.size()) {
      const ssize_t n = write(pipe_fds[1], text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        write_failed = true;
        break;
      }
      done += static_cast<size_t>(n);
    }
    close(pipe_fds[1]);
    sigaction(SIGPIPE, &old, nullptr);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (write_failed || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
      Fail(argv_[0] + " did not take the text");
  }

 private:
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
