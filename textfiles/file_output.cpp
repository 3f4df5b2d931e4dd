#include "textfiles/file_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "engine/errors.h"

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

}  // namespace

AtomicFileSink::AtomicFileSink(std::string path) : path_(std::move(path)) {
  const size_t slash = path_.rfind('/');
  const std::string name = slash == std::string::npos ? path_ : path_.substr(slash + 1);
  temp_path_ = FolderOf(path_) + "/." + name + ".XXXXXX";
  fd_ = mkstemp(temp_path_.data());
  if (fd_ < 0) {
    const int error = errno;
    throw TrundleError("Could not create " + path_ + ": " + std::strerror(error));
  }
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

AtomicFileSink::~AtomicFileSink() {
  if (fd_ >= 0) {
    close(fd_);
    unlink(temp_path_.c_str());
  }
}

void AtomicFileSink::Fail(const char* what, int error) {
  close(fd_);
  unlink(temp_path_.c_str());
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
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail("write", errno);
    }
    done += static_cast<size_t>(n);
  }
}

void AtomicFileSink::Commit() {
  if (fd_ < 0) throw TrundleError("Could not write " + path_ + ": the file is closed");
  Flush();
  if (fsync(fd_) != 0) Fail("write", errno);
  if (close(fd_) != 0) {
    fd_ = -1;
    const int error = errno;
    unlink(temp_path_.c_str());
    throw TrundleError("Could not write " + path_ + ": " + std::strerror(error));
  }
  fd_ = -1;
  if (rename(temp_path_.c_str(), path_.c_str()) != 0) {
    const int error = errno;
    unlink(temp_path_.c_str());
    throw TrundleError("Could not replace " + path_ + ": " + std::strerror(error));
  }
  // The rename itself reaches the disk with the folder.
  const int dir = open(FolderOf(path_).c_str(), O_RDONLY | O_DIRECTORY);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
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
