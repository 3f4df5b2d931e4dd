// A scratch folder per test, removed afterwards, and small file helpers.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace trundle {

class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "trundle-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~ScratchFolder() { std::filesystem::remove_all(path_); }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// "F0", "F1", ...: field names for wide tables.
inline std::string FieldName(int i) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "F%d", i);
  return buf;
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// One word for /bin/sh: the text between single quotes, each quote of its own closed,
// escaped and opened again.
inline std::string ShellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

#ifdef TRUNDLE_CLI
// How a run of trundle-cli ended: its exit status (-1 when it did not exit) and what it
// wrote to standard output and standard error.
struct CliRun {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs trundle-cli in `dir` with `args`, standard input closed and no display to find;
// `env` (assignments such as "TRUNDLE_PW=x") goes into its environment.
inline CliRun RunCli(const ScratchFolder& dir, const std::vector<std::string>& args,
                     const std::string& env = "") {
  // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) of " " + ShellQuote(a).
  std::string command("cd ");
  command.append(ShellQuote(dir.path())).append(" && env -u DISPLAY -u WAYLAND_DISPLAY ");
  command.append(env).append(" ").append(ShellQuote(TRUNDLE_CLI));
  for (const std::string& a : args) command.append(" ").append(ShellQuote(a));
  command.append(" >").append(ShellQuote(dir / "stdout"));
  command.append(" 2>").append(ShellQuote(dir / "stderr")).append(" </dev/null");
  const int raw = std::system(command.c_str());
  CliRun run;
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  run.out = ReadFile(dir / "stdout");
  run.err = ReadFile(dir / "stderr");
  return run;
}
#endif

}  // namespace trundle
