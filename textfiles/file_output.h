// Writing an output file. A regular file is never left half-written: the text goes to a
// temporary file in the same folder, is flushed to disk, and only then takes the old
// file's name; on failure (or without Commit) the old file stays as it was and the
// temporary file is removed. What is not a regular file (standard output, a terminal,
// /dev/null, a FIFO) is written straight through and never replaced.
//
// The temporary file has one name per destination (TemporaryFileOf) and is locked while
// it is written (engine/file_lock.h): a second run replacing the same file is refused
// while the first lives, and the file a killed run left is removed by the next run.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "engine/codepage.h"
#include "textfiles/qor_tables.h"

namespace trundle {

// An output file that is finished by Commit.
class FileSink : public OutputSink {
 public:
  // Makes everything written final. Throws TrundleError naming the file and the cause.
  virtual void Commit() = 0;
};

// The standard output's name on the command line.
inline constexpr char kStandardOutputName[] = "-";

// True when path is written straight through rather than replaced: "-", a path under
// /dev/ or /proc/ (/dev/stdout, /proc/self/fd/1), or an existing file that is neither a
// regular file nor a folder (a character device, a FIFO, a socket). Such a destination
// holds no table to read.
bool IsStreamOutput(const std::string& path);

// Opens path for writing as IsStreamOutput tells: a StreamFileSink or an AtomicFileSink.
// Throws TrundleError naming the file and the cause (a block device is refused).
std::unique_ptr<FileSink> OpenOutputFile(const std::string& path);

// The file a chain of symbolic links ends at (path itself when it is no link; the
// target need not exist). Throws TrundleError for a loop of links.
std::string ResolveLinks(const std::string& path);

// The temporary file of path: ".NAME.trundle-tmp" beside the file path resolves to.
inline constexpr char kTemporarySuffix[] = ".trundle-tmp";
std::string TemporaryFileOf(const std::string& path);

class AtomicFileSink : public FileSink {
 public:
  // Creates the temporary file beside the file path names, following symbolic links:
  // a link keeps pointing where it did, and its target is replaced. The file is held
  // against other runs until Commit or the end of the sink; one left by a run that is
  // gone is removed first. Throws BeingWrittenError (naming path) while another run
  // writes it, else TrundleError naming the file and the cause.
  explicit AtomicFileSink(std::string path);
  // Without Commit, the temporary file is removed and the old file left alone.
  ~AtomicFileSink() override;

  // Throws TrundleError ("Could not write /x/out.csv: No space left on device").
  void Write(std::string_view bytes) override;
  // Flushes, syncs and renames over the destination. Throws as Write does.
  void Commit() override;

 private:
  void Flush();
  void WriteAll(std::string_view bytes);
  [[noreturn]] void Fail(const char* what, int error);

  std::string path_;
  std::string temp_path_;
  int fd_ = -1;
  std::string buffer_;
};

// Writes straight to an existing file or device ("-": the standard output), appending
// when it is a regular file behind /dev/stdout. Nothing is ever renamed or removed.
// Opening a named pipe that has no reader, and writing to a pipe nobody empties, wait
// until RequestInterrupt (engine/interrupt.h) and then throw StopRequestedError.
class StreamFileSink : public FileSink {
 public:
  // Throws TrundleError naming the file and the cause.
  explicit StreamFileSink(std::string path);
  ~StreamFileSink() override;
  void Write(std::string_view bytes) override;
  // Flushes and closes. Throws as Write does.
  void Commit() override;

 private:
  void Flush();

  std::string path_;
  int fd_ = -1;
  bool owned_ = false;  // the standard output stays open
  bool pipe_ = false;   // not a regular file: writes wait in poll, where a stop ends them
  std::string buffer_;
};

// Converts UTF-8 text to a code page on its way to another sink, and counts the
// characters that the code page cannot hold (written as '?').
class EncodingSink : public OutputSink {
 public:
  // Borrows target for its own lifetime. Throws TrundleError for an unknown code page.
  EncodingSink(OutputSink& target, const std::string& code_page);
  void Write(std::string_view bytes) override;
  // Converts what is held back (a character cut between two writes).
  void Finish();
  int64_t failures() const { return failures_; }

 private:
  OutputSink& target_;
  std::unique_ptr<TextCodec> codec_;
  std::string pending_;
  std::string converted_;
  int64_t failures_ = 0;
};

}  // namespace trundle
