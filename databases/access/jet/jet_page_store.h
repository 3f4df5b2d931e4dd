// A Jet database opened for writing: pages written in batches under a rollback journal.
//
// Before a batch first overwrites a page that existed when the batch began, the page's
// old image goes to "<database>-journal" (with a checksum), and the journal reaches the
// disk before the page is overwritten. At Commit the journal also gets the batch's seal:
// the database's new length and a checksum of every page the batch wrote. It reaches
// the disk with the last records, before the last pages are written; the database's
// flush after them is the commit point, two flushes a batch in all. Opening a database
// that has a journal beside it puts the journalled pages back (a journal cut short by a
// crash is ignored, since the database was not yet touched for its last page), unless
// the database is exactly as the seal says: the batch committed. So a crash at any
// moment leaves the database as it was before the open batch or after it. The journal
// file stays for the next batch (which writes a header of its own, with a new salt) and
// is spoilt and deleted when the store closes.
//
// While a PageStore is open it holds an advisory lock on the database; a database that
// another program holds (an .ldb / .laccdb lock file beside it, or a lock of ours) is
// refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "databases/access/jet/jet_pages.h"

namespace trundle::jet {

// Pages a batch holds in memory; past them, it writes the held pages out under the
// journal and goes on (16 MB of Jet 4 pages).
inline constexpr size_t kHeldPages = 4096;

class PageStore {
 public:
  // Throws TrundleError naming the file and the cause: missing, not a Jet database,
  // held by another program, read-only, a journal that cannot be applied.
  static std::unique_ptr<PageStore> Open(const std::string& path);
  virtual ~PageStore() = default;

  virtual const std::string& path() const = 0;
  virtual const Format& format() const = 0;
  // The file read page by page; reads see every write made so far, the open batch's
  // included, and pages allocated in it.
  virtual const PageFile& pages() const = 0;
  virtual uint32_t page_count() const = 0;

  // Replaces a whole page (format().page_size plain bytes; encoded on the way out when
  // the database is encoded). Opens a batch when none is open.
  virtual void Write(uint32_t page, const std::vector<uint8_t>& data) = 0;
  // A page for new use, taken from the global usage map's free pages or added at the
  // file's end, and marked used in the global map in the same batch. Its content is
  // undefined until written.
  virtual uint32_t Allocate() = 0;

  // The commit point of the open batch (a no-op with none open).
  virtual void Commit() = 0;
  // Puts back every page the open batch changed and the file's length.
  virtual void Rollback() = 0;
  // Runs change, a batch of writes, and commits it; when change or the commit throws,
  // rolls the batch back and rethrows the cause. A rollback that fails as well is not
  // told: it leaves the journal, which the next open of the database puts back.
  void CommitOrRollBack(const std::function<void()>& change);

  // Test hook: after n more page writes to the database file, the next one throws (the
  // journal and the file stay as a crash would leave them). Negative: never.
  virtual void FailAfterWrites(int n) = 0;
};

// Finishes or undoes, as its journal says, the batch a writer stopped in the middle of
// (the journal beside the database at path), and deletes the journal: what a writer's
// open does, for readers, which open a database that others may write. Returns false,
// changing nothing, when there is no journal, a writer holds the database (its journal
// is its own), Access has it open, the file cannot be written, or the journal cannot be
// applied; readers then read through ReadJournal.
bool SettleJournal(const std::string& path);

// What the journal beside the database at path puts back: the old images of its pages
// (plain: decoded with key, the header's page-encoding key, 0 when pages are plain) and
// the database's length before the batch. For readers, which thereby see the database as
// the next writer to open it will leave it. Returns false when there is no journal, or
// one whose header never reached the disk (no page was written under it). Throws
// TrundleError, as Open does, for a journal that cannot be applied.
bool ReadJournal(const std::string& path, uint32_t key, PageFile::Overlay& pages,
                 uint64_t& length);

}  // namespace trundle::jet
