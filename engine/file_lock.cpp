#include "engine/file_lock.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>

namespace trundle {

BeingWrittenError::BeingWrittenError(const std::string& path)
    : NotOpenedError(path +
                     " is being written by another program; try again when it has "
                     "finished") {}

bool TryLockForWriting(int fd, const std::string& path) {
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;  // l_start 0 and l_len 0: the whole file, however it grows
  int command = F_OFD_SETLK;
  while (::fcntl(fd, command, &lock) != 0) {
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EACCES) return false;
    // A kernel older than 3.15 has no locks on the open file. The process's own still
    // keep other programs out, though less surely: closing any descriptor of the file
    // in this process (a reader's) lets go of them.
    if (errno == EINVAL && command == F_OFD_SETLK) {
      command = F_SETLK;
      continue;
    }
    throw TrundleError("Could not lock " + path + ": " + std::strerror(errno));
  }
  return true;
}

void LockForWriting(int fd, const std::string& path) {
  if (!TryLockForWriting(fd, path)) throw BeingWrittenError(path);
}

}  // namespace trundle
