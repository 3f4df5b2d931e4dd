#include "databases/access/jet/jet_index_writer.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "databases/access/jet/jet_key_run.h"
#include "databases/access/jet/jet_page_store.h"
#include "databases/access/jet/jet_table_writer.h"
#include "engine/errors.h"

namespace trundle::jet {
namespace {

constexpr uint8_t kIndexNode = 0x03;
constexpr uint8_t kIndexLeaf = 0x04;
constexpr size_t kPointerSize = 4;  // row pointer: 3-byte page and 1-byte row, big-endian
constexpr size_t kChildSize = 4;    // child page of an intermediate entry, big-endian
constexpr size_t kMaxDepth = 32;    // far beyond what a 2 GB file can hold
// Pages kept decoded between batches (a decoded Jet 4 leaf takes some 6 KB); the last
// root-to-leaf path always stays. Keys arriving scattered reach most leaves in every
// batch, so an index of up to some two million short keys is not read and decoded again
// each batch.
constexpr size_t kCachedPages = 8192;
// A page no insert or search has reached for this many batches is let go when the
// batch is written: keys arriving in order never return to the leaves they have filled,
// while scattered keys reach a leaf of even a large index within a few batches.
constexpr uint64_t kIdleBatches = 32;

// The index page header, as Access writes it (checked on the fixtures' leaf and
// intermediate pages, Jet 3 and Jet 4): prev/next/tail are 4-byte page numbers; the shared
// prefix length takes 2 bytes in Jet 4 and 1 in Jet 3; the byte before the entry mask is 1
// on intermediate pages and 0 on leaves.
struct PageLayout {
  int prev, next, tail, prefix, node_flag, mask, entries;
  size_t prefix_limit;  // the longest shared prefix the length field holds
  size_t capacity;      // entry bytes a page holds: room after the mask, and what the mask marks
};

PageLayout LayoutOf(const Format& format) {
  PageLayout l = format.jet3 ? PageLayout{0x08, 0x0C, 0x10, 0x14, 0x15, 0x16, 0xF8, 0xFF, 0}
                             : PageLayout{0x0C, 0x10, 0x14, 0x18, 0x1A, 0x1B, 0x1E0, 0xFFFF, 0};
  l.capacity = size_t(std::min(format.page_size - l.entries, (l.entries - l.mask) * 8 - 1));
  return l;
}

uint32_t GetBE32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
void AppendBE32(std::string& out, uint32_t v) {
  const char be[4] = {char(uint8_t(v >> 24)), char(uint8_t(v >> 16)), char(uint8_t(v >> 8)),
                      char(uint8_t(v))};
  out.append(be, 4);
}

// Copies n bytes in words of 8, 4, 2 and 1.
void CopySmall(uint8_t* to, const uint8_t* from, size_t n) {
  for (; n >= 8; n -= 8, to += 8, from += 8) std::memcpy(to, from, 8);
  if (n & 4) std::memcpy(to, from, 4), to += 4, from += 4;
  if (n & 2) std::memcpy(to, from, 2), to += 2, from += 2;
  if (n & 1) *to = *from;
}

// What an index is searched for: a key and a row pointer (equal keys are kept in the
// order of their rows' pointers).
struct Target {
  const uint8_t* key;
  size_t size;
  uint32_t pointer;
};

// One index page, decoded: its entries in full (the shared prefix put back), back to back.
// A leaf entry is key + row pointer, an intermediate one key + row pointer + child page,
// where key and row pointer are those of the last entry under the child. An intermediate
// page with more than one child keeps its last child in the header's tail field instead
// of an entry, so that entries appended at the end of the index change no parent.
struct Page {
  uint32_t number = 0;
  bool leaf = true;
  uint32_t prev = 0, next = 0, tail = 0;
  std::string bytes;
  std::vector<uint32_t> ends;  // where each entry ends in bytes
  bool dirty = false;
  size_t prefix_limit = 0;  // the format's longest shared prefix
  uint64_t used = 0;        // the batch in which the page was last reached

  size_t size() const { return ends.size(); }
  size_t trailer() const { return leaf ? kPointerSize : kPointerSize + kChildSize; }
  size_t begin(size_t i) const { return i ? ends[i - 1] : 0; }
  const uint8_t* entry(size_t i) const {
    return reinterpret_cast<const uint8_t*>(bytes.data()) + begin(i);
  }
  size_t entry_size(size_t i) const { return ends[i] - begin(i); }
  size_t key_size(size_t i) const { return entry_size(i) - trailer(); }
  uint32_t pointer(size_t i) const { return GetBE32(entry(i) + key_size(i)); }
  uint32_t child(size_t i) const { return GetBE32(entry(i) + key_size(i) + kPointerSize); }

  int Compare(size_t i, const Target& t) const {
    const int c = CompareKeys(entry(i), key_size(i), t.key, t.size);
    if (c != 0) return c;
    const uint32_t p = pointer(i);
    return p < t.pointer ? -1 : p > t.pointer ? 1 : 0;
  }
  bool KeyIs(size_t i, const Target& t) const {
    return CompareKeys(entry(i), key_size(i), t.key, t.size) == 0;
  }
  // The first entry not below t.
  size_t LowerBound(const Target& t) const {
    size_t lo = 0, hi = size();
    while (lo < hi) {
      const size_t mid = (lo + hi) / 2;
      if (Compare(mid, t) < 0)
        lo = mid + 1;
      else
        hi = mid;
    }
    return lo;
  }
  // Key and row pointer of entry i: what a parent's entry for a page ending here holds.
  std::string KeyAndPointer(size_t i) const {
    return std::string(bytes, begin(i), key_size(i) + kPointerSize);
  }

  // The prefix every entry shares with the first: as entries are in order, the one the
  // first and last keys share (limited to the keys, so every entry keeps its pointers).
  size_t Prefix() const {
    if (size() < 2) return 0;
    const uint8_t* a = entry(0);
    const uint8_t* b = entry(size() - 1);
    const size_t n = std::min({key_size(0), key_size(size() - 1), prefix_limit});
    size_t k = 0;
    while (k < n && a[k] == b[k]) ++k;
    return k;
  }
  // Entry bytes as the page stores them.
  size_t Stored() const { return size() ? bytes.size() - (size() - 1) * Prefix() : 0; }

  void Insert(size_t i, const std::string& full) {
    if (i == size()) {  // keys arriving in order: nothing moves
      bytes += full;
      ends.push_back(uint32_t(bytes.size()));
      return;
    }
    bytes.insert(begin(i), full);
    ends.insert(ends.begin() + std::ptrdiff_t(i), uint32_t(begin(i)));
    for (size_t j = i; j < ends.size(); ++j) ends[j] += uint32_t(full.size());
  }
  void SetChild(size_t i, uint32_t page) {
    std::string be;
    AppendBE32(be, page);
    bytes.replace(ends[i] - kChildSize, kChildSize, be);
  }
  // Moves entries [from, size()) to the end of other.
  void MoveTo(size_t from, Page& other) {
    for (size_t i = from; i < size(); ++i) {
      other.bytes.append(bytes, begin(i), entry_size(i));
      other.ends.push_back(uint32_t(other.bytes.size()));
    }
    Truncate(from);
  }
  void Truncate(size_t count) {
    bytes.resize(begin(count));
    ends.resize(count);
  }
};

}  // namespace

struct IndexWriter::Impl {
  Impl(PageStore& s, const TableDef& def, const PhysicalIndex& index, std::string w)
      : store(s),
        layout(LayoutOf(s.format())),
        owner(def.page),
        root(index.first_page),
        unique(index.flags & kIndexUnique),
        where(std::move(w)),
        map(s, index.map, where) {
    size_t number = 0;
    while (number < def.indexes.size() && def.indexes[number].first_page != index.first_page)
      ++number;
    name = std::to_string(number).insert(size_t(0), size_t(1), '#');  // no logical index's
    for (const LogicalIndex& logical : def.logical_indexes)
      if (size_t(logical.physical) == number) {
        name = logical.name;
        break;
      }
    refusal = store.path() + ": table " + def.name + ": index " + name;
    // A page must hold four entries, so that any page splits into two that fit.
    max_key = layout.capacity / 4 - kPointerSize - kChildSize;
  }

  [[noreturn]] void Damaged(uint32_t page, const std::string& cause) const {
    throw TrundleError(where + ": index " + name + ": page " + std::to_string(page) + " " + cause);
  }
  Page& Load(uint32_t number);
  // Marks a page changed, to be written by the next Flush.
  void Touch(Page& page) {
    if (page.dirty) return;
    page.dirty = true;
    dirty.push_back(page.number);
  }
  void Decode(Page& page, const std::vector<uint8_t>& raw);
  void Encode(const Page& page, std::vector<uint8_t>& raw) const;
  void Descend(const Target& t);
  // True when the last descent ended at the index's last leaf and t sorts after its last
  // entry: t's place is then at that leaf's end, on the same path (keys arriving in
  // order take no descent).
  bool PastTheEnd(const Target& t) const;
  // Lets go of clean pages that are off the last path and idle (see kIdleBatches), and
  // of more when the cache outgrows kCachedPages.
  void Trim();
  Page& NewPage(bool leaf);
  size_t SplitPoint(const Page& page, bool appended) const;
  void Split(size_t level, bool appended);
  void SplitRoot(Page& root_page, size_t k);
  void Separate(Page& left, Page& right);
  bool HasKey(const Page& leaf, const Target& t);
  bool KeyNearby(const Page& leaf, size_t pos, const Target& t);

  PageStore& store;
  PageLayout layout;
  uint32_t owner;  // the TDEF page, which every page of the index names
  uint32_t root;
  bool unique;
  std::string where;    // "PATH is damaged: table T"
  std::string name;     // of the first logical index over this one
  std::string refusal;  // "PATH: table T: index I", for keys the index cannot take
  size_t max_key = 0;
  UsageMapWriter map;
  std::unordered_map<uint32_t, std::unique_ptr<Page>> cache;
  std::vector<uint32_t> path;   // the last descent, root first
  std::vector<Page*> path_pages;  // its pages, which stay cached while they are on it
  uint64_t batch = 0;             // Flush calls so far
  std::vector<uint32_t> dirty;  // pages changed since the last Flush
  std::vector<uint8_t> raw;
  std::string new_entry;  // the entry being inserted
  // The last Contains that descended: its key and what it found, while path is still its
  // descent (no insert since). A unique index's Insert of that key (the table writer
  // asks Contains first) takes that descent and answer.
  std::string searched;
  bool searched_valid = false, searched_found = false;
};

Page& IndexWriter::Impl::Load(uint32_t number) {
  auto it = cache.find(number);
  if (it != cache.end()) {
    it->second->used = batch;
    return *it->second;
  }
  if (number == 0 || number >= store.page_count()) Damaged(number, "lies outside the file");
  store.pages().Read(number, raw);
  auto page = std::make_unique<Page>();
  page->number = number;
  page->prefix_limit = layout.prefix_limit;
  page->used = batch;
  Decode(*page, raw);
  return *cache.emplace(number, std::move(page)).first->second;
}

void IndexWriter::Impl::Decode(Page& page, const std::vector<uint8_t>& buf) {
  const uint32_t number = page.number;
  if (buf[0] != kIndexNode && buf[0] != kIndexLeaf) Damaged(number, "is not an index page");
  if (Get32(&buf[4]) != owner) Damaged(number, "belongs to another table");
  page.leaf = buf[0] == kIndexLeaf;
  page.prev = Get32(&buf[size_t(layout.prev)]);
  page.next = Get32(&buf[size_t(layout.next)]);
  page.tail = Get32(&buf[size_t(layout.tail)]);
  for (uint32_t link : {page.prev, page.next, page.tail})
    if (link >= store.page_count())
      Damaged(number, "refers to page " + std::to_string(link) + ", outside the file");
  const size_t prefix =
      layout.prefix_limit > 0xFF ? Get16(&buf[size_t(layout.prefix)]) : buf[size_t(layout.prefix)];
  const size_t page_size = buf.size();
  size_t start = size_t(layout.entries);
  std::string shared;  // the first entry's first prefix bytes
  const int bits = (layout.entries - layout.mask) * 8;
  for (int i = 0; i < bits; ++i) {
    if (!(buf[size_t(layout.mask + i / 8)] & (1 << (i % 8)))) continue;
    const size_t end = size_t(layout.entries + i);
    if (end > page_size || end <= start) Damaged(number, "has an entry mask that marks no entry");
    if (page.size() == 0) {
      if (prefix > end - start) Damaged(number, "has a shared prefix longer than its first entry");
      shared.assign(reinterpret_cast<const char*>(&buf[start]), prefix);
    } else {
      page.bytes += shared;
    }
    page.bytes.append(reinterpret_cast<const char*>(&buf[start]), end - start);
    page.ends.push_back(uint32_t(page.bytes.size()));
    start = end;
    const size_t n = page.size();
    if (page.entry_size(n - 1) <= page.trailer())
      Damaged(number, "has an entry too short for its pointers");
    if (n > 1) {
      const Target t{page.entry(n - 1), page.key_size(n - 1), page.pointer(n - 1)};
      if (page.Compare(n - 2, t) >= 0) Damaged(number, "holds entries out of key order");
    }
    if (!page.leaf) {
      const uint32_t child = page.child(n - 1);
      if (child == 0 || child >= store.page_count())
        Damaged(number, "refers to page " + std::to_string(child) + ", outside the file");
    }
  }
  if (page.leaf) return;
  // A page that lists its last child as an entry is read as one that keeps it as its tail
  // (written so when it changes); a single child stays an entry.
  if (page.tail == 0 && page.size() > 1) {
    page.tail = page.child(page.size() - 1);
    page.Truncate(page.size() - 1);
  }
  if (page.tail == 0 && page.size() == 0)
    Damaged(number, "is an intermediate page without entries");
}

void IndexWriter::Impl::Encode(const Page& page, std::vector<uint8_t>& buf) const {
  // A page read with a longer shared prefix than the one written here may not fit again.
  if (page.Stored() > layout.capacity) Damaged(page.number, "holds more than a page can");
  buf.assign(size_t(store.format().page_size), 0);
  buf[0] = page.leaf ? kIndexLeaf : kIndexNode;
  buf[1] = 0x01;
  Put32(&buf[4], owner);
  Put32(&buf[size_t(layout.prev)], page.prev);
  Put32(&buf[size_t(layout.next)], page.next);
  Put32(&buf[size_t(layout.tail)], page.tail);
  const size_t prefix = page.Prefix();
  if (layout.prefix_limit > 0xFF)
    Put16(&buf[size_t(layout.prefix)], uint32_t(prefix));
  else
    buf[size_t(layout.prefix)] = uint8_t(prefix);
  buf[size_t(layout.node_flag)] = page.leaf ? 0 : 1;
  // Every changed page is encoded in every batch: the entries (a few bytes each) are
  // copied without a library call apiece, those of up to 16 bytes as 16 bytes where
  // both sides have them (what lands past an entry is overwritten by the next one, or
  // cleared after the last).
  uint8_t* const entries = &buf[size_t(layout.entries)];
  uint8_t* const mask = &buf[size_t(layout.mask)];
  const auto* const bytes = reinterpret_cast<const uint8_t*>(page.bytes.data());
  const size_t room = buf.size() - size_t(layout.entries), total = page.bytes.size();
  constexpr size_t kWide = 16;
  size_t at = 0, from = 0;
  for (size_t i = 0; i < page.size(); ++i) {
    const size_t begin = from + (i ? prefix : 0);
    from = page.ends[i];
    const size_t n = from - begin;
    if (n <= kWide && begin + kWide <= total && at + kWide <= room)
      std::memcpy(entries + at, bytes + begin, kWide);
    else
      CopySmall(entries + at, bytes + begin, n);
    at += n;
    mask[at / 8] |= uint8_t(1 << (at % 8));
  }
  std::memset(entries + at, 0, std::min(kWide, room - at));
  Put16(&buf[2], uint32_t(room - at));  // free space
}

void IndexWriter::Impl::Descend(const Target& t) {
  path.clear();
  path_pages.clear();
  uint32_t number = root;
  for (;;) {
    if (std::find(path.begin(), path.end(), number) != path.end())
      Damaged(number, "is reached twice on the way down: the index's pages form a loop");
    if (path.size() == kMaxDepth) Damaged(number, "lies deeper than an index goes");
    Page& page = Load(number);
    path.push_back(number);
    path_pages.push_back(&page);
    if (page.leaf) return;
    const size_t i = page.LowerBound(t);
    number = i < page.size() ? page.child(i) : page.tail ? page.tail : page.child(page.size() - 1);
  }
}

bool IndexWriter::Impl::PastTheEnd(const Target& t) const {
  if (path_pages.empty()) return false;
  const Page& leaf = *path_pages.back();
  return leaf.leaf && leaf.next == 0 && leaf.size() > 0 && leaf.Compare(leaf.size() - 1, t) < 0;
}

Page& IndexWriter::Impl::NewPage(bool leaf) {
  const uint32_t number = store.Allocate();
  map.Set(number, true);
  auto page = std::make_unique<Page>();
  page->number = number;
  page->prefix_limit = layout.prefix_limit;
  page->used = batch;
  page->leaf = leaf;
  Page& made = *(cache[number] = std::move(page));
  Touch(made);
  return made;
}

// How many entries stay on the left of a split. An entry added at the end of the last
// page of its level (rows appended in key order) leaves the full page as it is and starts
// a new one; otherwise the stored bytes are halved.
size_t IndexWriter::Impl::SplitPoint(const Page& page, bool appended) const {
  const size_t n = page.size();
  // A leaf keeps at least one entry on each side; an intermediate page at least two
  // children (an entry and its tail).
  const size_t lo = page.leaf ? 1 : 2, hi = n - 1;
  if (appended) return hi;
  const size_t prefix = page.Prefix(), half = page.Stored() / 2;
  size_t left = page.entry_size(0);
  size_t k = 1;
  while (k < hi && left < half) left += page.entry_size(k++) - prefix;
  return std::clamp(k, lo, hi);
}

// Entry and child boundaries move between two pages that were next to each other under
// one parent; intermediate pages are linked only to siblings with the same parent.
void IndexWriter::Impl::Separate(Page& left, Page& right) {
  Page& a = Load(left.tail);
  Page& b = Load(right.size() ? right.child(0) : right.tail);
  if (a.leaf) return;
  a.next = 0;
  b.prev = 0;
  Touch(a);
  Touch(b);
}

void IndexWriter::Impl::Split(size_t level, bool appended) {
  Page& page = *path_pages[level];
  // The entries in full fit, so they fit with their shared prefix left out.
  if (page.bytes.size() <= layout.capacity || page.Stored() <= layout.capacity) return;
  if (page.size() < (page.leaf ? 2u : 3u)) Damaged(page.number, "holds more than a page can");
  const size_t k = SplitPoint(page, appended);
  if (level == 0) return SplitRoot(page, k);

  Page& right = NewPage(page.leaf);
  const std::string separator = page.KeyAndPointer(k - 1);
  page.MoveTo(k, right);
  if (!page.leaf) {
    right.tail = page.tail;
    page.tail = page.child(k - 1);
    page.Truncate(k - 1);
    Separate(page, right);
  }
  right.prev = page.number;
  right.next = page.next;
  if (page.next != 0) {
    Page& after = Load(page.next);
    after.prev = right.number;
    Touch(after);
  }
  page.next = right.number;
  Touch(page);
  if (page.Stored() > layout.capacity || right.Stored() > layout.capacity)
    throw TrundleError(refusal + ": page " + std::to_string(page.number) + " cannot be split");

  // The parent's entry for the page now leads to the right half; the left half gets an
  // entry of its own before it.
  Page& parent = *path_pages[level - 1];
  std::string entry = separator;
  AppendBE32(entry, page.number);
  bool at_end = false;
  if (parent.tail == page.number) {
    parent.Insert(parent.size(), entry);
    parent.tail = right.number;
    at_end = true;
  } else {
    size_t i = 0;
    while (i < parent.size() && parent.child(i) != page.number) ++i;
    if (i == parent.size())
      Damaged(parent.number, "does not lead to page " + std::to_string(page.number));
    parent.SetChild(i, right.number);
    parent.Insert(i, entry);
  }
  Touch(parent);
  Split(level - 1, at_end && parent.next == 0);
}

// The root keeps its page number: its entries move to two new pages under it.
void IndexWriter::Impl::SplitRoot(Page& page, size_t k) {
  Page& left = NewPage(page.leaf);
  Page& right = NewPage(page.leaf);
  std::string entry = page.KeyAndPointer(k - 1);
  AppendBE32(entry, left.number);
  page.MoveTo(k, right);
  if (page.leaf) {
    page.MoveTo(0, left);
  } else {
    right.tail = page.tail;
    left.tail = page.child(k - 1);
    page.Truncate(k - 1);
    page.MoveTo(0, left);
    Separate(left, right);
  }
  left.next = right.number;
  right.prev = left.number;
  page.leaf = false;
  page.prev = page.next = 0;
  page.Insert(0, entry);
  page.tail = right.number;
  Touch(page);
  if (left.Stored() > layout.capacity || right.Stored() > layout.capacity)
    throw TrundleError(refusal + ": page " + std::to_string(page.number) + " cannot be split");
}

// True when the index holds an entry of t's key: at t's place in the leaf it leads to, or
// at the start of the next leaf.
bool IndexWriter::Impl::HasKey(const Page& leaf, const Target& t) {
  const size_t at = leaf.LowerBound(t);
  if (at < leaf.size()) return leaf.KeyIs(at, t);
  if (leaf.next == 0) return false;
  const Page& next = Load(leaf.next);
  return next.size() > 0 && next.KeyIs(0, t);
}

// True when an entry beside position pos of the leaf (on a neighbouring leaf at its
// ends) has t's key.
bool IndexWriter::Impl::KeyNearby(const Page& leaf, size_t pos, const Target& t) {
  if (pos < leaf.size() && leaf.KeyIs(pos, t)) return true;
  if (pos > 0) return leaf.KeyIs(pos - 1, t);
  if (leaf.prev == 0) return false;
  const Page& prev = Load(leaf.prev);
  return prev.size() > 0 && prev.KeyIs(prev.size() - 1, t);
}

IndexWriter::IndexWriter(PageStore& store, const TableDef& def, const PhysicalIndex& index,
                         std::string where)
    : impl_(std::make_unique<Impl>(store, def, index, std::move(where))) {
  if (impl_->Load(impl_->root).prev != 0 || impl_->Load(impl_->root).next != 0)
    impl_->Damaged(impl_->root, "is the index's first page but has sibling pages");
}

IndexWriter::~IndexWriter() = default;

bool IndexWriter::Insert(const std::string& key, uint32_t row_pointer, bool* new_key,
                         bool null_key) {
  Impl& x = *impl_;
  const bool unique = x.unique && !null_key;
  CheckKeySize(key);
  const auto* bytes = reinterpret_cast<const uint8_t*>(key.data());
  const Target t{bytes, key.size(), row_pointer};
  // A unique index looks for the key's first possible place: where an equal key would be.
  // A key past the index's last entry goes at the end of the last leaf, and no entry
  // has it (keys arriving in order).
  const Target place{bytes, key.size(), unique ? 0 : row_pointer};
  const bool searched = unique && x.searched_valid && key == x.searched;
  x.searched_valid = false;
  if (searched && x.searched_found) return false;
  const bool at_end = !searched && x.PastTheEnd(place);
  if (!at_end && !searched) x.Descend(place);
  Page& leaf = *x.path_pages.back();
  if (!at_end && !searched && unique && x.HasKey(leaf, Target{bytes, key.size(), 0}))
    return false;
  const size_t pos = at_end ? leaf.size() : leaf.LowerBound(t);
  if (!at_end && pos < leaf.size() && leaf.Compare(pos, t) == 0)
    throw TrundleError(x.refusal + ": the row at page " + std::to_string(row_pointer >> 8) +
                       ", row " + std::to_string(row_pointer & 0xFF) + " has this key already");
  if (new_key) *new_key = unique || !x.KeyNearby(leaf, pos, t);

  // An intermediate page with a single child and no tail carries that child's last key,
  // which a key past it replaces.
  for (size_t level = 0; level + 1 < x.path.size(); ++level) {
    Page& node = *x.path_pages[level];
    if (node.tail != 0 || node.size() != 1 || node.Compare(0, t) >= 0) continue;
    std::string entry = key;
    AppendBE32(entry, row_pointer);
    AppendBE32(entry, node.child(0));
    node.Truncate(0);
    node.Insert(0, entry);
    x.Touch(node);
  }

  std::string& entry = x.new_entry;
  entry.assign(key);
  AppendBE32(entry, row_pointer);
  leaf.Insert(pos, entry);
  x.Touch(leaf);
  x.Split(x.path.size() - 1, pos + 1 == leaf.size() && leaf.next == 0);
  return true;
}

void IndexWriter::CheckKeySize(const std::string& key) const {
  const Impl& x = *impl_;
  if (key.empty() || key.size() > x.max_key)
    throw TrundleError(x.refusal + ": a key of " + std::to_string(key.size()) +
                       " bytes does not fit an index page (at most " + std::to_string(x.max_key) +
                       ")");
}

bool IndexWriter::Contains(const std::string& key) {
  Impl& x = *impl_;
  const Target t{reinterpret_cast<const uint8_t*>(key.data()), key.size(), 0};
  if (x.PastTheEnd(t)) return false;
  x.Descend(t);
  x.searched_found = x.HasKey(*x.path_pages.back(), t);
  x.searched.assign(key);
  x.searched_valid = true;
  return x.searched_found;
}

void IndexWriter::Flush() {
  Impl& x = *impl_;
  std::sort(x.dirty.begin(), x.dirty.end());
  for (uint32_t number : x.dirty) {
    Page& page = *x.cache.at(number);
    x.Encode(page, x.raw);
    x.store.Write(number, x.raw);
    page.dirty = false;
  }
  x.dirty.clear();
  x.searched_valid = false;
  x.Trim();
  ++x.batch;
}

void IndexWriter::Impl::Trim() {
  // Every page is clean now. Those idle for long go; then, over the limit, a quarter of
  // the cache goes.
  auto on_path = [&](uint32_t number) {
    return std::find(path.begin(), path.end(), number) != path.end();
  };
  if (batch >= kIdleBatches)
    for (auto it = cache.begin(); it != cache.end();) {
      if (it->second->used <= batch - kIdleBatches && !on_path(it->first))
        it = cache.erase(it);
      else
        ++it;
    }
  if (cache.size() <= kCachedPages) return;
  for (auto it = cache.begin(); it != cache.end() && cache.size() > kCachedPages / 4 * 3;) {
    if (!on_path(it->first))
      it = cache.erase(it);
    else
      ++it;
  }
}

void IndexWriter::Forget() {
  impl_->cache.clear();
  impl_->path.clear();
  impl_->path_pages.clear();
  impl_->searched_valid = false;
  impl_->dirty.clear();
}

uint32_t IndexWriter::Build(PageStore& store, const TableDef& def, const PhysicalIndex& index,
                           const std::string& where, const KeyRun& run,
                           const std::vector<uint32_t>& order) {
  Impl x(store, def, index, where);
  const size_t capacity = x.layout.capacity;
  auto blank = [&](bool leaf) {
    Page page;
    page.leaf = leaf;
    page.prefix_limit = x.layout.prefix_limit;
    return page;
  };
  auto take = [&] {
    const uint32_t number = store.Allocate();
    x.map.Set(number, true);
    return number;
  };
  auto write = [&](const Page& page) {
    x.Encode(page, x.raw);
    store.Write(page.number, x.raw);
  };
  // A parent's entry for a page: the key and pointer of the page's last entry (the last
  // under it), then the page.
  auto entry_for = [](const Page& page) {
    std::string entry = page.KeyAndPointer(page.size() - 1);
    AppendBE32(entry, page.number);
    return entry;
  };

  // Leaves, written as each fills: a leaf's number is taken when the next one begins
  // (the first stays unnumbered until then, as a lone leaf is the root itself).
  uint32_t distinct = 0;
  std::vector<std::string> children;
  Page leaf = blank(true);
  std::string entry, last_key;
  for (uint32_t e : order) {
    const std::string_view key = run.key(e);
    if (key.empty() || key.size() > x.max_key)
      throw TrundleError(x.refusal + ": a key of " + std::to_string(key.size()) +
                         " bytes does not fit an index page (at most " +
                         std::to_string(x.max_key) + ")");
    entry.assign(key);
    if (distinct == 0 || key != last_key) {
      ++distinct;
      last_key.assign(key);
    }
    AppendBE32(entry, run.pointer(e));
    leaf.Insert(leaf.size(), entry);
    if (leaf.size() < 2 || leaf.Stored() <= capacity) continue;
    leaf.Truncate(leaf.size() - 1);
    if (leaf.number == 0) leaf.number = take();
    Page next = blank(true);
    next.number = take();
    next.prev = leaf.number;
    leaf.next = next.number;
    write(leaf);
    children.push_back(entry_for(leaf));
    leaf = std::move(next);
    leaf.Insert(0, entry);
  }
  if (leaf.number == 0) {
    leaf.number = x.root;
    write(leaf);
    return distinct;
  }
  write(leaf);
  children.push_back(entry_for(leaf));

  // A level's pages from its children's entries: each page takes children while the
  // entries it stores (all but the last child, kept in its tail) fit. A last page left
  // with one child takes one from the page before, so that every page has two.
  auto fill = [&](const std::vector<std::string>& from) {
    std::vector<Page> pages;
    for (const std::string& child : from) {
      if (pages.empty() || pages.back().Stored() > capacity) pages.push_back(blank(false));
      pages.back().Insert(pages.back().size(), child);
    }
    if (pages.size() > 1 && pages.back().size() == 1) {
      Page& before = pages[pages.size() - 2];
      const size_t last = before.size() - 1;
      pages.back().Insert(0, std::string(before.bytes, before.begin(last), before.entry_size(last)));
      before.Truncate(last);
    }
    return pages;
  };
  std::vector<Page> level = fill(children);
  for (;;) {
    const bool top = level.size() == 1;
    children.clear();
    for (Page& page : level) {
      page.number = top ? x.root : take();
      children.push_back(entry_for(page));
      if (page.size() > 1) {
        page.tail = page.child(page.size() - 1);
        page.Truncate(page.size() - 1);
      }
    }
    if (top) {
      write(level[0]);
      return distinct;
    }
    std::vector<Page> parents = fill(children);
    size_t at = 0;
    for (const Page& parent : parents)
      for (size_t k = 0; k < parent.size(); ++k, ++at)
        if (k > 0) {
          level[at].prev = level[at - 1].number;
          level[at - 1].next = level[at].number;
        }
    for (const Page& page : level) write(page);
    level = std::move(parents);
  }
}

}  // namespace trundle::jet
