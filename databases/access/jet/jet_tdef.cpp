#include "databases/access/jet/jet_tdef.h"

#include <algorithm>
#include <unordered_set>

#include "databases/access/jet/jet_text.h"
#include "engine/errors.h"

namespace trundle::jet {
namespace {


}  // namespace

int FixedWidth(uint8_t type) {
  switch (type) {
    case kByte:
      return 1;
    case kInteger:
      return 2;
    case kLong:
    case kSingle:
      return 4;
    case kCurrency:
    case kDouble:
    case kDateTime:
    case kBigInt:
      return 8;
    case kGuid:
      return 16;
    case kNumeric:
      return 17;
    case kComplex:
      return 4;
    default:
      return 0;
  }
}

std::string TableDamage(const std::string& path, const std::string& table,
                        const std::string& cause) {
  return path + " is damaged: table " + table + ": " + cause;
}

TableDef ReadTableDef(const PageFile& file, const Format& format, uint32_t page,
                      const std::string& name, const std::string& path, TextCodec* jet3_text) {
  auto fail = [&](const std::string& cause) { throw TrundleError(TableDamage(path, name, cause)); };
  std::vector<uint8_t> buf, more;
  if (page == 0 || page >= file.page_count())
    fail("its definition page " + std::to_string(page) + " lies outside the file");
  file.Read(page, buf);
  if (buf[0] != kTdefPage) fail("page " + std::to_string(page) + " is not a table definition");
  std::unordered_set<uint32_t> seen{page};
  for (uint32_t next = Get32(&buf[4]); next != 0;) {
    if (!seen.insert(next).second) fail("its definition pages form a loop");
    if (next >= file.page_count())
      fail("its definition continues on page " + std::to_string(next) + ", outside the file");
    file.Read(next, more);
    if (more[0] != kTdefPage)
      fail("its definition continues on page " + std::to_string(next) +
           ", which is not a table definition");
    buf.insert(buf.end(), more.begin() + 8, more.end());
    next = Get32(&more[4]);
  }

  TableDef def;
  def.name = name;
  def.page = page;
  def.row_count = Get32(&buf[size_t(format.tdef_row_count)]);
  def.max_cols = Get16(&buf[size_t(format.tdef_max_cols)]);
  def.num_var_cols = Get16(&buf[size_t(format.tdef_num_var_cols)]);
  const int num_cols = Get16(&buf[size_t(format.tdef_num_cols)]);
  const uint32_t num_real_idx = Get32(&buf[size_t(format.tdef_num_real_idx)]);
  def.used_pages = Get32(&buf[size_t(format.tdef_used_pages)]);

  // Column blocks follow the physical index entries; then the names.
  const uint64_t cols_at =
      uint64_t(format.tdef_header_end) + uint64_t(num_real_idx) * uint64_t(format.real_idx_entry);
  if (cols_at + uint64_t(num_cols) * uint64_t(format.col_block) > buf.size())
    fail("its definition claims " + std::to_string(num_cols) + " columns but holds fewer");
  if (num_cols > def.max_cols)
    fail("its definition claims " + std::to_string(num_cols) + " columns of at most " +
         std::to_string(def.max_cols));
  size_t pos = size_t(cols_at);
  std::vector<ColumnDef> cols(static_cast<size_t>(num_cols));
  for (ColumnDef& c : cols) {
    const uint8_t* b = &buf[pos];
    c.column.type = b[format.col_type];
    c.number = Get16(b + format.col_num);
    c.var_index = Get16(b + format.col_var_index);
    const uint8_t flags = b[format.col_flags];
    c.column.fixed = (flags & 0x01) != 0;
    c.column.nullable = (flags & 0x02) != 0;
    c.column.autonumber = (flags & 0x04) != 0 || (flags & 0x40) != 0;
    c.compressed = !format.jet3 && (b[format.col_flags + 1] & 0x01) != 0;
    c.fixed_offset = Get16(b + format.col_fixed_offset);
    c.column.size = Get16(b + format.col_length);
    if (c.column.type == kText || c.column.type == kMemo) {
      c.sort_order = Get16(b + format.col_misc);
      c.sort_version = format.jet3 ? 0 : b[format.col_misc + 3];
    }
    if (c.column.type == kNumeric) {
      c.column.precision = b[format.col_misc];
      c.column.scale = b[format.col_misc + 1];
    }
    if (c.number >= def.max_cols)
      fail("column number " + std::to_string(c.number) + " is beyond the " +
           std::to_string(def.max_cols) + " columns a row holds");
    const int width = FixedWidth(c.column.type);
    if (c.column.fixed && width > 0) c.column.size = width;
    pos += size_t(format.col_block);
  }
  auto read_name = [&](std::string& out) {
    size_t len;
    if (format.jet3) {
      if (pos + 1 > buf.size()) fail("its names are cut short");
      len = buf[pos];
      pos += 1;
    } else {
      if (pos + 2 > buf.size()) fail("its names are cut short");
      len = Get16(&buf[pos]);
      pos += 2;
    }
    if (pos + len > buf.size()) fail("its names are cut short");
    if (format.jet3)
      jet3_text->Convert(std::string_view(reinterpret_cast<const char*>(&buf[pos]), len), out);
    else
      AppendUtf16(&buf[pos], len, out);
    pos += len;
  };
  for (ColumnDef& c : cols) read_name(c.column.name);

  // Physical index definitions (Jet 4: 52 bytes, Jet 3: 39): ten key columns of a 2-byte
  // number (FFFF: none) and an order byte (bit 0 set: ascending; a Jet 3 descending
  // column holds 0), the usage map, the root page and the flags (0x80 is set in every Jet 4
  // index of the fixtures). Then the logical indexes (Jet 4: 28 bytes, Jet 3: 20) and
  // their names.
  const uint32_t num_idx = Get32(&buf[size_t(format.tdef_num_real_idx - 4)]);
  if (num_real_idx > 1000 || num_idx > 1000)
    fail("its definition claims " + std::to_string(num_idx) + " indexes");
  auto need = [&](size_t n, const char* part) {
    if (pos + n > buf.size()) fail(std::string("its definition is cut short in its ") + part);
  };
  def.free_pages = Get32(&buf[size_t(format.tdef_used_pages + 4)]);
  def.indexes.resize(num_real_idx);
  for (uint32_t i = 0; i < num_real_idx; ++i) {
    PhysicalIndex& x = def.indexes[i];
    const size_t count_at =
        size_t(format.tdef_header_end) + i * size_t(format.real_idx_entry) + 4;
    x.entry_count = Get32(&buf[count_at]);
    x.entry_count_offset = count_at + 4 <= size_t(format.page_size) ? int(count_at) : 0;
    need(format.jet3 ? 39 : 52, "index definitions");
    if (!format.jet3) pos += 4;
    for (int k = 0; k < 10; ++k, pos += 3) {
      const uint16_t number = Get16(&buf[pos]);
      if (number != 0xFFFF)
        x.columns.push_back(IndexColumn{number, (buf[pos + 2] & 0x01) != 0});
    }
    x.map = Get32(&buf[pos]);
    x.first_page = Get32(&buf[pos + 4]);
    x.flags = buf[pos + (format.jet3 ? 8 : 12)];  // Jet 4: 4 bytes before the flags
    pos += format.jet3 ? 9 : 18;
  }
  def.logical_indexes.resize(num_idx);
  for (uint32_t i = 0; i < num_idx; ++i) {
    LogicalIndex& l = def.logical_indexes[i];
    need(format.jet3 ? 20 : 28, "index list");
    const uint8_t* b = &buf[pos + (format.jet3 ? 0 : 4)];
    const uint32_t physical = Get32(b + 4);
    if (physical >= num_real_idx)
      fail("its index " + std::to_string(i) + " refers to physical index " +
           std::to_string(physical) + " of " + std::to_string(num_real_idx));
    l.physical = int(physical);
    l.number = int(Get32(b));
    // The side byte: 1 on the referred-to table, 2 on the referring one (indexTestV2000:
    // Table1's keys into Table2 and Table3 hold 2, their partner indexes there 1).
    l.referencing = b[8] == 2;
    l.related_index = int(Get32(b + 9));
    l.related_table = Get32(b + 13);
    l.kind = b[19];
    pos += format.jet3 ? 20 : 28;
  }
  for (LogicalIndex& l : def.logical_indexes) read_name(l.name);
  for (const PhysicalIndex& x : def.indexes)
    for (const IndexColumn& k : x.columns)
      if (std::none_of(cols.begin(), cols.end(),
                       [&](const ColumnDef& c) { return c.number == k.number; }))
        fail("an index refers to column " + std::to_string(k.number) + ", which it lacks");
  // The blocks need not be in the table's order (MSysObjects keeps them by name): the
  // column number gives it.
  std::stable_sort(cols.begin(), cols.end(),
                   [](const ColumnDef& a, const ColumnDef& b) { return a.number < b.number; });
  def.columns = std::move(cols);
  return def;
}

bool LocateRow(const std::vector<uint8_t>& page, const Format& format, int row, RowSpan& span,
               const std::string& where, bool moved_target) {
  const int count = Get16(&page[size_t(format.data_row_count)]);
  if (row < 0 || row >= count) return false;
  const int table_end = format.data_row_offsets + 2 * count;
  if (table_end > format.page_size)
    throw TrundleError(where + ": a page claims " + std::to_string(count) + " rows");
  const uint16_t raw = Get16(&page[size_t(format.data_row_offsets + 2 * row)]);
  span.deleted = (raw & 0x8000) != 0;
  span.overflow = (raw & 0x4000) != 0;
  span.begin = raw & 0x1FFF;
  span.end = row == 0 ? format.page_size
                      : Get16(&page[size_t(format.data_row_offsets + 2 * (row - 1))]) & 0x1FFF;
  if (moved_target) span.deleted = false;
  if (span.deleted) {
    // A deleted row's bytes are never read; its offset still bounds the row before it.
    span.end = std::max(span.begin, std::min(span.end, format.page_size));
    return true;
  }
  if (span.begin < table_end || span.begin > span.end || span.end > format.page_size)
    throw TrundleError(where + ": row " + std::to_string(row) + " lies outside its page");
  return true;
}

uint32_t PageSet::Next(uint32_t from) const {
  while (from < count_) {
    const uint64_t word = bits_[from / 64] >> (from % 64);
    if (word != 0) return from + uint32_t(__builtin_ctzll(word));
    from = (from / 64 + 1) * 64;
  }
  return count_;
}

PageSet ReadUsageMap(const PageFile& file, const Format& format, uint32_t pointer,
                     const std::string& where) {
  PageSet set(file.page_count());
  const uint32_t page = pointer >> 8;
  const int row = int(pointer & 0xFF);
  if (page >= file.page_count())
    throw TrundleError(where + ": its usage map lies on page " + std::to_string(page) +
                       ", outside the file");
  std::vector<uint8_t> buf;
  file.Read(page, buf);
  RowSpan span;
  if (buf[0] != kDataPage || !LocateRow(buf, format, row, span, where) || span.deleted ||
      span.end - span.begin < 1)
    throw TrundleError(where + ": its usage map is missing");
  const uint8_t* map = &buf[size_t(span.begin)];
  const int len = span.end - span.begin;
  auto mark = [&](uint64_t p) {
    if (p >= file.page_count())
      throw TrundleError(where + ": its usage map marks page " + std::to_string(p) +
                         ", past the end of the file");
    set.Add(uint32_t(p));
  };
  if (map[0] == 0) {  // inline: start page, then one bit a page
    if (len < 5) throw TrundleError(where + ": its usage map is cut short");
    const uint32_t start = Get32(map + 1);
    for (int i = 5; i < len; ++i)
      for (int bit = 0; bit < 8; ++bit)
        if (map[i] & (1 << bit)) mark(uint64_t(start) + uint64_t(i - 5) * 8 + uint64_t(bit));
  } else if (map[0] == 1) {  // reference: pages of type 0x05, each a bitmap
    std::vector<uint8_t> bitmap;
    const uint64_t per_page = uint64_t(format.page_size - 4) * 8;
    for (int i = 1; i + 4 <= len; i += 4) {
      const uint32_t map_page = Get32(map + i);
      if (map_page == 0) continue;
      if (map_page >= file.page_count())
        throw TrundleError(where + ": its usage map refers to page " + std::to_string(map_page) +
                           ", outside the file");
      file.Read(map_page, bitmap);
      if (bitmap[0] != kUsageMapPage)
        throw TrundleError(where + ": its usage map refers to page " + std::to_string(map_page) +
                           ", which is not a usage map");
      const uint64_t first = uint64_t((i - 1) / 4) * per_page;
      for (int j = 4; j < format.page_size; ++j)
        for (int bit = 0; bit < 8; ++bit)
          if (bitmap[size_t(j)] & (1 << bit)) mark(first + uint64_t(j - 4) * 8 + uint64_t(bit));
    }
  } else {
    throw TrundleError(where + ": its usage map is of unknown type " + std::to_string(map[0]));
  }
  return set;
}

}  // namespace trundle::jet
