// Index keys gathered while rows are appended to an empty table, for an index built at
// once from them when the appending ends (IndexWriter::Build):
//
//   KeyRun run;
//   UniqueKeys seen(run);                        // a unique index's keys so far
//   if (seen.Contains(key)) ...                  // refused at the row that repeats one
//   run.Add(key, row_pointer);
//   seen.Insert(run.size() - 1);
//   std::vector<uint32_t> order = run.SortedOrder();
//
// The keys lie back to back in one buffer: a 5-byte key (a Long) takes 5 bytes, its end
// 8 and its row pointer 4; a unique index's set adds 6 to 12 bytes a key.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace trundle::jet {

// Key bytes compare as unsigned bytes, a key that is a prefix of another first. Keys are
// mostly a few bytes (a Long's key takes 5), which a call to memcmp apiece would cost
// more than comparing them here, eight bytes at a time.
inline int CompareKeys(const uint8_t* a, size_t an, const uint8_t* b, size_t bn) {
  const size_t n = an < bn ? an : bn;
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t x, y;
    std::memcpy(&x, a + i, 8);
    std::memcpy(&y, b + i, 8);
    if (x != y) return __builtin_bswap64(x) < __builtin_bswap64(y) ? -1 : 1;
  }
  for (; i < n; ++i)
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  return an < bn ? -1 : an > bn ? 1 : 0;
}
inline int CompareKeys(std::string_view a, std::string_view b) {
  return CompareKeys(reinterpret_cast<const uint8_t*>(a.data()), a.size(),
                     reinterpret_cast<const uint8_t*>(b.data()), b.size());
}

class KeyRun {
 public:
  void Add(std::string_view key, uint32_t pointer);
  size_t size() const { return pointers_.size(); }
  std::string_view key(size_t i) const {
    const uint64_t begin = i ? ends_[i - 1] : 0;
    return std::string_view(arena_).substr(size_t(begin), size_t(ends_[i] - begin));
  }
  uint32_t pointer(size_t i) const { return pointers_[i]; }
  // Keeps the first n entries (those of the batches committed), dropping the rest.
  void Truncate(size_t n);
  // Entry numbers in key order, equal keys in the order of their row pointers: the
  // order an index files them in.
  std::vector<uint32_t> SortedOrder() const;
  // Bytes the run holds (its buffers' capacity).
  size_t memory() const;

 private:
  std::string arena_;            // the keys, back to back
  std::vector<uint64_t> ends_;   // where each key ends in arena_
  std::vector<uint32_t> pointers_;
};

// The distinct keys of a unique index among the entries of a run (which must outlive the
// set). While the keys come in increasing order they are a sorted list of entry
// numbers, which a key past the last needs no look at; the first key out of order turns
// it into an open-addressed table of entry numbers.
class UniqueKeys {
 public:
  explicit UniqueKeys(const KeyRun& run) : run_(run) {}
  bool Contains(std::string_view key) const;
  // Adds entry i of the run; its key must not be in the set.
  void Insert(size_t i);
  // Forgets every entry from n on (after the run's Truncate(n)).
  void Truncate(size_t n);
  size_t memory() const { return (slots_.capacity() + sorted_.capacity()) * sizeof(uint32_t); }

 private:
  void Hash(uint32_t e);  // puts entry number e + 1 in the table
  void Grow();
  size_t Slot(std::string_view key) const;  // the key's slot, or the empty one it would take

  const KeyRun& run_;
  std::vector<uint32_t> sorted_;  // while in order: the entries, keys increasing
  bool in_order_ = true;
  std::vector<uint32_t> slots_;   // then: entry number + 1; 0 is empty
  size_t count_ = 0;
};

}  // namespace trundle::jet
