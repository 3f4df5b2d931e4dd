#include "databases/dbase/dbase_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "engine/errors.h"

namespace trundle::dbase {
namespace {

[[noreturn]] void Fail(const std::string& what, const std::string& path) {
  throw TrundleError(what + " " + path + ": " + std::strerror(errno));
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

}  // namespace

PosixFile PosixFile::OpenRead(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) Fail("Cannot open", path);
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    throw TrundleError("Cannot open " + path + ": it is not a regular file");
  }
  return PosixFile(fd, path);
}

PosixFile PosixFile::OpenReadWrite(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) Fail("Cannot open", path);
  return PosixFile(fd, path);
}

PosixFile PosixFile::CreateNew(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (errno == EEXIST) throw TrundleError(path + " already exists");
    Fail("Cannot create", path);
  }
  return PosixFile(fd, path);
}

PosixFile::PosixFile(PosixFile&& other) noexcept : fd_(other.fd_), path_(std::move(other.path_)) {
  other.fd_ = -1;
}

PosixFile& PosixFile::operator=(PosixFile&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    path_ = std::move(other.path_);
    other.fd_ = -1;
  }
  return *this;
}

PosixFile::~PosixFile() {
  if (fd_ >= 0) ::close(fd_);
}

uint64_t PosixFile::Size() const {
  struct stat st;
  if (::fstat(fd_, &st) != 0) Fail("Cannot read the size of", path_);
  return static_cast<uint64_t>(st.st_size);
}

size_t PosixFile::ReadAt(uint64_t offset, char* data, size_t size) const {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pread(fd_, data + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail("Cannot read", path_);
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

void PosixFile::WriteAt(uint64_t offset, std::string_view data) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n =
        ::pwrite(fd_, data.data() + done, data.size() - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail("Cannot write", path_);
    }
    done += static_cast<size_t>(n);
  }
}

void PosixFile::Truncate(uint64_t size) {
  if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) Fail("Cannot resize", path_);
}

void PosixFile::Sync() {
  if (::fsync(fd_) != 0) Fail("Cannot save", path_);
}

void PosixFile::Close() {
  if (fd_ < 0) return;
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) Fail("Cannot close", path_);
}

std::string SiblingPath(const std::string& table_path, std::string_view extension) {
  const size_t slash = table_path.find_last_of('/');
  const size_t dot = table_path.find_last_of('.');
  const bool has_ext = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  std::string out = has_ext ? table_path.substr(0, dot) : table_path;
  bool upper = false;
  if (has_ext) {
    upper = true;
    for (size_t i = dot + 1; i < table_path.size(); ++i)
      if (table_path[i] >= 'a' && table_path[i] <= 'z') upper = false;
  }
  for (char c : extension) out += upper && c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
  return out;
}

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

std::string FindSibling(const std::string& table_path, std::string_view extension) {
  const std::string exact = SiblingPath(table_path, extension);
  if (FileExists(exact)) return exact;
  const size_t slash = exact.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "." : exact.substr(0, slash + 1);
  const std::string wanted = slash == std::string::npos ? exact : exact.substr(slash + 1);
  DIR* d = ::opendir(dir.c_str());
  if (!d) return {};
  std::string found;
  while (const dirent* e = ::readdir(d)) {
    if (EqualNoCase(e->d_name, wanted)) {
      found = slash == std::string::npos ? std::string(e->d_name) : dir + e->d_name;
      break;
    }
  }
  ::closedir(d);
  return found;
}

}  // namespace trundle::dbase
