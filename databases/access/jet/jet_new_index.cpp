#include "databases/access/jet/jet_new_index.h"

#include <algorithm>
#include <numeric>

#include "databases/access/jet/jet_tdef.h"
#include "databases/access/jet/jet_text.h"

namespace trundle::jet {
namespace {

// Facts from indexes Access made (the fixtures' tables, Jet 3 and Jet 4): a Jet 4 index
// definition starts with 83 07 00 00 and a logical index with the format's number 59 06
// 00 00; a logical index that is no relationship's holds 04 04 just before its kind, no
// related index (FF FF FF FF) and no related table. Jet 4 sets 0x80 in every index's
// flags; a primary key's are unique and required.
constexpr uint32_t kJet4IndexMagic = 0x0783;
constexpr uint32_t kJet4Magic = 0x0659;
constexpr uint8_t kJet4IndexFlag = 0x80;
constexpr uint8_t kIndexLeafPage = 0x04;
constexpr size_t kMaxKeyColumns = 10;

void Append(std::vector<uint8_t>& out, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

std::string Folded(const std::string& name) {
  std::string out = name;
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = char(c + 32);
  return out;
}

std::string NameBytes(const std::string& name, bool jet3, TextCodec* jet3_names) {
  std::string out;
  if (jet3) {
    jet3_names->Convert(name, out);
    return out;
  }
  std::u16string units;
  Utf8ToUtf16(name, units);
  for (char16_t u : units) {
    out.push_back(char(u & 0xFF));
    out.push_back(char(u >> 8));
  }
  return out;
}

}  // namespace

std::string CheckNewIndexes(const std::vector<NewColumn>& columns,
                            const std::vector<NewIndex>& indexes) {
  std::vector<std::string> names;
  int primary = 0;
  for (const NewIndex& x : indexes) {
    const std::string bad = CheckObjectName(x.name);
    if (!bad.empty()) return bad;
    if (std::find(names.begin(), names.end(), Folded(x.name)) != names.end())
      return "Index already exists.";
    names.push_back(Folded(x.name));
    if (x.primary && ++primary > 1) return "Primary key already exists.";
    if (x.columns.empty()) return "No field defined--cannot append TableDef or Index.";
    if (x.columns.size() > kMaxKeyColumns) return "Too many fields defined.";
    for (size_t i = 0; i < x.columns.size(); ++i) {
      const int c = x.columns[i];
      if (c < 0 || size_t(c) >= columns.size()) return "Invalid field definition in index.";
      if (std::count(x.columns.begin(), x.columns.end(), c) > 1)
        return "Can't define field more than once.";
      if (columns[size_t(c)].type == kMemo || columns[size_t(c)].type == kOle)
        return "Can't index field '" + columns[size_t(c)].name + "': a Memo or OLE Object field";
    }
  }
  return {};
}

void AppendIndexCounts(const Format& format, size_t count, std::vector<uint8_t>& out) {
  out.insert(out.end(), count * size_t(format.real_idx_entry), 0);
}

void AppendIndexDefinitions(const Format& format, const std::vector<NewIndex>& indexes,
                            const std::vector<std::pair<uint32_t, uint32_t>>& pages,
                            TextCodec* jet3_names, std::vector<uint8_t>& out) {
  const bool jet3 = format.jet3;
  for (size_t i = 0; i < indexes.size(); ++i) {
    const NewIndex& x = indexes[i];
    if (!jet3) Append(out, kJet4IndexMagic, 4);
    for (size_t k = 0; k < kMaxKeyColumns; ++k) {
      Append(out, k < x.columns.size() ? uint32_t(x.columns[k]) : 0xFFFF, 2);
      out.push_back(k < x.columns.size() ? 0x01 : 0x00);  // ascending
    }
    Append(out, pages[i].first, 4);
    Append(out, pages[i].second, 4);
    if (!jet3) Append(out, 0, 4);
    uint8_t flags = uint8_t((x.primary || x.unique ? kIndexUnique : 0) |
                            (x.primary ? kIndexRequired : 0));
    if (!jet3) flags |= kJet4IndexFlag;
    out.push_back(flags);
    if (!jet3) Append(out, 0, 5);
  }
  std::vector<size_t> order(indexes.size());
  std::iota(order.begin(), order.end(), size_t(0));
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return Folded(indexes[a].name) < Folded(indexes[b].name);
  });
  for (size_t i : order) {
    if (!jet3) Append(out, kJet4Magic, 4);
    Append(out, uint32_t(i), 4);  // the logical index's number
    Append(out, uint32_t(i), 4);  // its physical index
    out.push_back(0);             // no relationship
    Append(out, 0xFFFFFFFF, 4);
    Append(out, 0, 4);
    out.insert(out.end(), {0x04, 0x04});
    out.push_back(indexes[i].primary ? kIndexPrimaryKey : 0);
    if (!jet3) Append(out, 0, 4);
  }
  for (size_t i : order) {
    const std::string bytes = NameBytes(indexes[i].name, jet3, jet3_names);
    Append(out, uint32_t(bytes.size()), jet3 ? 1 : 2);
    out.insert(out.end(), bytes.begin(), bytes.end());
  }
}

std::vector<uint8_t> EmptyIndexRoot(const Format& format, uint32_t owner) {
  std::vector<uint8_t> page(size_t(format.page_size), 0);
  page[0] = kIndexLeafPage;
  page[1] = 0x01;
  const int entries = format.jet3 ? 0xF8 : 0x1E0;
  Put16(&page[2], uint32_t(format.page_size - entries));
  Put32(&page[4], owner);
  return page;
}

}  // namespace trundle::jet
