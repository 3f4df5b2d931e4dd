#include "databases/paradox/px_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "engine/errors.h"

namespace trundle::paradox {
namespace {

[[noreturn]] void Fail(const std::string& what, const std::string& path) {
  throw TrundleError("Could not " + what + " " + path + ": " + std::strerror(errno));
}

}  // namespace

PxFile::PxFile(const std::string& path, Mode mode) : path_(path) {
  int flags = O_CLOEXEC;
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
  fd_ = ::open(path.c_str(), flags, 0666);
  if (fd_ < 0) {
    if (mode == Mode::kCreateNew && errno == EEXIST)
      throw TrundleError("Could not create " + path + ": the file already exists");
    Fail(mode == Mode::kCreateNew ? "create" : "open", path);
  }
  struct stat st;
  if (::fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    throw TrundleError("Could not open " + path + ": it is a folder");
  }
}

PxFile::~PxFile() {
  if (fd_ >= 0) ::close(fd_);
}

int64_t PxFile::Size() const {
  struct stat st;
  if (::fstat(fd_, &st) != 0) Fail("read the size of", path_);
  return st.st_size;
}

size_t PxFile::ReadAt(int64_t offset, void* buffer, size_t size) const {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pread(fd_, static_cast<char*>(buffer) + done, size - done,
                              static_cast<off_t>(offset + static_cast<int64_t>(done)));
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail("read", path_);
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

void PxFile::WriteAt(int64_t offset, const void* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pwrite(fd_, static_cast<const char*>(data) + done, size - done,
                               static_cast<off_t>(offset + static_cast<int64_t>(done)));
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail("write to", path_);
    }
    done += static_cast<size_t>(n);
  }
}

void PxFile::Sync() {
  if (fd_ >= 0 && ::fsync(fd_) != 0) Fail("save", path_);
}

void PxFile::Close() {
  if (fd_ < 0) return;
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) Fail("close", path_);
}

bool PathExists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace trundle::paradox
