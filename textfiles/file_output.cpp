#include "textfiles/file_output.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "engine/errors.h"
#include "engine/file_lock.h"
#include "engine/interrupt.h"

namespace trundle {
namespace {

constexpr size_t kFlushSize = 1 << 20;

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Length of the tail of text that is the start of a UTF-8 sequence cut short.
size_t IncompleteTail(std::string_view text) {
  size_t back = 0;
  while (back < text.size() && back < 4) {
    const auto c = static_cast<unsigned char>(text[text.size() - 1 - back]);
    ++back;
    if ((c & 0xC0) != 0x80) {
      const size_t need = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
      return need > back ? back : 0;
    }
  }
  return 0;
}

// Writes every byte to fd, or returns the errno of the failure (0 on success).
int WriteFully(int fd, std::string_view bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    done += static_cast<size_t>(n);
  }
  return 0;
}

bool StartsWith(const std::string& text, const char* head) {
  return text.compare(0, std::strlen(head), head) == 0;
}

}  // namespace

bool IsStreamOutput(const std::string& path) {
  if (path == kStandardOutputName || StartsWith(path, "/dev/") || StartsWith(path, "/proc/"))
    return true;
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

std::unique_ptr<FileSink> OpenOutputFile(const std::string& path) {
  struct stat st {};
  // A table written over a disk would destroy it.
  if (stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode))
    throw NotOpenedError("Could not write " + path + ": it is a block device");
  if (IsStreamOutput(path)) return std::make_unique<StreamFileSink>(path);
  return std::make_unique<AtomicFileSink>(path);
}

std::string ResolveLinks(const std::string& path) {
  std::string current = path;
  // The kernel's own limit on a chain of links.
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
    std::string target(PATH_MAX, '\0');
    const ssize_t n = readlink(current.c_str(), target.data(), target.size());
    if (n <= 0) return current;
    target.resize(static_cast<size_t>(n));
    if (target[0] != '/') {
      const size_t slash = current.rfind('/');
      if (slash != std::string::npos) target = current.substr(0, slash + 1) + target;
    }
    current = std::move(target);
  }
  throw NotOpenedError("Could not create " + path + ": " + std::strerror(ELOOP));
}

std::string TemporaryFileOf(const std::string& path) {
  const std::string target = ResolveLinks(path);
  const size_t slash = target.rfind('/');
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  return FolderOf(target) + "/." + name + kTemporarySuffix;
}

namespace {

[[noreturn]] void FailCreate(const std::string& path, int error) {
  throw NotOpenedError("Could not create " + path + ": " + std::strerror(error));
}

// The temporary file temp for the destination path, created and locked (file_lock.h).
// A file already there is an earlier run's: while that run lives, it holds the lock and
// this one is refused; a run that is gone (killed) left it, and it is removed and made
// again. Every lock taken is checked to be on the file still at temp, since a run that
// finished in between has renamed its file away or removed it; and a file at temp is
// only removed while its lock is held, so that no run removes another's.
int TakeTemporaryFile(const std::string& temp, const std::string& path) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    int fd = open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    const bool fresh = fd >= 0;
    if (!fresh) {
      if (errno != EEXIST) FailCreate(path, errno);
      // O_NONBLOCK: a FIFO in the way must not wait for a writer.
      fd = open(temp.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
      if (fd < 0 && errno == ENOENT) continue;  // removed in between
      if (fd < 0 && errno != ELOOP) FailCreate(path, errno);
    }
    struct stat held {};
    if (fd < 0 || fstat(fd, &held) != 0 || !S_ISREG(held.st_mode)) {
      if (fd >= 0) close(fd);
      throw NotOpenedError("Could not create " + path + ": " + temp +
                           " is in the way, and it is not a file this program left");
    }
    bool locked = false;
    try {
      locked = TryLockForWriting(fd, path);
    } catch (const TrundleError&) {
      if (fresh) unlink(temp.c_str());
      close(fd);
      throw;
    }
    if (!locked) {
      close(fd);
      throw BeingWrittenError(path);
    }
    struct stat there {};
    if (lstat(temp.c_str(), &there) != 0 || there.st_dev != held.st_dev ||
        there.st_ino != held.st_ino) {
      close(fd);
      continue;
    }
    if (fresh) return fd;
    const int removed = unlink(temp.c_str());
    const int error = errno;
    close(fd);
    if (removed != 0) FailCreate(path, error);
  }
  throw TrundleError("Could not create " + path + ": its temporary file " + temp +
                     " keeps being replaced");
}

}  // namespace

AtomicFileSink::AtomicFileSink(std::string path) : path_(ResolveLinks(path)) {
  temp_path_ = TemporaryFileOf(path_);
  fd_ = TakeTemporaryFile(temp_path_, path_);
  // The new file gets the old one's permissions, or what a new file would get.
  struct stat old {};
  mode_t mode;
  if (stat(path_.c_str(), &old) == 0) {
    mode = old.st_mode & 07777;
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  fchmod(fd_, mode);
  buffer_.reserve(kFlushSize + 4096);
}

// The temporary file goes while its lock is held: once the lock is gone another run may
// already have made its own under the same name.
AtomicFileSink::~AtomicFileSink() {
  if (fd_ >= 0) {
    unlink(temp_path_.c_str());
    close(fd_);
  }
}

void AtomicFileSink::Fail(const char* what, int error) {
  unlink(temp_path_.c_str());
  close(fd_);
  fd_ = -1;
  throw TrundleError(std::string("Could not ") + what + " " + path_ + ": " + std::strerror(error));
}

void AtomicFileSink::Write(std::string_view bytes) {
  if (fd_ < 0) throw TrundleError("Could not write " + path_ + ": the file is closed");
  if (buffer_.size() + bytes.size() < kFlushSize) {
    buffer_.append(bytes);
    return;
  }
  Flush();
  if (bytes.size() < kFlushSize) {
    buffer_.append(bytes);
    return;
  }
  WriteAll(bytes);  // a large piece goes straight to the file
}

void AtomicFileSink::Flush() {
  WriteAll(buffer_);
  buffer_.clear();
}

void AtomicFileSink::WriteAll(std::string_view bytes) {
  if (const int error = WriteFully(fd_, bytes)) Fail("write", error);
}

void AtomicFileSink::Commit() {
  if (fd_ < 0) throw TrundleError("Could not write " + path_ + ": the file is closed");
  Flush();
  if (fsync(fd_) != 0) Fail("write", errno);
  // A second descriptor of the same open file keeps the lock from the close, which may
  // report a delayed write failure, until the rename is done.
  const int held = dup(fd_);
  if (held < 0) Fail("write", errno);
  const int closed = close(fd_);
  const int close_error = errno;
  fd_ = -1;
  if (closed != 0) {
    unlink(temp_path_.c_str());
    close(held);
    throw TrundleError("Could not write " + path_ + ": " + std::strerror(close_error));
  }
  if (rename(temp_path_.c_str(), path_.c_str()) != 0) {
    const int error = errno;
    unlink(temp_path_.c_str());
    close(held);
    throw NotOpenedError("Could not replace " + path_ + ": " + std::strerror(error));
  }
  close(held);
  // The rename itself reaches the disk with the folder.
  const int dir = open(FolderOf(path_).c_str(), O_RDONLY | O_DIRECTORY);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
}

StreamFileSink::StreamFileSink(std::string path) : path_(std::move(path)) {
  if (path_ == kStandardOutputName) {
    fd_ = STDOUT_FILENO;
  } else {
    // O_APPEND: /dev/stdout may lead to a regular file the shell opened for appending.
    // O_NONBLOCK: a named pipe with no reader refuses at once (ENXIO) instead of holding
    // the open until one comes; it is tried again until a reader comes or a stop.
    for (;;) {
      fd_ = open(path_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
      if (fd_ >= 0 || (errno != ENXIO && errno != EINTR)) break;
      PauseUnlessInterrupted();
    }
    if (fd_ < 0) {
      const int error = errno;
      throw NotOpenedError("Could not open " + path_ + ": " + std::strerror(error));
    }
    owned_ = true;
  }
  // The description opened here is ours and stays non-blocking; the standard output's is
  // shared with the shell and others, so it keeps its mode and is polled before writes.
  struct stat st {};
  pipe_ = fstat(fd_, &st) == 0 && !S_ISREG(st.st_mode);
  if (owned_ && !pipe_) fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
  buffer_.reserve(kFlushSize + 4096);
}

StreamFileSink::~StreamFileSink() {
  if (owned_ && fd_ >= 0) close(fd_);
}

void StreamFileSink::Write(std::string_view bytes) {
  if (fd_ < 0) throw TrundleError("Could not write " + path_ + ": the file is closed");
  buffer_.append(bytes);
  if (buffer_.size() >= kFlushSize) Flush();
}

void StreamFileSink::Flush() {
  if (!pipe_) {
    const int error = WriteFully(fd_, buffer_);
    buffer_.clear();
    if (error) throw TrundleError("Could not write " + path_ + ": " + std::strerror(error));
    return;
  }
  // A reader that stalls must not hold the run past a stop request: every write waits in
  // poll first. On a blocking descriptor a write of at most PIPE_BUF bytes after POLLOUT
  // does not block; on our own non-blocking one a full write is tried.
  std::string_view rest = buffer_;
  while (!rest.empty()) {
    WaitForDescriptor(fd_, POLLOUT);
    const size_t piece = owned_ ? rest.size() : std::min<size_t>(rest.size(), PIPE_BUF);
    const ssize_t n = write(fd_, rest.data(), piece);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      const int error = errno;
      buffer_.clear();
      throw TrundleError("Could not write " + path_ + ": " + std::strerror(error));
    }
    rest.remove_prefix(static_cast<size_t>(n));
  }
  buffer_.clear();
}

void StreamFileSink::Commit() {
  if (fd_ < 0) throw TrundleError("Could not write " + path_ + ": the file is closed");
  Flush();
  if (owned_ && close(fd_) != 0) {
    fd_ = -1;
    const int error = errno;
    throw TrundleError("Could not write " + path_ + ": " + std::strerror(error));
  }
  fd_ = -1;
}

EncodingSink::EncodingSink(OutputSink& target, const std::string& code_page)
    : target_(target), codec_(TextCodec::FromUtf8To(code_page)) {}

void EncodingSink::Write(std::string_view bytes) {
  pending_.append(bytes);
  const size_t keep = IncompleteTail(pending_);
  converted_.clear();
  const std::string_view whole(pending_.data(), pending_.size() - keep);
  if (!codec_->Convert(whole, converted_)) {
    // Count each character that became '?' but was not one before.
    size_t before = 0, after = 0;
    for (char c : whole) before += c == '?';
    for (char c : converted_) after += c == '?';
    failures_ += after > before ? static_cast<int64_t>(after - before) : 1;
  }
  target_.Write(converted_);
  pending_.erase(0, pending_.size() - keep);
}

void EncodingSink::Finish() {
  if (pending_.empty()) return;
  converted_.clear();
  if (!codec_->Convert(pending_, converted_)) ++failures_;
  target_.Write(converted_);
  pending_.clear();
}

}  // namespace trundle
