#include "databases/access/jet/jet_key_run.h"

#include <xxhash.h>

#include <algorithm>
#include <functional>
#include <numeric>

namespace trundle::jet {

void KeyRun::Add(std::string_view key, uint32_t pointer) {
  arena_.append(key);
  ends_.push_back(arena_.size());
  pointers_.push_back(pointer);
}

void KeyRun::Truncate(size_t n) {
  if (n >= size()) return;
  arena_.resize(n ? size_t(ends_[n - 1]) : 0);
  ends_.resize(n);
  pointers_.resize(n);
}

std::vector<uint32_t> KeyRun::SortedOrder() const {
  std::vector<uint32_t> order(size());
  std::iota(order.begin(), order.end(), uint32_t(0));
  // Rows that came in key order need no sort.
  bool sorted = true;
  for (size_t i = 1; i < size() && sorted; ++i) {
    const int c = CompareKeys(key(i - 1), key(i));
    sorted = c < 0 || (c == 0 && pointers_[i - 1] < pointers_[i]);
  }
  if (sorted) return order;
  // Rows arrive mostly in the order of their pointers, so a stable sort by key alone
  // keeps equal keys in pointer order; the pointer decides the rest.
  std::sort(order.begin(), order.end(), [this](uint32_t a, uint32_t b) {
    const int c = CompareKeys(key(a), key(b));
    return c != 0 ? c < 0 : pointers_[a] < pointers_[b];
  });
  return order;
}

size_t KeyRun::memory() const {
  return arena_.capacity() + ends_.capacity() * sizeof(uint64_t) +
         pointers_.capacity() * sizeof(uint32_t);
}

size_t UniqueKeys::Slot(std::string_view key) const {
  const size_t mask = slots_.size() - 1;
  // XXH3 takes a short key in a few instructions, a fraction of std::hash's time.
  for (size_t at = size_t(XXH3_64bits(key.data(), key.size())) & mask;; at = (at + 1) & mask)
    if (slots_[at] == 0 || run_.key(slots_[at] - 1) == key) return at;
}

bool UniqueKeys::Contains(std::string_view key) const {
  if (in_order_) {
    if (sorted_.empty() || run_.key(sorted_.back()) < key) return false;
    auto at = std::lower_bound(sorted_.begin(), sorted_.end(), key,
                               [this](uint32_t e, std::string_view k) { return run_.key(e) < k; });
    return at != sorted_.end() && run_.key(*at) == key;
  }
  return slots_[Slot(key)] != 0;
}

void UniqueKeys::Insert(size_t i) {
  ++count_;
  if (in_order_) {
    if (sorted_.empty() || run_.key(sorted_.back()) < run_.key(i)) {
      sorted_.push_back(uint32_t(i));
      return;
    }
    in_order_ = false;
    std::vector<uint32_t> entries;
    entries.swap(sorted_);
    for (uint32_t e : entries) Hash(e);
  }
  Hash(uint32_t(i));
}

void UniqueKeys::Hash(uint32_t e) {
  // Kept at most 70% full, so that a probe soon meets an empty slot.
  if (count_ * 10 > slots_.size() * 7) Grow();
  slots_[Slot(run_.key(e))] = e + 1;
}

void UniqueKeys::Grow() {
  std::vector<uint32_t> old(std::max<size_t>(1024, slots_.size() * 2), 0);
  old.swap(slots_);
  for (uint32_t e : old)
    if (e != 0) slots_[Slot(run_.key(e - 1))] = e;
}

void UniqueKeys::Truncate(size_t n) {
  if (in_order_) {
    while (!sorted_.empty() && sorted_.back() >= n) sorted_.pop_back();
    count_ = sorted_.size();
    return;
  }
  std::vector<uint32_t> kept;
  for (uint32_t e : slots_)
    if (e != 0 && e <= n) kept.push_back(e);
  std::fill(slots_.begin(), slots_.end(), 0);
  count_ = kept.size();
  for (uint32_t e : kept) slots_[Slot(run_.key(e - 1))] = e;
}

}  // namespace trundle::jet
