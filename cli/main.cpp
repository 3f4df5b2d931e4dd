// trundle-cli: builds one transfer job from its arguments, runs it and prints the log.
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "cli/clipboard_tools.h"
#include "cli/options.h"
#include "cli/register_adaptors.h"
#include "engine/adaptor_registry.h"
#include "engine/codepage.h"
#include "engine/trundle.h"

namespace {

using trundle::TDataKind;

constexpr int kExitMoved = 0;
constexpr int kExitNotOpened = 1;
constexpr int kExitUsage = 2;
constexpr int kExitError = 3;

// One line per line of the message: "\r\n" inside a message starts a new line.
void PrintMessage(const std::string& message) {
  std::string out;
  out.reserve(message.size() + 1);
  for (size_t i = 0; i < message.size(); ++i) {
    if (message[i] == '\r') {
      out += '\n';
      if (i + 1 < message.size() && message[i + 1] == '\n') ++i;
    } else {
      out += message[i];
    }
  }
  out += '\n';
  std::fwrite(out.data(), 1, out.size(), stdout);
}

class ProgressBar {
 public:
  void Show(int percent) {
    if (percent == last_) return;
    last_ = percent;
    const int filled = percent < 0 ? 0 : percent > 100 ? 40 : percent * 40 / 100;
    std::fprintf(stderr, "\r[%s%s] %3d%%", std::string(filled, '#').c_str(),
                 std::string(40 - filled, ' ').c_str(), percent);
    std::fflush(stderr);
    shown_ = true;
  }
  void Finish() {
    if (shown_) std::fputs("\n", stderr);
    shown_ = false;
  }

 private:
  int last_ = -1;
  bool shown_ = false;
};

std::string BaseNameWithoutExtension(const std::string& path) {
  std::string name = path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
  const size_t dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

int Usage(const std::string& error) {
  std::cerr << "trundle-cli: " << error << "\n"
            << "Try 'trundle-cli --help'.\n";
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  trundle::RegisterAllAdaptors();
  trundle::CliOptions options;
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (std::string error = trundle::ParseCliOptions(args, options); !error.empty())
    return Usage(error);
  if (options.help) {
    std::cout << trundle::UsageText();
    return kExitMoved;
  }
  if (options.version) {
    std::cout << "trundle-cli " << TRUNDLE_VERSION << "\n";
    return kExitMoved;
  }
  const TDataKind source_kind = *options.source.kind;
  const TDataKind dest_kind = *options.dest.kind;
  for (TDataKind kind : {source_kind, dest_kind})
    if (!trundle::IsAdaptorRegistered(kind))
      return Usage(std::string("the kind ") + trundle::KindName(kind) +
                   " is not built yet; this version moves csv, text, html, dbase and paradox");

  // A code page iconv does not know is a usage error, found before anything is read.
  try {
    if (!options.source.encoding.empty()) trundle::TextCodec::ToUtf8From(options.source.encoding);
    if (!options.dest.encoding.empty()) trundle::TextCodec::FromUtf8To(options.dest.encoding);
  } catch (const std::exception& e) {
    return Usage(e.what());
  }

  trundle::TTrundle job;
  job.SetSourceKind(source_kind);
  job.SetDestinationKind(dest_kind);
  if (std::string e = FillAdaptor(options.source, source_kind, true, job.Source()); !e.empty())
    return Usage(e);
  if (std::string e = FillAdaptor(options.dest, dest_kind, false, job.Destination()); !e.empty())
    return Usage(e);
  job.Destination().Clipboard = options.clipboard;
  job.Destination().HtmlTitle =
      options.html_title ? *options.html_title : BaseNameWithoutExtension(options.dest.location);
  job.Destination().HtmlBanner = options.html_banner;
  if (options.clipboard) trundle::SetSystemClipboard(trundle::FindCommandClipboard());

  ProgressBar bar;
  const bool show_progress = !options.quiet && isatty(STDERR_FILENO);
  if (!options.quiet) job.OnMessage = PrintMessage;
  if (show_progress) job.OnProgress = [&bar](int32_t percent) { bar.Show(percent); };
  try {
    job.Execute();
  } catch (const std::exception& e) {
    bar.Finish();
    std::fflush(stdout);
    std::cerr << e.what() << "\n";
    return kExitError;
  }
  bar.Finish();
  return job.outcome() == trundle::TRunOutcome::kMoved ? kExitMoved : kExitNotOpened;
}
