// The page layer of a Jet database: the layout constants of each version and the file
// read one page at a time, decoded when the database is encoded.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "databases/core/file_io.h"

namespace trundle::jet {

// Offsets that differ between Jet 3 (2 KB pages) and Jet 4 / ACE (4 KB pages).
struct Format {
  bool jet3 = false;
  bool ace = false;  // an .accdb (ACE, version 2 and on): Jet 4 pages, some keys made anew
  int page_size = 4096;
  int data_row_count = 12;    // data page: number of rows
  int data_row_offsets = 14;  // data page: first row offset
  int tdef_row_count = 16;
  int tdef_max_cols = 41;
  int tdef_num_var_cols = 43;
  int tdef_num_cols = 45;
  int tdef_num_real_idx = 51;
  int tdef_used_pages = 55;
  int tdef_header_end = 63;  // real index entries start here
  int real_idx_entry = 12;
  int col_block = 25;
  int col_type = 0, col_num = 5, col_var_index = 7, col_misc = 11, col_flags = 15,
      col_fixed_offset = 21, col_length = 23;
  int max_row_size = 4060;

  static Format Jet3();
  static Format Jet4();
};

// RC4 as Jet uses it to mask the header and to encode pages.
void Rc4(const uint8_t* key, size_t key_size, uint8_t* data, size_t size);
// Encodes, or decodes (RC4 is its own inverse), page number page of a database whose
// header key is key: RC4 keyed with key ^ page. Page 0 and a key of 0 leave it plain.
void ApplyPageKey(uint32_t key, uint32_t page, uint8_t* data, size_t size);

// A database file read page by page (pread). Not thread-safe for one reader; every read
// is positioned, so several readers may share it.
class PageFile {
 public:
  // Throws TrundleError "Could not open PATH: reason".
  explicit PageFile(const std::string& path);

  const std::string& path() const { return file_.path(); }
  uint64_t file_size() const { return size_; }
  // Reads up to size bytes at offset; returns how many were read.
  size_t ReadAt(uint64_t offset, uint8_t* data, size_t size) const;

  void SetLayout(int page_size, uint32_t key);
  // For a writer (PageStore): plain page images that supersede the file's own, among them
  // pages added past the file's end, and the page count those additions make. The map is
  // borrowed and must outlive every later read; nullptr reads the file alone.
  using Overlay = std::unordered_map<uint32_t, std::vector<uint8_t>>;
  void SetOverlay(const Overlay* overlay) { overlay_ = overlay; }
  // For a writer: plain images of pages as they are in the file, read in place of the
  // file's own. Reads from the file add to it (a quarter of it dropped when it holds limit
  // pages); the writer keeps it equal to the file. Borrowed like the overlay.
  void SetCache(Overlay* cache, size_t limit) {
    cache_ = cache;
    cache_limit_ = limit;
  }
  // The same with an overlay kept here, for a reader.
  void KeepOverlay(Overlay overlay) {
    kept_ = std::move(overlay);
    overlay_ = &kept_;
  }
  void SetPageCount(uint32_t count) { page_count_ = count; }
  int page_size() const { return page_size_; }
  uint32_t page_count() const { return page_count_; }
  bool encoded() const { return key_ != 0; }
  // Fills out (resized to the page size) with page number page, decoded. Throws
  // TrundleError naming the file when the page lies outside the file.
  void Read(uint32_t page, std::vector<uint8_t>& out) const;

 private:
  RandomAccessFile file_;
  uint64_t size_ = 0;
  int page_size_ = 4096;
  uint32_t page_count_ = 0;
  uint32_t key_ = 0;
  const Overlay* overlay_ = nullptr;
  Overlay* cache_ = nullptr;
  size_t cache_limit_ = 0;
  Overlay kept_;
};

// Drops pages of a cache (any of them) until it holds at most keep.
void TrimPages(PageFile::Overlay& pages, size_t keep);

// Page types, the first byte of every page but the header.
constexpr uint8_t kDataPage = 0x01;
constexpr uint8_t kTdefPage = 0x02;
constexpr uint8_t kUsageMapPage = 0x05;
// The mask over the header's encrypted area (from byte 0x18), RC4 with this key.
constexpr uint8_t kHeaderMask[4] = {0xC7, 0xDA, 0x39, 0x6B};

// Little-endian reads from a buffer the caller has checked.
inline uint16_t Get16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t Get24(const uint8_t* p) { return uint32_t(p[0] | (p[1] << 8) | (p[2] << 16)); }
inline uint32_t Get32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

// Little-endian writes into a buffer the caller has sized.
inline void Put16(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

}  // namespace trundle::jet
