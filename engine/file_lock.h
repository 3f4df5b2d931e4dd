// Advisory write locks that keep two runs from writing one file at once. The dBase and
// Paradox writers hold one on the table and on its memo file, a text destination on its
// temporary file, from opening to closing. Readers take none and are never held up.
//
//   const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
//   LockForWriting(fd, path);  // throws BeingWrittenError while another run writes it
//   ...                        // the lock goes with the descriptor's close
//
// The lock is fcntl's, which Linux also passes on to an NFS server, taken on the open file
// (F_OFD_SETLK) rather than on the process: closing another descriptor of the same file,
// as a reader of the table does while its writer is open, keeps it; a second open of the
// file in the same process is refused as another program's would be; and it goes with
// the last descriptor of that open, also when the program is killed. So a lock that can
// be taken tells that no live run holds the file.
#pragma once

#include <string>

#include "engine/errors.h"

namespace trundle {

// Another run holds the file, so this one never opened it. what(): "PATH is being written
// by another program; try again when it has finished", as the Access writer says.
class BeingWrittenError : public NotOpenedError {
 public:
  explicit BeingWrittenError(const std::string& path);
};

// Takes the write lock on the whole of the file open as fd (which must be open for
// writing). Returns false when another open of the file holds a lock on it, in this
// process or another; throws TrundleError "Could not lock PATH: REASON" when the system
// cannot lock the file at all. path only names the file in the message.
bool TryLockForWriting(int fd, const std::string& path);

// As TryLockForWriting, throwing BeingWrittenError(path) when another open holds it.
void LockForWriting(int fd, const std::string& path);

}  // namespace trundle
