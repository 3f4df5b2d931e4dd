#include "databases/core/file_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "engine/ascii.h"
#include "engine/errors.h"
#include "engine/file_lock.h"

namespace trundle {
namespace {

[[noreturn]] void Fail(const std::string& what, const std::string& path) {
  throw TrundleError("Could not " + what + " " + path + ": " + std::strerror(errno));
}

// The descriptor of a regular file opened as mode asks; throws naming the path.
int OpenRegularFile(const std::string& path, RandomAccessFile::Mode mode) {
  using Mode = RandomAccessFile::Mode;
  // O_NONBLOCK so that opening a named pipe does not wait for a writer; it is cleared
  // once the file is known to be a regular one.
  int flags = O_CLOEXEC | O_NONBLOCK;
  switch (mode) {
    case Mode::kRead:
      flags |= O_RDONLY;
      break;
    case Mode::kReadWrite:
      flags |= O_RDWR;
      break;
    case Mode::kCreateNew:
      flags |= O_RDWR | O_CREAT | O_EXCL;
      break;
  }
  const int fd = ::open(path.c_str(), flags, 0644);
  if (fd < 0) {
    if (mode == Mode::kCreateNew && errno == EEXIST)
      throw NotOpenedError("Could not create " + path + ": the file already exists");
    // Opening a folder for writing fails with EISDIR; say it as plainly as for reading.
    if (errno == EISDIR) throw NotOpenedError("Could not open " + path + ": it is a folder");
    throw NotOpenedError(std::string("Could not ") +
                         (mode == Mode::kCreateNew ? "create " : "open ") + path + ": " +
                         std::strerror(errno));
  }
  struct stat st;
  std::string refusal;
  if (::fstat(fd, &st) != 0)
    refusal = std::strerror(errno);
  else if (S_ISDIR(st.st_mode))
    refusal = "it is a folder";
  else if (!S_ISREG(st.st_mode))
    refusal = "it is not a regular file";
  else if (const int status = ::fcntl(fd, F_GETFL);
           status < 0 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0)
    refusal = std::strerror(errno);
  if (!refusal.empty()) {
    ::close(fd);
    throw NotOpenedError("Could not open " + path + ": " + refusal);
  }
  return fd;
}

}  // namespace

RandomAccessFile::RandomAccessFile(const std::string& path, Mode mode)
    : fd_(OpenRegularFile(path, mode)), path_(path) {}

RandomAccessFile::RandomAccessFile(RandomAccessFile&& other) noexcept
    : fd_(other.fd_), path_(std::move(other.path_)) {
  other.fd_ = -1;
}

RandomAccessFile& RandomAccessFile::operator=(RandomAccessFile&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    path_ = std::move(other.path_);
    other.fd_ = -1;
  }
  return *this;
}

RandomAccessFile::~RandomAccessFile() {
  if (fd_ >= 0) ::close(fd_);
}

uint64_t RandomAccessFile::Size() const {
  struct stat st;
  if (::fstat(fd_, &st) != 0) Fail("read the size of", path_);
  return static_cast<uint64_t>(st.st_size);
}

size_t RandomAccessFile::ReadAt(uint64_t offset, void* data, size_t size) const {
  char* out = static_cast<char*>(data);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pread(fd_, out + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail("read", path_);
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

void RandomAccessFile::ReadExactAt(uint64_t offset, void* data, size_t size) const {
  const size_t got = ReadAt(offset, data, size);
  if (got != size)
    throw TrundleError(path_ + " is damaged: it ends at byte " + std::to_string(offset + got) +
                       ", before the " + std::to_string(size) + " bytes at offset " +
                       std::to_string(offset));
}

void RandomAccessFile::WriteAt(uint64_t offset, std::string_view data) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n =
        ::pwrite(fd_, data.data() + done, data.size() - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail("write to", path_);
    }
    done += static_cast<size_t>(n);
  }
}

void RandomAccessFile::WriteAt(uint64_t offset, const std::vector<std::string_view>& pieces) {
  std::vector<iovec> left;
  left.reserve(pieces.size());
  for (std::string_view piece : pieces)
    if (!piece.empty()) left.push_back({const_cast<char*>(piece.data()), piece.size()});
  size_t first = 0;  // the first iovec not yet written whole
  while (first < left.size()) {
    const int count = int(std::min<size_t>(left.size() - first, IOV_MAX));
    const ssize_t n = ::pwritev(fd_, &left[first], count, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail("write to", path_);
    }
    offset += uint64_t(n);
    for (size_t done = size_t(n); done > 0;) {  // a short write stops inside a piece
      iovec& v = left[first];
      const size_t step = std::min(done, v.iov_len);
      v.iov_base = static_cast<char*>(v.iov_base) + step;
      v.iov_len -= step;
      done -= step;
      if (v.iov_len == 0) ++first;
    }
  }
}

void RandomAccessFile::Truncate(uint64_t size) {
  if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) Fail("resize", path_);
}

void RandomAccessFile::Reserve(uint64_t offset, uint64_t size) noexcept {
  if (::fallocate(fd_, FALLOC_FL_KEEP_SIZE, static_cast<off_t>(offset),
                  static_cast<off_t>(size)) == 0)
    return;
  // Part of the space may have been taken before the disk filled: it goes back, so that
  // the space set aside takes none that the writes themselves need.
  struct stat st {};
  if (::fstat(fd_, &st) == 0) (void)!::ftruncate(fd_, st.st_size);
}

void RandomAccessFile::LockForWriting() { trundle::LockForWriting(fd_, path_); }

void RandomAccessFile::Sync() {
  if (::fsync(fd_) != 0) Fail("save", path_);
}

void RandomAccessFile::Close() {
  if (fd_ < 0) return;
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) Fail("close", path_);
}

RandomAccessFile OpenForWriting(const std::string& path) {
  RandomAccessFile file(path, RandomAccessFile::Mode::kReadWrite);
  file.LockForWriting();
  return file;
}

bool PathExists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

std::string SiblingPath(const std::string& table_path, std::string_view extension) {
  const size_t slash = table_path.find_last_of('/');
  const size_t dot = table_path.find_last_of('.');
  const bool has_ext = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  std::string out = has_ext ? table_path.substr(0, dot) : table_path;
  const std::string_view table_ext =
      has_ext ? std::string_view(table_path).substr(dot + 1) : std::string_view();
  const bool upper =
      has_ext && table_ext.find_first_of("abcdefghijklmnopqrstuvwxyz") == std::string_view::npos;
  out += upper ? UpperAscii(extension) : std::string(extension);
  return out;
}

std::string FindSibling(const std::string& table_path, std::string_view extension) {
  const std::string exact = SiblingPath(table_path, extension);
  if (PathExists(exact)) return exact;
  const size_t slash = exact.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "." : exact.substr(0, slash + 1);
  const std::string wanted = slash == std::string::npos ? exact : exact.substr(slash + 1);
  DIR* d = ::opendir(dir.c_str());
  if (!d) return {};
  std::string found;
  while (const dirent* e = ::readdir(d)) {
    if (EqualsIgnoringAsciiCase(e->d_name, wanted)) {
      found = slash == std::string::npos ? std::string(e->d_name) : dir + e->d_name;
      break;
    }
  }
  ::closedir(d);
  return found;
}

}  // namespace trundle
