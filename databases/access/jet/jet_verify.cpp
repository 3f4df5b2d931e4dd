#include "databases/access/jet/jet_verify.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <unordered_set>

#include "databases/access/jet/jet_database.h"
#include "databases/access/jet/jet_index_key.h"
#include "databases/access/jet/jet_pages.h"
#include "databases/access/jet/jet_rows.h"
#include "databases/access/jet/jet_tdef.h"
#include "engine/codepage.h"
#include "engine/errors.h"

namespace trundle::jet {
namespace {

constexpr uint8_t kIndexNode = 0x03;
constexpr uint8_t kIndexLeaf = 0x04;
constexpr uint8_t kMapPage = 0x05;
constexpr uint32_t kGlobalMapPointer = 1u << 8;  // page 1, row 0
constexpr int kMaxRowsOnPage = 255;              // a row pointer has one byte for the row
constexpr int kIgnoreNulls = 0x02;               // index flag
constexpr int kShownPerCheck = 5;                // like findings of one check, then a count
// Pages a Jet file can have: Jet 4 stops at 2 GB (of 4 KB pages), Jet 3 at 1 GB (of 2 KB).
constexpr uint64_t kLargestFilePages = 1u << 19;

// What a page is used for. A page has exactly one use, except that the pages holding
// usage-map rows hold the maps of many tables (and page 1 holds the global map too).
enum class Use : uint8_t {
  kNone,
  kHeader,
  kGlobalMap,
  kMapRows,
  kMapBitmap,
  kDefinition,
  kData,
  kIndex,
  kLongValues
};

struct Claim {
  Use use = Use::kNone;
  uint16_t sub = 0;  // the index of the table, for index pages
  int32_t table = -1;
};

std::string Hex(std::string_view bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string s;
  for (unsigned char c : bytes) {
    if (!s.empty()) s.push_back(' ');
    s.push_back(kHex[c >> 4]);
    s.push_back(kHex[c & 15]);
  }
  return s;
}

std::string PointerText(uint32_t pointer) {
  return "page " + std::to_string(pointer >> 8) + " row " + std::to_string(pointer & 0xFF);
}

// The pages a usage map marks.
struct MapPages {
  std::vector<uint32_t> pages;  // inside the file, ascending
  uint64_t beyond = 0;          // marked pages past the end of the file
};

// The layout of an index page header, which differs between Jet 3 and Jet 4.
struct IndexLayout {
  int next = 0x10, pref_len = 0x18, mask = 0x1B, entries = 0x1E0;
};

// A bounds-checked reader over a table definition's bytes.
struct Cursor {
  const std::vector<uint8_t>& buf;
  size_t pos = 0;
  bool Take(size_t n, const uint8_t*& p) {
    if (pos + n > buf.size()) return false;
    p = &buf[pos];
    pos += n;
    return true;
  }
  bool Skip(size_t n) {
    const uint8_t* p;
    return Take(n, p);
  }
};

// A physical index of the table definition and what checks its keys.
struct IndexDef {
  const PhysicalIndex* physical = nullptr;
  std::string name;                       // of the first logical index it backs; "#n" when none
  std::unique_ptr<IndexKeyEncoder> keys;  // null when its keys cannot be encoded
  int64_t unencoded = 0;                  // rows whose key could not be encoded
  std::vector<size_t> places;             // its key columns' places in a row's values
  // A unique index: the key hash and row of every row whose key has no Null (Jet holds
  // a unique index to one row a key, Nulls apart).
  std::vector<std::pair<uint64_t, uint32_t>> unique_keys;
};

// A live row of a table: where it starts (a moved row: where its pointer is), the
// indexes (bit i: physical index i) that leave it out, its keys being Null, and its
// place in the table's key hashes (one for each index, in order).
struct LiveRow {
  uint32_t pointer;
  uint32_t unindexed;
  size_t hashes;
};

// A key's hash for comparing a leaf entry with the key of its row; 0 means the row's
// key could not be encoded.
uint64_t KeyHash(std::string_view key) {
  const uint64_t h = std::hash<std::string_view>()(key);
  return h == 0 ? 1 : h;
}

struct LongValueMap {
  int column = 0;
  uint32_t used = 0, free = 0;
};

// What a table definition holds beyond its columns.
struct TableExtras {
  std::vector<LongValueMap> long_value_maps;
  uint32_t free_map = 0;
};

class Verifier {
 public:
  Verifier(const std::string& path, JetVerifyReport& report) : path_(path), report_(report) {}

  void Run() {
    try {
      db_ = JetDatabase::Open(path_);
    } catch (const std::exception& e) {
      Fault(std::string("cannot be read: ") + e.what());
      return;
    }
    file_ = &db_->Pages();
    format_ = db_->is_jet3() ? Format::Jet3() : Format::Jet4();
    format_.ace = !db_->is_jet3() && db_->version() != JetVersion::kJet4;
    if (format_.jet3) layout_ = IndexLayout{0x0C, 0x14, 0x16, 0xF8};
    const int code_page = db_->code_page();
    try {
      codec_ = TextCodec::ToUtf8From(code_page > 0 ? "CP" + std::to_string(code_page) : "CP1252");
    } catch (const TrundleError&) {
      codec_ = TextCodec::ToUtf8From("CP1252");
    }
    const uint32_t count = file_->page_count();
    claims_.assign(count, Claim{});
    Take(0, Use::kHeader, -1);
    Take(1, Use::kGlobalMap, -1);
    MapPages global;
    // A damaged global map leaves nothing to hold the pages' uses against, but the
    // tables are still checked.
    const bool global_read = ReadMap(kGlobalMapPointer, "the global usage map", -1, global, true);
    free_.assign(count, false);
    for (uint32_t p : global.pages) free_[p] = true;

    const std::vector<CatalogEntry>& catalog = db_->Catalog();
    for (size_t t = 0; t < catalog.size(); ++t) {
      try {
        CheckTable(catalog[t], int(t));
      } catch (const std::exception& e) {  // a guard: each check catches its own damage
        Fault("table " + catalog[t].name + ": the check stopped: " + e.what());
      }
      ++report_.tables;
    }

    if (!global_read) return;
    Leaks leaks;
    for (uint32_t p = 0; p < count; ++p) {
      const Claim& c = claims_[p];
      if (free_[p] && c.use != Use::kNone) {
        Fault("page " + std::to_string(p) + " is marked free in the global usage map but holds " +
              Describe(c));
      } else if (!free_[p] && c.use == Use::kNone) {
        Unowned(p, leaks);
      }
    }
    leaks.Report(*this);
  }

 private:
  void Fault(std::string text) {
    ++report_.faults;
    if (report_.faults <= JetVerifyReport::kMaxFindings)
      report_.findings.push_back({true, std::move(text)});
  }
  void Note(std::string text) {
    ++report_.notes;
    if (report_.notes <= JetVerifyReport::kMaxFindings)
      report_.findings.push_back({false, std::move(text)});
  }

  std::string TableName(int t) const { return db_->Catalog()[size_t(t)].name; }

  std::string Describe(const Claim& c) const {
    switch (c.use) {
      case Use::kHeader:
        return "the database header";
      case Use::kGlobalMap:
        return "the global usage map";
      case Use::kMapRows:
        return "usage maps";
      case Use::kMapBitmap:
        return "a usage map's bitmap";
      case Use::kDefinition:
        return "the definition of table " + TableName(c.table);
      case Use::kData:
        return "rows of table " + TableName(c.table);
      case Use::kIndex:
        return "index " + index_names_[size_t(c.table)][c.sub] + " of table " + TableName(c.table);
      case Use::kLongValues:
        return "long values of table " + TableName(c.table);
      case Use::kNone:
        break;
    }
    return "nothing";
  }

  // Records that page is used as `use`; a second, different use is a fault. Returns false
  // when the page was already taken by something else.
  bool Take(uint32_t page, Use use, int table, uint16_t sub = 0) {
    Claim& c = claims_[page];
    const Claim mine{use, sub, table};
    if (c.use == Use::kNone) {
      c = mine;
      return true;
    }
    const bool shared_maps =
        use == Use::kMapRows && (c.use == Use::kMapRows || c.use == Use::kGlobalMap);
    // The long-value pages of one table may serve several of its columns.
    const bool same_long_values = use == Use::kLongValues && c.use == use && c.table == table;
    if (shared_maps || same_long_values) return true;
    Fault("page " + std::to_string(page) + " is used twice: for " + Describe(c) + " and for " +
          Describe(mine));
    return false;
  }

  // Pages that are neither free nor used by anything, by kind. Access leaves such pages
  // behind and reclaims them only when it compacts the database: the long-value pages of
  // values it deleted, pages it added to the file and never used, pages of dropped tables
  // and indexes, usage-map pages nothing refers to (all seen in files it wrote). They
  // waste space and harm nothing, so together they make one note.
  struct Leaks {
    static constexpr size_t kKinds = 5;
    // Each kind's name for one page and for more.
    static constexpr const char* kNames[kKinds][2] = {
        {"long-value page", "long-value pages"},
        {"blank page", "blank pages"},
        {"page of usage maps", "pages of usage maps"},
        {"data page of a dropped table or of no live row",
         "data pages of dropped tables or of no live row"},
        {"other page", "other pages"}};
    std::vector<uint32_t> pages[kKinds];

    void Report(Verifier& v) const {
      size_t total = 0;
      std::string kinds, listed;
      int shown = 0;
      for (size_t k = 0; k < kKinds; ++k) {
        if (pages[k].empty()) continue;
        total += pages[k].size();
        kinds += (kinds.empty() ? "" : ", ") + std::to_string(pages[k].size()) + " " +
                 kNames[k][pages[k].size() == 1 ? 0 : 1];
        for (uint32_t p : pages[k])
          if (shown++ < kShownPerCheck)
            listed += (listed.empty() ? "" : ", ") + std::to_string(p);
      }
      if (total == 0) return;
      v.Note(std::to_string(total) + (total == 1 ? " page is" : " pages are") +
             " marked used in the global usage map but nothing uses " +
             (total == 1 ? "it (" : "them (") + kinds + "; page " + listed +
             (total > size_t(kShownPerCheck) ? ", ..." : "") +
             "): space that compacting the database gives back");
    }
  };

  // A page that is neither free nor used by anything: space left behind (see Leaks),
  // unless it is a data page with live rows of a table that exists, whose owned-pages map
  // has lost it: Access would never read those rows again.
  void Unowned(uint32_t page, Leaks& leaks) {
    std::vector<uint8_t> buf;
    file_->Read(page, buf);
    size_t kind = 4;
    if (std::all_of(buf.begin(), buf.end(), [](uint8_t b) { return b == 0; })) {
      kind = 1;
    } else if (buf[0] == kDataPage && std::memcmp(&buf[4], "LVAL", 4) == 0) {
      kind = 0;
    } else if (buf[0] == kDataPage && Get32(&buf[4]) == 0) {
      kind = 2;
    } else if (buf[0] == kDataPage) {
      kind = 3;
      const uint32_t owner = Get32(&buf[4]);
      const std::vector<CatalogEntry>& catalog = db_->Catalog();
      const auto table = std::find_if(catalog.begin(), catalog.end(),
                                      [&](const CatalogEntry& e) { return e.tdef_page == owner; });
      if (table != catalog.end()) {
        const int live = LiveRows(buf);
        if (live > 0) {
          Fault("table " + table->name + ": page " + std::to_string(page) + " holds " +
                std::to_string(live) + " of its rows, but its owned-pages map does not list "
                "the page, so they are lost");
          return;
        }
      }
    }
    leaks.pages[kind].push_back(page);
  }

  // The live rows a data page's row table lists, 0 when the table is not sound.
  int LiveRows(const std::vector<uint8_t>& buf) const {
    const int count = Get16(&buf[size_t(format_.data_row_count)]);
    if (count > kMaxRowsOnPage) return 0;
    int live = 0;
    for (int r = 0; r < count; ++r) {
      RowSpan span;
      try {
        if (!LocateRow(buf, format_, r, span, "")) return 0;
      } catch (const TrundleError&) {
        return 0;
      }
      if (!span.deleted) ++live;
    }
    return live;
  }

  // Reads the usage map at pointer, taking its row's page (and, for a reference map, its
  // bitmap pages). Marked pages past the end of the file are kept apart: the global map
  // covers more pages than the file has. Returns false (after a fault) on a damaged map.
  bool ReadMap(uint32_t pointer, const std::string& what, int table, MapPages& out,
               bool global = false) {
    const uint32_t page = pointer >> 8;
    const int row = int(pointer & 0xFF);
    auto damaged = [&](const std::string& cause) {
      Fault(what + ": " + cause);
      return false;
    };
    if (page == 0 || page >= file_->page_count())
      return damaged("its map lies on page " + std::to_string(page) + ", outside the file");
    if (!global) Take(page, Use::kMapRows, table);
    std::vector<uint8_t> buf;
    file_->Read(page, buf);
    RowSpan span;
    try {
      if (buf[0] != kDataPage || !LocateRow(buf, format_, row, span, what) || span.deleted ||
          span.end - span.begin < 1)
        return damaged("its map (" + PointerText(pointer) + ") is missing");
    } catch (const TrundleError& e) {
      return damaged(std::string("its map's page is damaged: ") + e.what());
    }
    const uint8_t* map = &buf[size_t(span.begin)];
    const int len = span.end - span.begin;
    const uint32_t count = file_->page_count();
    auto mark = [&](uint64_t p) {
      if (p < count)
        out.pages.push_back(uint32_t(p));
      else
        ++out.beyond;
    };
    if (map[0] == 0) {
      if (len < 5) return damaged("its map is cut short");
      const uint32_t start = Get32(map + 1);
      for (int i = 5; i < len; ++i)
        for (int bit = 0; bit < 8; ++bit)
          if (map[i] & (1 << bit)) mark(uint64_t(start) + uint64_t(i - 5) * 8 + uint64_t(bit));
    } else if (map[0] == 1) {
      std::vector<uint8_t> bitmap;
      const uint64_t per_page = uint64_t(format_.page_size - 4) * 8;
      for (int i = 1; i + 4 <= len; i += 4) {
        const uint64_t first = uint64_t((i - 1) / 4) * per_page;
        // A slot for pages no Jet file reaches is never read.
        if (first >= kLargestFilePages) break;
        const uint32_t map_page = Get32(map + i);
        if (map_page == 0) continue;
        if (map_page >= count)
          return damaged("its map refers to page " + std::to_string(map_page) +
                         ", outside the file");
        if (!Take(map_page, Use::kMapBitmap, table)) return false;
        file_->Read(map_page, bitmap);
        if (bitmap[0] != kMapPage)
          return damaged("its map refers to page " + std::to_string(map_page) +
                         ", which is not a usage-map page");
        for (int j = 4; j < format_.page_size; ++j)
          for (int bit = 0; bit < 8; ++bit)
            if (bitmap[size_t(j)] & (1 << bit)) mark(first + uint64_t(j - 4) * 8 + uint64_t(bit));
      }
    } else {
      return damaged("its map is of unknown type " + std::to_string(map[0]));
    }
    std::sort(out.pages.begin(), out.pages.end());
    if (out.beyond > 0 && !global)
      return damaged("its map marks " + std::to_string(out.beyond) +
                     " pages past the end of the file");
    return true;
  }

  // The definition's pages, taken; its bytes as one buffer (continuation pages without
  // their 8-byte headers). False after a fault.
  bool ReadDefinition(const CatalogEntry& e, int t, std::vector<uint8_t>& buf) {
    const std::string where = "table " + e.name;
    std::unordered_set<uint32_t> seen;
    std::vector<uint8_t> page_buf;
    for (uint32_t page = e.tdef_page; page != 0;) {
      if (page >= file_->page_count()) {
        Fault(where + ": its definition lies on page " + std::to_string(page) +
              ", outside the file");
        return false;
      }
      if (!seen.insert(page).second) {
        Fault(where + ": its definition pages form a loop");
        return false;
      }
      Take(page, Use::kDefinition, t);
      file_->Read(page, page_buf);
      if (page_buf[0] != kTdefPage) {
        Fault(where + ": page " + std::to_string(page) + " of its definition is not a definition");
        return false;
      }
      buf.insert(buf.end(), page_buf.begin() + (buf.empty() ? 0 : 8), page_buf.end());
      page = Get32(&page_buf[4]);
    }
    return true;
  }

  // Index definitions and long-value maps: the parts of a definition after the columns.
  bool ReadExtras(const std::vector<uint8_t>& buf, const std::string& where, TableExtras& x) {
    auto cut = [&](const char* part) {
      Fault(where + ": its definition is cut short in its " + part);
      return false;
    };
    const bool j3 = format_.jet3;
    const int num_cols = Get16(&buf[size_t(format_.tdef_num_cols)]);
    const uint32_t num_idx = Get32(&buf[size_t(format_.tdef_num_real_idx - 4)]);
    const uint32_t num_real = Get32(&buf[size_t(format_.tdef_num_real_idx)]);
    x.free_map = Get32(&buf[size_t(format_.tdef_used_pages + 4)]);
    if (num_real > 1000 || num_idx > 1000) {
      Fault(where + ": its definition claims " + std::to_string(num_idx) + " indexes");
      return false;
    }
    Cursor c{buf};
    c.pos = size_t(format_.tdef_header_end) + num_real * size_t(format_.real_idx_entry) +
            size_t(num_cols) * size_t(format_.col_block);
    const uint8_t* p;
    for (int i = 0; i < num_cols; ++i) {
      if (!c.Take(j3 ? 1 : 2, p)) return cut("column names");
      if (!c.Skip(j3 ? p[0] : Get16(p))) return cut("column names");
    }
    // The index definitions and names (ReadTableDef has read them): skipped.
    if (!c.Skip(num_real * (j3 ? 39u : 52u))) return cut("index definitions");
    if (!c.Skip(num_idx * (j3 ? 20u : 28u))) return cut("index list");
    for (uint32_t i = 0; i < num_idx; ++i) {
      if (!c.Take(j3 ? 1 : 2, p)) return cut("index names");
      if (!c.Skip(j3 ? p[0] : Get16(p))) return cut("index names");
    }
    while (true) {
      if (!c.Take(2, p)) return cut("long-value maps");
      if (Get16(p) == 0xFFFF) break;
      LongValueMap m;
      m.column = Get16(p);
      if (!c.Take(8, p)) return cut("long-value maps");
      m.used = Get32(p);
      m.free = Get32(p + 4);
      x.long_value_maps.push_back(m);
    }
    return true;
  }

  // Checks a data page's header and row table; fills rows with each row's span. False
  // after a fault.
  bool CheckDataPage(uint32_t page, const std::vector<uint8_t>& buf, const std::string& where,
                     std::vector<RowSpan>& rows) {
    rows.clear();
    const int count = Get16(&buf[size_t(format_.data_row_count)]);
    const int table_end = format_.data_row_offsets + 2 * count;
    const std::string at = where + ": page " + std::to_string(page);
    if (count > kMaxRowsOnPage || table_end > format_.page_size) {
      Fault(at + " claims " + std::to_string(count) + " rows");
      return false;
    }
    int lowest = format_.page_size;
    for (int r = 0; r < count; ++r) {
      RowSpan span;
      try {
        LocateRow(buf, format_, r, span, at);
      } catch (const TrundleError&) {
        Fault(at + ": row " + std::to_string(r) + " does not lie inside its page (offset " +
              std::to_string(Get16(&buf[size_t(format_.data_row_offsets + 2 * r)])) + ")");
        return false;
      }
      if (span.begin < table_end) {
        Fault(at + ": deleted row " + std::to_string(r) + " lies inside the row table");
        return false;
      }
      lowest = std::min(lowest, span.begin);
      rows.push_back(span);
    }
    const int free_space = Get16(&buf[2]);
    if (free_space != lowest - table_end)
      Fault(at + " says it has " + std::to_string(free_space) + " bytes free, its rows leave " +
            std::to_string(lowest - table_end));
    return true;
  }

  void CheckTable(const CatalogEntry& e, int t) {
    const std::string where = "table " + e.name;
    index_names_.emplace_back();
    std::vector<uint8_t> raw;
    if (!ReadDefinition(e, t, raw)) return;
    TableDef def;
    try {
      def = ReadTableDef(*file_, format_, e.tdef_page, e.name, path_, codec_.get());
    } catch (const TrundleError& err) {
      Fault(where + ": its definition cannot be read: " + err.what());
      return;
    }
    TableExtras extras;
    if (!ReadExtras(raw, where, extras)) return;
    // The physical indexes, each named by the first logical index it backs, with the
    // encoder of its keys when this program knows how they are made.
    std::vector<IndexDef> indexes(def.indexes.size());
    for (size_t i = 0; i < indexes.size(); ++i) {
      IndexDef& d = indexes[i];
      d.physical = &def.indexes[i];
      d.name = "#" + std::to_string(i);
      for (const LogicalIndex& l : def.logical_indexes)
        if (size_t(l.physical) == i) {
          d.name = l.name;
          break;
        }
      index_names_.back().push_back(d.name);
      for (const IndexColumn& c : d.physical->columns)
        for (size_t k = 0; k < def.columns.size(); ++k)
          if (def.columns[k].number == c.number) d.places.push_back(k);
      try {
        d.keys = std::make_unique<IndexKeyEncoder>(format_, def, def.indexes[i]);
      } catch (const TrundleError& err) {
        Note(where + ": index " + d.name + ": its keys are not checked: " + err.what());
      }
    }

    // Data pages.
    MapPages owned;
    if (!ReadMap(def.used_pages, where + "'s owned-pages map", t, owned)) return;
    std::vector<uint8_t> buf;
    std::vector<uint32_t> data_pages;
    for (uint32_t p : owned.pages) {
      if (!Take(p, Use::kData, t)) continue;
      file_->Read(p, buf);
      if (buf[0] != kDataPage || Get32(&buf[4]) != e.tdef_page) {
        Fault(where + ": its owned-pages map marks page " + std::to_string(p) +
              ", which is not one of its data pages");
        continue;
      }
      data_pages.push_back(p);
    }
    if (extras.free_map != 0) {
      MapPages free_space;
      if (ReadMap(extras.free_map, where + "'s free-space map", t, free_space))
        for (uint32_t p : free_space.pages)
          if (!std::binary_search(owned.pages.begin(), owned.pages.end(), p))
            Fault(where + ": its free-space map marks page " + std::to_string(p) +
                  ", which it does not own");
    }

    // Long-value pages: every live row on them, to find the ones no value uses.
    std::vector<uint32_t> lval_pages, lval_rows;
    std::vector<uint64_t> column_pages;  // column number << 32 | page, of every column's map
    std::vector<RowSpan> spans;
    for (const LongValueMap& m : extras.long_value_maps) {
      const std::string what = where + ": the long-value map of column " + std::to_string(m.column);
      MapPages used;
      if (m.used == 0 || !ReadMap(m.used, what, t, used)) continue;
      for (uint32_t p : used.pages) {
        column_pages.push_back(uint64_t(m.column) << 32 | p);
        if (!Take(p, Use::kLongValues, t)) continue;
        if (std::binary_search(lval_pages.begin(), lval_pages.end(), p)) continue;
        file_->Read(p, buf);
        if (buf[0] != kDataPage || std::memcmp(&buf[4], "LVAL", 4) != 0) {
          Fault(what + " marks page " + std::to_string(p) + ", which is not a long-value page");
          continue;
        }
        lval_pages.insert(std::upper_bound(lval_pages.begin(), lval_pages.end(), p), p);
        if (!CheckDataPage(p, buf, where, spans)) continue;
        for (size_t r = 0; r < spans.size(); ++r)
          if (!spans[r].deleted) lval_rows.push_back(p << 8 | uint32_t(r));
      }
      MapPages free_space;
      if (m.free != 0 && ReadMap(m.free, what + "'s free-space map", t, free_space))
        for (uint32_t p : free_space.pages)
          if (!std::binary_search(used.pages.begin(), used.pages.end(), p))
            Fault(what + "'s free-space map marks page " + std::to_string(p) +
                  ", which the column's map does not");
    }

    // Rows.
    RowDecoder decoder(*file_, format_, def, codec_.get(), where);
    std::vector<uint64_t> values_lval_rows;  // column number << 32 | row pointer
    decoder.WatchLongValues(&values_lval_rows);
    std::vector<Variant> values;
    // For each index that leaves out rows whose keys are all Null, the key columns' places
    // in values.
    std::vector<std::vector<size_t>> null_keys(indexes.size());
    for (size_t i = 0; i < indexes.size(); ++i) {
      if (!(indexes[i].physical->flags & kIgnoreNulls)) continue;
      for (const IndexColumn& c : indexes[i].physical->columns)
        for (size_t k = 0; k < def.columns.size(); ++k)
          if (def.columns[k].number == c.number) null_keys[i].push_back(k);
    }
    // Every live row's key in each index, hashed (0: not encoded).
    std::vector<uint64_t> hashes;
    std::string key;
    // AutoNumber columns (Long Integer; a GUID AutoNumber has no counter): the largest
    // value, which the table's counter must have reached, lest Access give it again.
    std::vector<size_t> counted;
    for (size_t k = 0; k < def.columns.size(); ++k)
      if (def.columns[k].column.autonumber && def.columns[k].column.type == kLong)
        counted.push_back(k);
    int64_t largest = 0;
    std::vector<LiveRow> live;
    std::vector<uint8_t> moved_buf;
    for (uint32_t p : data_pages) {
      file_->Read(p, buf);
      if (!CheckDataPage(p, buf, where, spans)) continue;
      for (size_t r = 0; r < spans.size(); ++r) {
        RowSpan span = spans[r];
        if (span.deleted) continue;
        const uint32_t pointer = p << 8 | uint32_t(r);
        const bool moved = span.overflow;
        if (moved && !FollowMoved(pointer, span, owned.pages, where, moved_buf)) continue;
        const std::vector<uint8_t>* row_buf = moved ? &moved_buf : &buf;
        const int64_t bad_text_before = decoder.bad_text();
        try {
          decoder.Decode(&(*row_buf)[size_t(span.begin)], span.end - span.begin, values);
        } catch (const TrundleError& err) {
          Fault(std::string(err.what()) + " (" + PointerText(pointer) + ")");
          continue;
        }
        if (span.end - span.begin > format_.max_row_size)
          Fault(where + ": " + PointerText(pointer) + " is " +
                std::to_string(span.end - span.begin) + " bytes long, more than the " +
                std::to_string(format_.max_row_size) + " a row may take");
        for (size_t k : counted)
          if (values[k].type() == VarType::kInteger)
            largest = std::max(largest, values[k].integer());
        LiveRow row{pointer, 0, hashes.size()};
        for (size_t i = 0; i < null_keys.size() && i < 32; ++i) {
          if (null_keys[i].empty()) continue;
          bool all_null = true;
          for (size_t k : null_keys[i]) all_null = all_null && values[k].IsNull();
          if (all_null) row.unindexed |= 1u << i;
        }
        const bool bad_text = decoder.bad_text() != bad_text_before;
        for (size_t i = 0; i < indexes.size(); ++i) {
          IndexDef& d = indexes[i];
          uint64_t h = 0;
          // Text the reader could not read whole has no key to compare.
          if (d.keys && !bad_text && d.keys->Encode(values, key)) {
            h = KeyHash(key);
            if ((d.physical->flags & kIndexUnique) &&
                std::none_of(d.places.begin(), d.places.end(),
                             [&](size_t k) { return values[k].IsEmpty(); }))
              d.unique_keys.emplace_back(h, pointer);
          } else if (d.keys && !bad_text && d.unencoded++ == 0)
            Note(where + ": index " + d.name + ": the key of " + PointerText(pointer) +
                 " cannot be encoded, nor checked: " + d.keys->error());
          hashes.push_back(h);
        }
        live.push_back(row);
      }
    }
    report_.rows += int64_t(live.size());

    if (live.size() != def.row_count) {
      const std::string text = where + ": its definition counts " + std::to_string(def.row_count) +
                               " rows, it holds " + std::to_string(live.size());
      if (e.system)
        Note(text);
      else
        Fault(text);
    }

    // The definition keeps the last number given (every fixture's largest equals it).
    const uint32_t last_number = Get32(&raw[size_t(format_.tdef_row_count + 4)]);
    if (largest > int64_t(last_number)) {
      const std::string text = where + ": its AutoNumber counter is at " +
                               std::to_string(last_number) + ", below the " +
                               std::to_string(largest) + " a row holds";
      if (e.system)
        Note(text);
      else
        Fault(text);
    }

    // Long values: on their column's long-value pages, each row serving one value.
    std::sort(column_pages.begin(), column_pages.end());
    std::vector<uint32_t> used_lval_rows;
    int shown = 0, more = 0;
    for (uint64_t watched : values_lval_rows) {
      const uint32_t lv = uint32_t(watched);
      used_lval_rows.push_back(lv);
      std::string problem;
      if (!std::binary_search(lval_pages.begin(), lval_pages.end(), lv >> 8))
        problem = "holds a long value but lies on a page its long-value maps do not list";
      else if (!std::binary_search(column_pages.begin(), column_pages.end(),
                                   (watched >> 32) << 32 | (lv >> 8)))
        problem = "holds a long value of column " + std::to_string(watched >> 32) +
                  " on a page another column's map lists";
      if (problem.empty()) continue;
      if (shown++ < kShownPerCheck)
        Fault(where + ": " + PointerText(lv) + " " + problem);
      else
        ++more;
    }
    std::sort(used_lval_rows.begin(), used_lval_rows.end());
    for (size_t i = 1; i < used_lval_rows.size(); ++i) {
      if (used_lval_rows[i] != used_lval_rows[i - 1]) continue;
      if (shown++ < kShownPerCheck)
        Fault(where + ": " + PointerText(used_lval_rows[i]) + " serves two long values");
      else
        ++more;
    }
    if (more > 0) Fault(where + ": " + std::to_string(more) + " more long-value rows like those");
    size_t unused = 0;
    for (uint32_t lv : lval_rows)
      if (!std::binary_search(used_lval_rows.begin(), used_lval_rows.end(), lv)) ++unused;
    if (unused > 0)
      Note(where + ": " + std::to_string(unused) + " long-value rows are used by no value");

    // Indexes.
    std::sort(live.begin(), live.end(),
              [](const LiveRow& a, const LiveRow& b) { return a.pointer < b.pointer; });
    std::vector<uint32_t> pointers;
    pointers.reserve(live.size());
    for (const LiveRow& r : live) pointers.push_back(r.pointer);
    for (size_t i = 0; i < indexes.size(); ++i) {
      if (indexes[i].unencoded > 1)
        Note(where + ": index " + indexes[i].name + ": the keys of " +
             std::to_string(indexes[i].unencoded) + " rows could not be encoded, nor checked");
      CheckIndex(e, t, i, indexes[i], pointers, live, hashes);
      CheckUnique(where, indexes[i]);
    }
  }

  // A unique index: no two rows of the same key (their hashes equal).
  void CheckUnique(const std::string& where, IndexDef& d) {
    std::sort(d.unique_keys.begin(), d.unique_keys.end());
    int64_t twice = 0;
    for (size_t i = 1; i < d.unique_keys.size(); ++i) {
      if (d.unique_keys[i].first != d.unique_keys[i - 1].first) continue;
      if (twice++ < kShownPerCheck)
        Fault(where + ": index " + d.name + " is unique, yet " +
              PointerText(d.unique_keys[i - 1].second) + " and " +
              PointerText(d.unique_keys[i].second) + " hold the same key");
    }
    if (twice > kShownPerCheck)
      Fault(where + ": index " + d.name + ": " + std::to_string(twice - kShownPerCheck) +
            " more rows of a key another row holds");
  }

  // A moved row: follows its pointer (at most a few hops) to the row holding its data,
  // which must lie on a data page of the same table. Leaves the row's page in out and its
  // place in span. False after a fault.
  bool FollowMoved(uint32_t pointer, RowSpan& span, const std::vector<uint32_t>& owned,
                   const std::string& where, std::vector<uint8_t>& out) {
    std::vector<uint8_t> here;
    file_->Read(pointer >> 8, here);
    for (int hops = 0; span.overflow; ++hops) {
      const std::string at = where + ": moved row " + PointerText(pointer);
      if (hops > 8 || span.end - span.begin < 4) {
        Fault(at + " cannot be followed");
        return false;
      }
      const uint8_t* p = &here[size_t(span.begin)];
      const uint32_t target = Get24(p + 1) << 8 | p[0];
      if (!std::binary_search(owned.begin(), owned.end(), target >> 8)) {
        Fault(at + " points to " + PointerText(target) + ", not a page of its table");
        return false;
      }
      file_->Read(target >> 8, out);
      try {
        if (out[0] != kDataPage || !LocateRow(out, format_, int(target & 0xFF), span, at, true)) {
          Fault(at + " points to " + PointerText(target) + ", which does not exist");
          return false;
        }
      } catch (const TrundleError&) {
        Fault(at + " points to " + PointerText(target) + ", which lies outside its page");
        return false;
      }
      here = out;
    }
    return true;
  }

  // Walks an index from its first page through child and sibling pointers, then holds its
  // leaf entries against the table's live rows: each points at one, with the key of its
  // values (hashes: see LiveRow), and each row has one.
  void CheckIndex(const CatalogEntry& e, int t, size_t number, const IndexDef& d,
                  const std::vector<uint32_t>& pointers, const std::vector<LiveRow>& live,
                  const std::vector<uint64_t>& hashes) {
    const std::string where = "table " + e.name + ": index " + d.name;
    MapPages pages;
    if (!ReadMap(d.physical->map, where + "'s map", t, pages)) return;
    for (uint32_t p : pages.pages) Take(p, Use::kIndex, t, uint16_t(number));

    std::vector<uint32_t> entries;
    std::vector<std::string> wrong_keys;  // the first entries whose key is not their row's
    int64_t wrong = 0;
    std::unordered_set<uint32_t> seen;
    std::deque<uint32_t> queue{d.physical->first_page};
    std::vector<uint8_t> buf, first_entry, full;
    std::vector<uint32_t> disordered;
    const int ps = format_.page_size;
    while (!queue.empty()) {
      const uint32_t page = queue.front();
      queue.pop_front();
      if (!seen.insert(page).second) continue;
      const std::string at = where + ": page " + std::to_string(page);
      if (page == 0 || page >= file_->page_count()) {
        Fault(where + ": it refers to page " + std::to_string(page) + ", outside the file");
        continue;
      }
      if (!std::binary_search(pages.pages.begin(), pages.pages.end(), page))
        Fault(at + " is reached from the index but its map does not list it");
      file_->Read(page, buf);
      if ((buf[0] != kIndexNode && buf[0] != kIndexLeaf) || Get32(&buf[4]) != e.tdef_page) {
        Fault(at + " is not a page of the index");
        continue;
      }
      const bool leaf = buf[0] == kIndexLeaf;
      // The shared prefix's length: Jet 3 gives it one byte (the next is 1 on node pages,
      // as the byte after Jet 4's two is), Jet 4 two.
      const size_t pref_len =
          format_.jet3 ? buf[size_t(layout_.pref_len)] : Get16(&buf[size_t(layout_.pref_len)]);
      const uint32_t next = Get32(&buf[size_t(layout_.next)]);
      if (next != 0) queue.push_back(next);
      // An intermediate page keeps its last child in the tail field, not as an entry.
      const uint32_t tail_page = Get32(&buf[size_t(layout_.next + 4)]);
      if (!leaf && tail_page != 0) queue.push_back(tail_page);
      // Bit i of the mask set: an entry ends (and the next begins) at entries + i.
      int begin = layout_.entries;
      bool first = true, out_of_order = false;
      std::vector<uint8_t> previous_key;
      bool broken = false;
      for (int i = 0; layout_.mask + i / 8 < layout_.entries && !broken; ++i) {
        if (!(buf[size_t(layout_.mask + i / 8)] & (1 << (i % 8)))) continue;
        const int end = layout_.entries + i;
        if (end > ps || end <= begin) {
          Fault(at + ": its entry mask marks an entry outside the page");
          broken = true;
          break;
        }
        if (first) {
          first_entry.assign(&buf[size_t(begin)], &buf[size_t(end)]);
          full = first_entry;
          if (pref_len > first_entry.size()) {
            Fault(at + ": its shared prefix is longer than its first entry");
            broken = true;
            break;
          }
        } else {
          full.assign(first_entry.begin(), first_entry.begin() + std::ptrdiff_t(pref_len));
          full.insert(full.end(), &buf[size_t(begin)], &buf[size_t(end)]);
        }
        first = false;
        begin = end;
        const size_t need = leaf ? 4 : 8;
        if (full.size() < need + 1) {
          Fault(at + ": an entry is too short for its pointers");
          broken = true;
          break;
        }
        // Entries are kept in the order of their key bytes.
        const auto key_end = full.end() - std::ptrdiff_t(need);
        if (!previous_key.empty() &&
            std::lexicographical_compare(full.begin(), key_end, previous_key.begin(),
                                         previous_key.end()))
          out_of_order = true;
        previous_key.assign(full.begin(), key_end);
        const uint8_t* tail = &full[full.size() - need];
        const uint32_t row_pointer = uint32_t(tail[0]) << 16 | uint32_t(tail[1]) << 8 | tail[2];
        if (leaf) {
          const uint32_t entry = row_pointer << 8 | tail[3];
          entries.push_back(entry);
          auto it = std::lower_bound(pointers.begin(), pointers.end(), entry);
          if (it != pointers.end() && *it == entry) {
            const uint64_t h = hashes[live[size_t(it - pointers.begin())].hashes + number];
            const std::string_view key(reinterpret_cast<const char*>(full.data()),
                                       full.size() - need);
            if (h != 0 && h != KeyHash(key) && wrong++ < kShownPerCheck)
              wrong_keys.push_back("the entry for " + PointerText(entry) + " (page " +
                                   std::to_string(page) + ") holds the key " + Hex(key) +
                                   ", not the key of the row's values");
          }
        } else {
          queue.push_back(uint32_t(tail[4]) << 24 | uint32_t(tail[5]) << 16 |
                          uint32_t(tail[6]) << 8 | tail[7]);
        }
      }
      if (out_of_order) disordered.push_back(page);
    }
    for (uint32_t p : disordered)
      Fault(where + ": page " + std::to_string(p) + " holds entries out of key order");
    for (const std::string& text : wrong_keys) Fault(where + ": " + text);
    if (wrong > kShownPerCheck)
      Fault(where + ": " + std::to_string(wrong - kShownPerCheck) +
            " more entries whose key is not their row's");
    for (uint32_t p : pages.pages)
      if (!seen.count(p))
        Note(where + ": page " + std::to_string(p) + " is listed in its map but not reached");

    std::sort(entries.begin(), entries.end());
    int shown = 0, more = 0;
    auto report = [&](const std::string& text) {
      if (shown++ < kShownPerCheck)
        Fault(where + ": " + text);
      else
        ++more;
    };
    for (size_t i = 0; i < entries.size(); ++i) {
      if (i > 0 && entries[i] == entries[i - 1]) {
        report("two entries point at " + PointerText(entries[i]));
        continue;
      }
      auto it = std::lower_bound(pointers.begin(), pointers.end(), entries[i]);
      if (it == pointers.end() || *it != entries[i])
        report("an entry points at " + PointerText(entries[i]) + ", which is not a live row");
      else if (number < 32 && (live[size_t(it - pointers.begin())].unindexed >> number) & 1)
        report("an entry points at " + PointerText(entries[i]) +
               ", whose keys are Null in an index that leaves Nulls out");
    }
    for (size_t r = 0; r < pointers.size(); ++r) {
      if (number < 32 && (live[r].unindexed >> number) & 1) continue;
      if (!std::binary_search(entries.begin(), entries.end(), pointers[r]))
        report(PointerText(pointers[r]) + " has no entry");
    }
    if (more > 0) Fault(where + ": " + std::to_string(more) + " more entries or rows like those");
  }

  const std::string& path_;
  JetVerifyReport& report_;
  std::unique_ptr<JetDatabase> db_;
  const PageFile* file_ = nullptr;
  Format format_;
  IndexLayout layout_;
  std::unique_ptr<TextCodec> codec_;
  std::vector<Claim> claims_;
  std::vector<bool> free_;
  std::vector<std::vector<std::string>> index_names_;  // per table, per physical index
};

}  // namespace

std::string JetVerifyReport::Text() const {
  auto count = [](long long n, const char* what) {
    return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
  };
  std::string out;
  for (const JetFinding& f : findings)
    out += path + (f.fault ? ": fault: " : ": note: ") + f.text + "\n";
  const int dropped = std::max(0, faults - kMaxFindings) + std::max(0, notes - kMaxFindings);
  if (dropped > 0) out += path + ": " + count(dropped, "more finding") + " not shown\n";
  out += path + ": " + count(tables, "table") + ", " + count(rows, "row") + ": ";
  if (sound())
    out += notes == 0 ? "sound\n" : "sound, with " + count(notes, "note") + "\n";
  else
    out += count(faults, "fault") + ", " + count(notes, "note") + "\n";
  return out;
}

JetVerifyReport VerifyJetDatabase(const std::string& path) {
  JetVerifyReport report;
  report.path = path;
  Verifier(path, report).Run();
  return report;
}

}  // namespace trundle::jet
