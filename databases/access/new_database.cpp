#include "databases/access/new_database.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "databases/access/jet/jet_database.h"
#include "engine/errors.h"

namespace trundle {

// Defined in the source generated from resources/empty2000.mdb.
extern const unsigned char kEmptyJet4Database[];
extern const size_t kEmptyJet4Database_size;

namespace {

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string Failure(const std::string& path, int error) {
  return "Could not create the database " + path + ": " + std::strerror(error);
}

// Gives temp the name path unless something has it. 0, or the errno of the failure.
int MoveIntoPlaceUnlessTaken(const std::string& temp, const std::string& path) {
  if (renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // A file system that cannot rename so: a hard link fails as well when the name is taken.
  if (link(temp.c_str(), path.c_str()) != 0) return errno;
  unlink(temp.c_str());
  return 0;
}

}  // namespace

std::string_view EmptyAccessDatabase() {
  return {reinterpret_cast<const char*>(kEmptyJet4Database), kEmptyJet4Database_size};
}

NewDatabaseFile CreateAccessDatabase(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0)
    throw TrundleError("Could not create the database " + path + ": the file exists already");
  // A journal left by a crashed run on an earlier database of this name would be put back
  // into the new one at its first write: every new database starts as the same bytes, so
  // the journal could not tell it from the one it was written for.
  const std::string journal = path + "-journal";
  if (lstat(journal.c_str(), &st) == 0)
    throw TrundleError("Could not create the database " + path + ": " + journal +
                       " lies beside it, left by a run on an earlier database of that name; "
                       "move it away or delete it first");
  const std::string folder = FolderOf(path);
  std::string temp = folder + "/.trundle-new-database.XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) throw TrundleError(Failure(path, errno));
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  // The inode keeps through the rename: it tells this file from any other given its name.
  struct stat made {};
  int error = fstat(fd, &made) != 0 ? errno : 0;
  const std::string_view bytes = EmptyAccessDatabase();
  for (size_t done = 0; done < bytes.size() && error == 0;) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno != EINTR) error = errno;
    if (n > 0) done += static_cast<size_t>(n);
  }
  if (error == 0 && fsync(fd) != 0) error = errno;
  if (close(fd) != 0 && error == 0) error = errno;
  if (error == 0) error = MoveIntoPlaceUnlessTaken(temp, path);
  if (error != 0) {
    unlink(temp.c_str());
    if (error == EEXIST)
      throw TrundleError("Could not create the database " + path + ": the file exists already");
    throw TrundleError(Failure(path, error));
  }
  // The new name reaches the disk with its folder.
  const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return {path, static_cast<uint64_t>(made.st_dev), static_cast<uint64_t>(made.st_ino)};
}

bool RemoveIfNoTables(const NewDatabaseFile& made) {
  struct stat st {};
  if (made.path.empty() || lstat(made.path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<uint64_t>(st.st_dev) != made.device ||
      static_cast<uint64_t>(st.st_ino) != made.inode)
    return false;
  // A journal holds pages of an unfinished batch, which the next writer puts back; the
  // database is not judged without them.
  if (lstat((made.path + "-journal").c_str(), &st) == 0 || errno != ENOENT) return false;
  try {
    if (!jet::JetDatabase::Open(made.path)->UserTables().empty()) return false;
  } catch (const std::exception&) {
    return false;
  }
  return unlink(made.path.c_str()) == 0;
}

}  // namespace trundle
