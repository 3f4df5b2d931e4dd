#include "databases/access/jet/jet_pages.h"

#include <algorithm>
#include <utility>

#include "engine/errors.h"

namespace trundle::jet {

Format Format::Jet3() {
  Format f;
  f.jet3 = true;
  f.page_size = 2048;
  f.data_row_count = 8;
  f.data_row_offsets = 10;
  f.tdef_row_count = 12;
  f.tdef_max_cols = 21;
  f.tdef_num_var_cols = 23;
  f.tdef_num_cols = 25;
  f.tdef_num_real_idx = 31;
  f.tdef_used_pages = 35;
  f.tdef_header_end = 43;
  f.real_idx_entry = 8;
  f.col_block = 18;
  f.col_type = 0;
  f.col_num = 1;
  f.col_var_index = 3;
  f.col_misc = 9;
  f.col_flags = 13;
  f.col_fixed_offset = 14;
  f.col_length = 16;
  f.max_row_size = 2012;
  return f;
}

Format Format::Jet4() { return Format(); }

void Rc4(const uint8_t* key, size_t key_size, uint8_t* data, size_t size) {
  uint8_t s[256];
  for (int i = 0; i < 256; ++i) s[i] = uint8_t(i);
  uint8_t j = 0;
  for (int i = 0; i < 256; ++i) {
    j = uint8_t(j + s[i] + key[i % key_size]);
    std::swap(s[i], s[j]);
  }
  uint8_t a = 0, b = 0;
  for (size_t n = 0; n < size; ++n) {
    a = uint8_t(a + 1);
    b = uint8_t(b + s[a]);
    std::swap(s[a], s[b]);
    data[n] ^= s[uint8_t(s[a] + s[b])];
  }
}

void ApplyPageKey(uint32_t key, uint32_t page, uint8_t* data, size_t size) {
  if (key == 0 || page == 0) return;
  const uint32_t k = key ^ page;
  const uint8_t page_key[4] = {uint8_t(k), uint8_t(k >> 8), uint8_t(k >> 16), uint8_t(k >> 24)};
  Rc4(page_key, 4, data, size);
}

PageFile::PageFile(const std::string& path)
    : file_(path, RandomAccessFile::Mode::kRead), size_(file_.Size()) {}

size_t PageFile::ReadAt(uint64_t offset, uint8_t* data, size_t size) const {
  return file_.ReadAt(offset, data, size);
}

void PageFile::SetLayout(int page_size, uint32_t key) {
  page_size_ = page_size;
  page_count_ = uint32_t(std::min<uint64_t>(size_ / uint64_t(page_size), 0xFFFFFFu));
  key_ = key;
}

void TrimPages(PageFile::Overlay& pages, size_t keep) {
  for (auto it = pages.begin(); it != pages.end() && pages.size() > keep;) it = pages.erase(it);
}

void PageFile::Read(uint32_t page, std::vector<uint8_t>& out) const {
  for (const Overlay* images : {overlay_, static_cast<const Overlay*>(cache_)}) {
    if (images == nullptr) continue;
    const auto it = images->find(page);
    if (it != images->end()) {
      out = it->second;
      return;
    }
  }
  out.resize(size_t(page_size_));
  if (page >= page_count_ ||
      ReadAt(uint64_t(page) * uint64_t(page_size_), out.data(), out.size()) != out.size()) {
    throw TrundleError(path() + " is damaged: page " + std::to_string(page) +
                       " lies outside the file");
  }
  ApplyPageKey(key_, page, out.data(), out.size());
  if (cache_ != nullptr) {
    if (cache_->size() >= cache_limit_) TrimPages(*cache_, cache_limit_ / 4 * 3);
    (*cache_)[page] = out;
  }
}

}  // namespace trundle::jet
