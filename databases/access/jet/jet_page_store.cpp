#include "databases/access/jet/jet_page_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <optional>
#include <random>
#include <unordered_map>
#include <utility>

#include <xxhash.h>
#include <zlib.h>

#include "databases/access/jet/jet_tdef.h"
#include "databases/core/file_io.h"
#include "engine/errors.h"

namespace trundle::jet {
namespace {

// The journal: a 36-byte header, then one record per page, each the page's number, its
// bytes exactly as the database file held them when the batch began (encoded pages stay
// encoded), and a 64-bit sum of the bytes salted with the journal's salt and the number.
//   header: "TrJetJnl", u32 version 1, u32 page size, u64 database length in bytes,
//           u32 salt, u32 CRC-32 of the database's page 0, u32 CRC-32 of the 32 bytes
//           before it
// Page 0 (the header, with the creation date and the key) tells a journal left beside
// another database, which must not be applied to it.
// A record whose checksum fails ends the journal: it was being written when the writer
// died, and the database was not yet touched for it (the journal reaches the disk before
// any page it covers is overwritten). Records of an earlier batch beyond the current
// batch's end were summed with another salt and end it too.
constexpr char kMagic[8] = {'T', 'r', 'J', 'e', 't', 'J', 'n', 'l'};
constexpr uint32_t kJournalVersion = 1;
constexpr size_t kHeaderSize = 36;

// Images equal to the file's kept to read again, as many as a batch holds. A batch of
// rows with scattered index keys changes a page of most leaves; the cache then holds the
// old images the journal takes instead of their being read again.
constexpr size_t kCachedPages = kHeldPages;

// Pages 0 (header), 1 (global usage map) and 2 (MSysObjects) are never free, whatever a
// damaged map says.
constexpr uint32_t kFirstAllocatable = 3;

// Access opens no database larger than 2 GB (Jet 3: 1 GB), 524,288 pages either way; a
// page pointer's three bytes would reach further.
constexpr uint32_t kLargestFilePages = 1u << 19;

// Disk space set aside past the file's end at a time: a file that grows by a few pages a
// batch then needs no new blocks at each flush (with ext4, fewer writes to wait for).
constexpr uint64_t kReservedBytes = 8u << 20;

// CRC-32 (the polynomial of zip and PNG), zlib's: the journal header's sums.
uint32_t Crc32(uint32_t crc, const uint8_t* p, size_t n) {
  return uint32_t(::crc32(crc, p, uInt(n)));
}

void Put64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i));
}
uint64_t Get64(const uint8_t* p) { return Get32(p) | (uint64_t(Get32(p + 4)) << 32); }

// Pages are summed with XXH3 (64 bits): a batch of scattered index keys sums thousands
// of pages twice, old and new, and XXH3 takes a fraction of CRC-32's time.
uint64_t PageSum(const uint8_t* image, size_t size) { return XXH3_64bits(image, size); }

// An old image's sum, salted with the batch's salt and its page number.
uint64_t RecordSum(uint32_t salt, uint32_t page, const uint8_t* image, size_t size) {
  return XXH3_64bits_withSeed(image, size, (uint64_t(salt) << 32) | page);
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// A file's new or removed name lasts a crash only once its folder is flushed.
void SyncFolder(const std::string& path) {
  const std::string folder = FolderOf(path);
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0)
    throw TrundleError("Could not open the folder " + folder + ": " + std::strerror(errno));
  const int rc = ::fsync(fd);
  const int err = errno;
  ::close(fd);
  if (rc != 0 && err != EINVAL)  // some file systems cannot flush folders
    throw TrundleError("Could not flush the folder " + folder + ": " + std::strerror(err));
}

// The first set bit of bits in [from, limit), or limit; whole bytes of used pages are
// passed over at once.
uint64_t FindSetBit(const uint8_t* bits, uint64_t from, uint64_t limit) {
  uint64_t i = from;
  while (i < limit) {
    if (i % 8 == 0 && bits[i / 8] == 0) {
      i += 8;
      continue;
    }
    if ((bits[i / 8] >> (i % 8)) & 1) return i;
    ++i;
  }
  return limit;
}

void RemoveFile(const std::string& path) {
  if (::unlink(path.c_str()) != 0 && errno != ENOENT)
    throw TrundleError("Could not delete " + path + ": " + std::strerror(errno));
}

// The end of a batch's page records, when the batch reached its commit: the database's
// length and a 64-bit sum of each page the batch wrote, as the pages are to stand in the
// file.
// A database found exactly so is the committed batch and keeps its pages.
//   u32 kSealMark, u32 count, u64 length, count x (u32 page, u64 PageSum of its bytes),
//   u64 sum of all that, salted with the journal's salt
// No page record begins with kSealMark (page numbers have three bytes).
constexpr uint32_t kSealMark = 0xFFFFFFFFu;
constexpr size_t kSealHead = 16;
constexpr size_t kSealEntry = 12;

struct Seal {
  uint64_t length = 0;
  std::vector<std::pair<uint32_t, uint64_t>> sums;  // page, PageSum of its bytes
};

// True when the database holds exactly what the seal says: the batch's commit reached it.
// A page cut short by a crash sums differently, but for one chance in 2^64.
bool Matches(RandomAccessFile& db, const Seal& seal, uint32_t page_size) {
  if (db.Size() != seal.length) return false;
  std::vector<uint8_t> page(page_size);
  for (const auto& [number, sum] : seal.sums) {
    if (uint64_t(number + 1) * page_size > seal.length) return false;
    db.ReadExactAt(uint64_t(number) * page_size, page.data(), page_size);
    if (PageSum(page.data(), page_size) != sum) return false;
  }
  return true;
}

// Reads the journal beside a database: checks that it is ours and belongs to this
// database, then calls apply(page, old bytes) for each whole record and returns the
// database's old length. std::nullopt when it holds nothing to put back: its header
// never reached the disk whole (no page was written under it), or the database is as the
// batch's seal says (the batch committed). Throws TrundleError when the journal cannot
// be applied.
template <typename Apply>
std::optional<uint64_t> ReadJournalFile(RandomAccessFile& db, const std::string& journal_path,
                                        const Apply& apply) {
  const std::string refusal = db.path() + " has a journal beside it (" + journal_path +
                              ") that cannot be applied: ";
  RandomAccessFile journal(journal_path, RandomAccessFile::Mode::kRead);
  const uint64_t size = journal.Size();
  uint8_t header[kHeaderSize] = {};
  const size_t got = journal.ReadAt(0, header, kHeaderSize);
  if (std::memcmp(header, kMagic, std::min(got, sizeof kMagic)) != 0)
    throw TrundleError(refusal + "it is not a journal of this program; move it away");
  if (got != kHeaderSize || Crc32(0, header, 32) != Get32(header + 32)) return std::nullopt;
  const uint32_t version = Get32(header + 8);
  const uint32_t page_size = Get32(header + 12);
  const uint64_t length = Get64(header + 16);
  const uint32_t salt = Get32(header + 24);
  if (version != kJournalVersion)
    throw TrundleError(refusal + "it is of version " + std::to_string(version));
  if ((page_size != 2048 && page_size != 4096) || length % page_size != 0)
    throw TrundleError(refusal + "its header is damaged");
  // A batch only adds pages: a database shorter than its journal's old length was cut
  // by something else since.
  if (length > db.Size())
    throw TrundleError(refusal + "the database is shorter than it was when the journal was "
                                 "written");
  // The whole records, up to the one being written when the writer stopped, and the
  // seal after them if the batch reached its commit.
  const size_t record_size = 4 + size_t(page_size) + 8;
  std::vector<uint8_t> record(record_size);
  std::vector<std::pair<uint32_t, uint64_t>> records;  // page, offset of its old bytes
  std::optional<Seal> seal;
  bool holds_first = false;
  for (uint64_t at = kHeaderSize; at + 4 <= size;) {
    uint8_t mark[4];
    journal.ReadExactAt(at, mark, 4);
    if (Get32(mark) == kSealMark) {
      if (at + kSealHead + 8 > size) break;
      uint8_t head[kSealHead];
      journal.ReadExactAt(at, head, kSealHead);
      const uint64_t count = Get32(head + 4);
      if (count > (size - at - kSealHead - 8) / kSealEntry) break;
      std::vector<uint8_t> whole(kSealHead + size_t(count) * kSealEntry + 8);
      journal.ReadExactAt(at, whole.data(), whole.size());
      const size_t summed = whole.size() - 8;
      if (XXH3_64bits_withSeed(whole.data(), summed, salt) != Get64(&whole[summed])) break;
      Seal& found = seal.emplace();
      found.length = Get64(head + 8);
      for (size_t i = 0; i < count; ++i) {
        const uint8_t* entry = &whole[kSealHead + i * kSealEntry];
        found.sums.emplace_back(Get32(entry), Get64(entry + 4));
      }
      break;
    }
    if (at + record_size > size) break;
    journal.ReadExactAt(at, record.data(), record_size);
    const uint32_t page = Get32(record.data());
    if (RecordSum(salt, page, record.data() + 4, page_size) !=
        Get64(record.data() + 4 + page_size))
      break;
    if (uint64_t(page + 1) * page_size > length)
      throw TrundleError(refusal + "it holds page " + std::to_string(page) +
                         ", past the database's old end");
    records.emplace_back(page, at + 4);
    holds_first = holds_first || page == 0;
    at += record_size;
  }
  // Page 0 (the header, with the creation date and the key) tells a journal left beside
  // another database, unless the batch changed it.
  std::vector<uint8_t> first(page_size);
  first.resize(db.ReadAt(0, first.data(), page_size));
  if (!holds_first &&
      (first.size() != page_size || Crc32(0, first.data(), page_size) != Get32(header + 28)))
    throw TrundleError(refusal + "it was written for another database; move it away");
  if (seal && Matches(db, *seal, page_size)) return std::nullopt;
  for (const auto& [page, offset] : records) {
    journal.ReadExactAt(offset, record.data(), page_size);
    apply(page, record.data(), page_size);
  }
  return length;
}

// Puts back the pages a journal holds and the database's length, then deletes the
// journal.
void RecoverJournal(RandomAccessFile& db, const std::string& journal_path) {
  auto put_back = [&](uint32_t page, const uint8_t* old, uint32_t page_size) {
    db.WriteAt(uint64_t(page) * page_size, old, page_size);
  };
  if (const auto length = ReadJournalFile(db, journal_path, put_back)) {
    db.Truncate(*length);
    db.Sync();
  }
  RemoveFile(journal_path);
  SyncFolder(journal_path);
}

// The lock files Access keeps beside a database it has open.
void RefuseForeignLock(const std::string& path) {
  for (const char* ext : {".ldb", ".laccdb"}) {
    const std::string lock = FindSibling(path, ext);
    if (!lock.empty())
      throw TrundleError(path + " is open in another program (its lock file " + lock +
                         " exists); close the database there, or delete the lock file if "
                         "no program has it open");
  }
}

// A descriptor that only holds the advisory lock (flock: tied to this descriptor, so
// closing other descriptors of the file does not drop it).
struct LockHandle {
  int fd = -1;
  LockHandle() = default;
  LockHandle(const LockHandle&) = delete;
  LockHandle& operator=(const LockHandle&) = delete;
  ~LockHandle() {
    if (fd >= 0) ::close(fd);
  }
};

class JetPageStore : public PageStore {
 public:
  explicit JetPageStore(const std::string& path)
      : path_(path),
        journal_path_(path + "-journal"),
        db_(path, RandomAccessFile::Mode::kReadWrite) {
    lock_.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (lock_.fd < 0)
      throw NotOpenedError("Could not open " + path + ": " + std::strerror(errno));
    if (::flock(lock_.fd, LOCK_EX | LOCK_NB) != 0) {
      const int err = errno;
      if (err == EWOULDBLOCK)
        throw NotOpenedError(path + " is being written by another program; try again when it "
                                    "has finished");
      throw TrundleError("Could not lock " + path + ": " + std::strerror(err));
    }
    RefuseForeignLock(path);
    if (PathExists(journal_path_)) RecoverJournal(db_, journal_path_);
    ReadLayout();
    pages_ = std::make_unique<PageFile>(path);
    pages_->SetLayout(format_.page_size, key_);
    pages_->SetPageCount(page_count_);
    pages_->SetOverlay(&dirty_);
    pages_->SetCache(&cached_, kCachedPages);
  }

  ~JetPageStore() override {
    // An abandoned batch is rolled back; after the test hook's simulated crash nothing
    // more may touch the files, as after a real one.
    if (crashed_) return;
    try {
      if (batch_open_) Rollback();
      // The space set aside past the end goes back.
      if (reserved_ != 0) db_.Truncate(uint64_t(page_count_) * uint64_t(format_.page_size));
      // The journal holds nothing to put back now: it goes. Its header is spoilt first,
      // on the disk: should the deletion not outlast a crash, a sealed journal found
      // again after other programs changed the database would take their changes for a
      // batch cut short.
      if (journal_.is_open()) {
        if (header_live_) SpoilJournal();
        journal_.Close();
        RemoveFile(journal_path_);
      }
    } catch (const TrundleError&) {
      // A journal left behind is put back, or found empty, by the next open.
    }
  }

  const std::string& path() const override { return path_; }
  const Format& format() const override { return format_; }
  const PageFile& pages() const override { return *pages_; }
  uint32_t page_count() const override { return page_count_; }

  void Write(uint32_t page, const std::vector<uint8_t>& data) override {
    CheckUsable();
    if (data.size() != size_t(format_.page_size) || page >= page_count_)
      throw TrundleError(path_ + ": page " + std::to_string(page) + " of " +
                         std::to_string(data.size()) + " bytes cannot be written; the file has " +
                         std::to_string(page_count_) + " pages of " +
                         std::to_string(format_.page_size));
    batch_open_ = true;
    dirty_[page] = data;
    if (dirty_.size() >= kHeldPages) Spill();
  }

  uint32_t Allocate() override {
    CheckUsable();
    batch_open_ = true;
    std::vector<uint8_t> map_page;
    pages_->Read(1, map_page);
    RowSpan span;
    const std::string where = path_ + " is damaged: its global usage map";
    if (map_page[0] != kDataPage || !LocateRow(map_page, format_, 0, span, where) ||
        span.deleted || span.end - span.begin < 5)
      throw TrundleError(where + " is missing");
    uint8_t* map = &map_page[size_t(span.begin)];
    const int len = span.end - span.begin;
    if (map[0] == 0) return AllocateInline(map_page, map, len);
    if (map[0] == 1) return AllocateReference(map, len);
    throw TrundleError(where + " is of unknown type " + std::to_string(map[0]));
  }

  void Commit() override {
    CheckUsable();
    if (!batch_open_) return;
    Spill(/*sealing=*/true);
    db_.Sync();  // the commit point
    EndBatch();
  }

  void Rollback() override {
    if (crashed_ || !batch_open_) return;
    dirty_.clear();
    cached_.clear();
    if (journal_end_ != 0) {
      std::vector<uint8_t> image(size_t(format_.page_size));
      for (const auto& [page, offset] : journalled_) {
        journal_.ReadExactAt(offset, image.data(), image.size());
        Emit(page, {image.data()});
      }
      db_.Truncate(uint64_t(batch_pages_) * uint64_t(format_.page_size));
      reserved_ = 0;
      db_.Sync();
      SpoilJournal();
    }
    page_count_ = batch_pages_;
    no_free_below_ = kFirstAllocatable;
    EndBatch();
  }

  void FailAfterWrites(int n) override { fail_after_ = n; }

 private:
  void CheckUsable() const {
    if (crashed_)
      throw TrundleError(path_ + ": the writer stopped at the test hook and can no longer write");
  }

  void ReadLayout() {
    uint8_t h[0x100] = {};
    const uint64_t size = db_.Size();
    static const char kJet[] = "Standard Jet DB";
    static const char kAce[] = "Standard ACE DB";
    if (db_.ReadAt(0, h, sizeof h) < sizeof h || h[0] != 0 ||
        (std::memcmp(h + 4, kJet, 15) != 0 && std::memcmp(h + 4, kAce, 15) != 0))
      throw TrundleError(path_ + " is not an Access database");
    const uint8_t version = h[0x14];
    if (version > 5)
      throw TrundleError(path_ + " is an Access database of an unknown version (" +
                         std::to_string(version) + ")");
    format_ = version == 0 ? Format::Jet3() : Format::Jet4();
    format_.ace = version >= 2;
    Rc4(kHeaderMask, 4, h + 0x18, version == 0 ? 126 : 128);
    key_ = Get32(h + 0x3E);
    // Only Jet 3 and Jet 4 encode pages with the header's key; in an .accdb a key means
    // real encryption.
    if (version >= 2 && key_ != 0)
      throw TrundleError(path_ + " is encrypted with a password; encrypted Access databases "
                                 "cannot be written");
    const uint64_t page_size = uint64_t(format_.page_size);
    if (size % page_size != 0)
      throw TrundleError(path_ + " is damaged: its length is not a whole number of pages");
    if (size / page_size <= kFirstAllocatable || size / page_size > 0xFFFFFFu)
      throw TrundleError(path_ + " is damaged: it has " + std::to_string(size / page_size) +
                         " pages");
    page_count_ = batch_pages_ = uint32_t(size / page_size);
  }

  // A page past the file's end: a zero page until the caller writes it.
  uint32_t Extend() {
    const uint32_t page = page_count_;
    if (page >= kLargestFilePages)
      throw TrundleError(path_ + " has reached the largest size Access allows (" +
                         (format_.page_size == 2048 ? "1 GB" : "2 GB") +
                         "); no more rows fit in it");
    ++page_count_;
    pages_->SetPageCount(page_count_);
    const uint64_t page_size = uint64_t(format_.page_size);
    if (uint64_t(page_count_) * page_size > reserved_) {
      const uint64_t from = std::max(reserved_, uint64_t(page) * page_size);
      db_.Reserve(from, kReservedBytes);
      reserved_ = from + kReservedBytes;
    }
    dirty_[page].assign(size_t(format_.page_size), 0);
    return page;
  }

  // An inline map: a start page and one bit a page (set = free). Pages past the file's
  // end are marked free in the maps Access writes; pages outside the map's window are
  // in use. When the file outgrows the window, the window moves to start at the new page
  // (the pages before it are all in use by then, since free ones are taken first).
  uint32_t AllocateInline(std::vector<uint8_t>& map_page, uint8_t* map, int len) {
    const uint32_t start = Get32(map + 1);
    const uint64_t bits = uint64_t(len - 5) * 8;
    uint8_t* bitmap = map + 5;
    const uint64_t from = no_free_below_ > start ? no_free_below_ - start : 0;
    const uint64_t limit = std::min<uint64_t>(bits, page_count_ > start ? page_count_ - start : 0);
    if (const uint64_t i = FindSetBit(bitmap, from, limit); i < limit) {
      bitmap[i / 8] = uint8_t(bitmap[i / 8] & ~(1 << (i % 8)));
      Write(1, map_page);
      no_free_below_ = uint32_t(start + i + 1);
      return uint32_t(start + i);
    }
    const uint32_t page = Extend();
    no_free_below_ = page_count_;
    if (page >= start && page - uint64_t(start) < bits) {
      const uint64_t i = page - start;
      bitmap[i / 8] = uint8_t(bitmap[i / 8] & ~(1 << (i % 8)));
    } else if (page >= start) {
      Put32(map + 1, page);
      std::fill(bitmap, bitmap + (len - 5), uint8_t(0xFF));
      bitmap[0] = 0xFE;
    }
    Write(1, map_page);
    return page;
  }

  // A reference map: pointers to pages of type 0x05, each a bitmap of the pages that
  // follow from its place in the list. A new page beyond every bitmap stays unmarked,
  // which reads as in use.
  uint32_t AllocateReference(const uint8_t* map, int len) {
    const uint64_t per_page = uint64_t(format_.page_size - 4) * 8;
    std::vector<uint8_t> bitmap;
    auto load = [&](int index) -> uint32_t {
      const uint32_t map_page = Get32(map + 1 + 4 * index);
      if (map_page == 0) return 0;
      if (map_page >= page_count_)
        throw TrundleError(path_ + " is damaged: its global usage map refers to page " +
                           std::to_string(map_page) + ", outside the file");
      pages_->Read(map_page, bitmap);
      if (bitmap[0] != kUsageMapPage)
        throw TrundleError(path_ + " is damaged: its global usage map refers to page " +
                           std::to_string(map_page) + ", which is not a usage map");
      return map_page;
    };
    const int pointers = (len - 1) / 4;
    for (int index = 0; index < pointers; ++index) {
      const uint64_t first = uint64_t(index) * per_page;
      if (first >= page_count_) break;
      if (first + per_page <= no_free_below_) continue;
      const uint32_t map_page = load(index);
      if (map_page == 0) continue;
      const uint64_t from = no_free_below_ > first ? no_free_below_ - first : 0;
      const uint64_t limit = std::min<uint64_t>(per_page, page_count_ - first);
      if (const uint64_t i = FindSetBit(&bitmap[4], from, limit); i < limit) {
        bitmap[size_t(4 + i / 8)] = uint8_t(bitmap[size_t(4 + i / 8)] & ~(1 << (i % 8)));
        Write(map_page, bitmap);
        no_free_below_ = uint32_t(first + i + 1);
        return uint32_t(first + i);
      }
    }
    const uint32_t page = Extend();
    no_free_below_ = page_count_;
    const uint64_t index = page / per_page;
    if (index < uint64_t(pointers)) {
      if (const uint32_t map_page = load(int(index)); map_page != 0) {
        const uint64_t i = page % per_page;
        bitmap[size_t(4 + i / 8)] = uint8_t(bitmap[size_t(4 + i / 8)] & ~(1 << (i % 8)));
        Write(map_page, bitmap);
      }
    }
    return page;
  }

  // Journals the old images of the held pages that existed when the batch began, flushes
  // the journal, then writes the held pages to the database. Sealing (at the commit),
  // the journal also gets the batch's seal, in the same write and flush.
  void Spill(bool sealing = false) {
    if (dirty_.empty() && !(sealing && journal_end_ != 0)) return;
    std::vector<uint32_t> order;
    order.reserve(dirty_.size());
    for (const auto& entry : dirty_) order.push_back(entry.first);
    std::sort(order.begin(), order.end());

    const size_t page_size = size_t(format_.page_size);
    const bool created = !journal_.is_open();
    if (created) journal_ = RandomAccessFile(journal_path_, RandomAccessFile::Mode::kCreateNew);
    if (journal_end_ == 0) {  // the batch's first records: a header of its own
      const uint32_t last_salt = salt_;
      do salt_ = uint32_t(salts_());
      while (salt_ == last_salt);
      uint8_t header[kHeaderSize] = {};
      std::memcpy(header, kMagic, sizeof kMagic);
      Put32(header + 8, kJournalVersion);
      Put32(header + 12, uint32_t(page_size));
      Put64(header + 16, uint64_t(batch_pages_) * page_size);
      Put32(header + 24, salt_);
      std::vector<uint8_t> first(page_size);
      db_.ReadExactAt(0, first.data(), page_size);
      Put32(header + 28, Crc32(0, first.data(), page_size));
      header_crc_ = Crc32(0, header, 32);
      header_live_ = true;
      Put32(header + 32, header_crc_);
      // A header that fails to go out whole does not check out: nothing is put back by it.
      journal_.WriteAt(0, header, kHeaderSize);
      journal_end_ = kHeaderSize;
    }
    // The pages as they are to stand in the file: an encoded database's are encoded.
    std::vector<std::vector<uint8_t>> coded;
    std::vector<const uint8_t*> images;
    images.reserve(order.size());
    if (key_ != 0) coded.reserve(order.size());
    for (uint32_t page : order) {
      const std::vector<uint8_t>& plain = dirty_[page];
      if (key_ != 0 && page != 0) {
        std::vector<uint8_t>& out = coded.emplace_back(plain);
        ApplyPageKey(key_, page, out.data(), out.size());
        images.push_back(out.data());
      } else {
        images.push_back(plain.data());
      }
      sums_[page] = PageSum(images.back(), page_size);
    }
    // The records go out in one write, built in a buffer kept between batches (a batch
    // of scattered index keys journals megabytes).
    std::vector<uint8_t>& records = records_;
    records.clear();
    std::vector<std::pair<uint32_t, uint64_t>> added;  // page, its old image's offset
    for (uint32_t page : order) {
      if (page >= batch_pages_ || journalled_.count(page) != 0) continue;
      const size_t at = records.size();
      records.resize(at + 4 + page_size + 8);
      uint8_t* record = &records[at];
      Put32(record, page);
      // The cache holds plain images: those of an encoded database's pages are read again.
      const auto cached = key_ == 0 ? cached_.find(page) : cached_.end();
      if (cached != cached_.end())
        std::memcpy(record + 4, cached->second.data(), page_size);
      else
        db_.ReadExactAt(uint64_t(page) * page_size, record + 4, page_size);
      Put64(record + 4 + page_size, RecordSum(salt_, page, record + 4, page_size));
      added.emplace_back(page, journal_end_ + at + 4);
    }
    if (sealing) {
      const size_t at = records.size();
      records.resize(at + kSealHead + kSealEntry * sums_.size() + 8);
      uint8_t* seal = &records[at];
      Put32(seal, kSealMark);
      Put32(seal + 4, uint32_t(sums_.size()));
      Put64(seal + 8, uint64_t(page_count_) * page_size);
      uint8_t* entry = seal + kSealHead;
      for (const auto& [page, sum] : sums_) {
        Put32(entry, page);
        Put64(entry + 4, sum);
        entry += kSealEntry;
      }
      Put64(entry, XXH3_64bits_withSeed(seal, size_t(entry - seal), salt_));
    }
    if (!records.empty()) journal_.WriteAt(journal_end_, records.data(), records.size());
    journal_.Sync();
    if (created) SyncFolder(journal_path_);
    // Only images that reached the disk count: a failed journal write leaves the
    // database untouched, and Rollback then has nothing of them to put back.
    journal_end_ += records.size();
    journalled_.insert(added.begin(), added.end());

    // Until the images are written, the cache may hold their old ones: a failed write
    // must not leave those to be read as the file's.
    for (uint32_t page : order) cached_.erase(page);
    // Neighbouring pages go out together: index pages, taken from the store in runs as
    // their indexes grow, mostly have neighbours in the batch.
    std::vector<const uint8_t*> run;
    for (size_t i = 0; i < order.size(); ++i) {
      const uint32_t page = order[i];
      run.push_back(images[i]);
      if (i + 1 == order.size() || order[i + 1] != page + 1) {
        Emit(page + 1 - uint32_t(run.size()), run);
        run.clear();
      }
    }
    // The pages a batch writes (usage maps, the table's definition and last data page)
    // are mostly read again by the next: keep the images the file now holds.
    if (cached_.size() + dirty_.size() > kCachedPages)
      TrimPages(cached_, kCachedPages / 4 * 3 - std::min(kCachedPages / 4 * 3, dirty_.size()));
    for (auto& [page, image] : dirty_) cached_[page] = std::move(image);
    dirty_.clear();
  }

  // The batch's journal no longer checks out, on the disk: it puts nothing back.
  void SpoilJournal() {
    uint8_t spoilt[4];
    Put32(spoilt, ~header_crc_);
    journal_.WriteAt(32, spoilt, sizeof spoilt);
    journal_.Sync();
    header_live_ = false;
  }

  // Every page write to the database file passes here, for the test hook: images of
  // the pages from first on.
  void Emit(uint32_t first, const std::vector<const uint8_t*>& images) {
    const size_t page_size = size_t(format_.page_size);
    std::vector<std::string_view> pieces;
    for (const uint8_t* image : images) {
      if (fail_after_ == 0) {
        db_.WriteAt(uint64_t(first) * page_size, pieces);
        crashed_ = true;
        throw TrundleError(path_ + ": stopped by the test hook before a page write");
      }
      if (fail_after_ > 0) --fail_after_;
      pieces.emplace_back(reinterpret_cast<const char*>(image), page_size);
    }
    db_.WriteAt(uint64_t(first) * page_size, pieces);
  }

  void EndBatch() {
    batch_open_ = false;
    journalled_.clear();
    sums_.clear();
    journal_end_ = 0;
    batch_pages_ = page_count_;
    pages_->SetPageCount(page_count_);
  }

  std::string path_;
  std::string journal_path_;
  RandomAccessFile db_;       // the database, read and written
  RandomAccessFile journal_;  // once a batch wrote pages, open until the store closes
  LockHandle lock_;           // held while the store lives
  Format format_;
  uint32_t key_ = 0;  // the page-encoding key; 0 when pages are plain
  std::unique_ptr<PageFile> pages_;
  PageFile::Overlay dirty_;                         // plain images not yet written out
  PageFile::Overlay cached_;  // plain images equal to the file's, to read again
  std::unordered_map<uint32_t, uint64_t> journalled_;  // page -> its old image's offset
  std::map<uint32_t, uint64_t> sums_;  // page -> PageSum of what the batch wrote to it
  uint32_t page_count_ = 0;
  uint32_t batch_pages_ = 0;  // the page count when the batch began
  // Pages below this one are all in use (pages are never freed here), so the global map
  // is searched from it: a map that fills up is not read from its start each time.
  uint32_t no_free_below_ = kFirstAllocatable;
  uint64_t journal_end_ = 0;  // 0 until the open batch wrote its header
  uint64_t reserved_ = 0;     // the file's disk space reaches this far (0: none set aside)
  uint32_t header_crc_ = 0;   // the batch's header checksum
  bool header_live_ = false;  // the file's header checks out: written and not spoilt
  // Each batch's salt differs from the last, so that records of an earlier batch left
  // further in the file do not pass for the current batch's.
  std::mt19937 salts_{std::random_device()()};
  std::vector<uint8_t> records_;  // journal records on their way out
  uint32_t salt_ = 0;
  bool batch_open_ = false;
  bool crashed_ = false;
  int fail_after_ = -1;
};

}  // namespace

bool SettleJournal(const std::string& path) {
  const std::string journal_path = path + "-journal";
  if (!PathExists(journal_path)) return false;
  LockHandle lock;
  lock.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  // A writer at work holds the lock, and its journal is its own.
  if (lock.fd < 0 || ::flock(lock.fd, LOCK_EX | LOCK_NB) != 0) return false;
  try {
    RefuseForeignLock(path);
    RandomAccessFile db(path, RandomAccessFile::Mode::kReadWrite);
    RecoverJournal(db, journal_path);
  } catch (const TrundleError&) {
    // Held by Access, read-only, or a journal that cannot be applied: the journal stays
    // for a writer to report, and readers read through it.
    return false;
  }
  return true;
}

bool ReadJournal(const std::string& path, uint32_t key, PageFile::Overlay& pages,
                 uint64_t& length) {
  const std::string journal_path = path + "-journal";
  if (!PathExists(journal_path)) return false;
  RandomAccessFile db(path, RandomAccessFile::Mode::kRead);
  PageFile::Overlay old_pages;
  auto keep = [&](uint32_t page, const uint8_t* old, uint32_t page_size) {
    std::vector<uint8_t>& plain = old_pages[page];
    plain.assign(old, old + page_size);
    ApplyPageKey(key, page, plain.data(), plain.size());
  };
  const auto old_length = ReadJournalFile(db, journal_path, keep);
  if (!old_length) return false;
  pages = std::move(old_pages);
  length = *old_length;
  return true;
}

void PageStore::CommitOrRollBack(const std::function<void()>& change) {
  try {
    change();
    Commit();
  } catch (...) {
    // The cause is what the caller needs, not the rollback's own failure.
    try {
      Rollback();
    } catch (const TrundleError&) {
    }
    throw;
  }
}

std::unique_ptr<PageStore> PageStore::Open(const std::string& path) {
  return std::make_unique<JetPageStore>(path);
}

}  // namespace trundle::jet
