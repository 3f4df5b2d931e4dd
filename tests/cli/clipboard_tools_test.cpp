// The command-line clipboard against stand-in tools: a shell script named xclip, first
// on PATH, that takes the text, refuses it, or stops reading early.
#include "cli/clipboard_tools.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "engine/errors.h"
#include "tests/test_files.h"

namespace trundle {
namespace {

volatile sig_atomic_t g_pipe_signals = 0;
void CountPipeSignal(int) { g_pipe_signals = g_pipe_signals + 1; }

class ClipboardToolsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"PATH", "DISPLAY", "WAYLAND_DISPLAY"}) {
      const char* value = std::getenv(name);
      saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
    }
    std::filesystem::create_directory(folder_ / "bin");
    const char* path = std::getenv("PATH");
    setenv("PATH", (folder_ / "bin:" + (path ? path : "/usr/bin:/bin")).c_str(), 1);
    setenv("DISPLAY", ":0", 1);
    unsetenv("WAYLAND_DISPLAY");
    // A handler of our own, so that whether the process ignores SIGPIPE, and whether a
    // stray one arrives, can both be seen.
    struct sigaction counting {};
    counting.sa_handler = CountPipeSignal;
    sigaction(SIGPIPE, &counting, &old_action_);
    g_pipe_signals = 0;
  }
  void TearDown() override {
    sigaction(SIGPIPE, &old_action_, nullptr);
    for (const auto& [name, value] : saved_)
      value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
  }

  // Puts an executable script named xclip on PATH; returns its path.
  std::string Tool(const std::string& body) {
    const std::string path = folder_ / "bin/xclip";
    WriteFile(path, "#!/bin/sh\n" + body);
    chmod(path.c_str(), 0755);
    return path;
  }

  // The message SetText throws, "" when it returns.
  static std::string SetTextError(SystemClipboard& clipboard, const std::string& text) {
    try {
      clipboard.SetText(text);
    } catch (const TrundleError& e) {
      return e.what();
    }
    return "";
  }

  ScratchFolder folder_;
  struct sigaction old_action_ {};
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST_F(ClipboardToolsTest, HandsTheTextToTheToolAndReportsItsRefusal) {
  const std::string tool = Tool("exec cat > \"$0.out\"\n");
  auto clipboard = FindCommandClipboard();
  ASSERT_NE(clipboard, nullptr);
  const std::string text = "A\tB\r\n1\t\xC3\xA9\r\n" + std::string(200000, 'x');
  EXPECT_EQ(SetTextError(*clipboard, text), "");
  EXPECT_EQ(ReadFile(tool + ".out"), text);

  Tool("cat > /dev/null; exit 1\n");
  EXPECT_EQ(SetTextError(*clipboard, "A\r\n"),
            "Can't put the table on the clipboard: " + tool + " did not take the text");
}

// A tool that stops reading early makes our write fail with EPIPE. The process must
// neither die of SIGPIPE, nor ignore SIGPIPE meanwhile (that would hold for its other
// threads too), nor find a stray SIGPIPE pending afterwards.
TEST_F(ClipboardToolsTest, AToolThatStopsReadingLeavesSigpipeAsItWas) {
  // The tool reads one byte, so our write has begun, then notes which signals this
  // process ignores at that moment, and leaves.
  const std::string tool =
      Tool("head -c 1 > /dev/null\ngrep '^SigIgn:' /proc/$PPID/status > \"$0.ign\"\n");
  auto clipboard = FindCommandClipboard();
  ASSERT_NE(clipboard, nullptr);
  EXPECT_EQ(SetTextError(*clipboard, std::string(1 << 20, 'x')),
            "Can't put the table on the clipboard: " + tool + " did not take the text");

  const std::string ignored = ReadFile(tool + ".ign");
  ASSERT_EQ(ignored.rfind("SigIgn:", 0), 0u) << ignored;
  const unsigned long long mask = std::stoull(ignored.substr(7), nullptr, 16);
  EXPECT_EQ(mask & (1ull << (SIGPIPE - 1)), 0u) << "SIGPIPE was ignored process-wide";

  sigset_t now;
  sigpending(&now);
  EXPECT_FALSE(sigismember(&now, SIGPIPE));
  pthread_sigmask(SIG_BLOCK, nullptr, &now);
  EXPECT_FALSE(sigismember(&now, SIGPIPE)) << "SIGPIPE left blocked";
  EXPECT_EQ(g_pipe_signals, 0);
  struct sigaction current {};
  sigaction(SIGPIPE, nullptr, &current);
  EXPECT_EQ(current.sa_handler, CountPipeSignal);
}

// A tool that went away after it was found cannot be started: the message says so, and
// neither end of the pipe stays open.
TEST_F(ClipboardToolsTest, AToolThatCannotStartLeavesNoDescriptorOpen) {
  const std::string tool = Tool("exit 0\n");
  auto clipboard = FindCommandClipboard();
  ASSERT_NE(clipboard, nullptr);
  std::filesystem::remove(tool);
  auto open_descriptors = [] {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                         std::filesystem::directory_iterator());
  };
  const auto before = open_descriptors();
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(SetTextError(*clipboard, "A\r\n"),
              "Can't put the table on the clipboard: cannot start " + tool +
                  ": No such file or directory");
  EXPECT_EQ(open_descriptors(), before);
}

}  // namespace
}  // namespace trundle
