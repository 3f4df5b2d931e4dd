#include "databases/access/jet/jet_props.h"

#include <cstring>

#include "databases/access/jet/jet_text.h"
#include "engine/ascii.h"

namespace trundle::jet {
namespace {

constexpr uint16_t kNamesChunk = 0x80;
constexpr uint16_t kColumnChunk = 0x01;

uint16_t At16(std::string_view b, size_t i) {
  return uint16_t(uint8_t(b[i]) | (uint8_t(b[i + 1]) << 8));
}

uint32_t At32(std::string_view b, size_t i) {
  return uint32_t(At16(b, i)) | (uint32_t(At16(b, i + 2)) << 16);
}

std::string Name(std::string_view bytes, bool jet3, TextCodec* jet3_text) {
  std::string out;
  if (jet3)
    jet3_text->Convert(bytes, out);
  else
    AppendUtf16(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), out);
  return out;
}

}  // namespace

bool ParseColumnProperties(std::string_view blob, bool jet3, TextCodec* jet3_text,
                           std::vector<ColumnProperties>& out) {
  out.clear();
  if (blob.empty()) return true;
  if (blob.size() < 4 || std::memcmp(blob.data(), jet3 ? "KKD\0" : "MR2\0", 4) != 0)
    return false;
  std::vector<std::string> names;
  for (size_t pos = 4; pos < blob.size();) {
    if (blob.size() - pos < 6) return false;
    const uint32_t length = At32(blob, pos);
    const uint16_t type = At16(blob, pos + 4);
    if (length < 6 || length > blob.size() - pos) return false;
    const std::string_view chunk = blob.substr(pos + 6, length - 6);
    pos += length;
    if (type == kNamesChunk) {
      names.clear();
      for (size_t i = 0; i < chunk.size();) {
        if (chunk.size() - i < 2) return false;
        const size_t n = At16(chunk, i);
        if (n > chunk.size() - i - 2) return false;
        names.push_back(Name(chunk.substr(i + 2, n), jet3, jet3_text));
        i += 2 + n;
      }
      continue;
    }
    if (type != kColumnChunk) continue;  // the table's own block, or a kind not known
    if (chunk.size() < 6) return false;
    const uint32_t header = At32(chunk, 0);
    const size_t name_length = At16(chunk, 4);
    if (header < 6 + name_length || header > chunk.size()) return false;
    ColumnProperties col;
    col.column = Name(chunk.substr(6, name_length), jet3, jet3_text);
    for (size_t i = header; i < chunk.size();) {
      if (chunk.size() - i < 8) return false;
      const size_t entry = At16(chunk, i);
      const uint16_t name_index = At16(chunk, i + 4);
      const size_t value_length = At16(chunk, i + 6);
      if (entry < 8 + value_length || entry > chunk.size() - i) return false;
      if (name_index < names.size() && value_length >= 1) {
        const bool value = chunk[i + 8] != 0;
        if (names[name_index] == "Required") {
          col.has_required = true;
          col.required = value;
        } else if (names[name_index] == "AllowZeroLength") {
          col.has_allow_zero_length = true;
          col.allow_zero_length = value;
        }
      }
      i += entry;
    }
    out.push_back(std::move(col));
  }
  return true;
}

void ApplyColumnProperties(const std::vector<ColumnProperties>& props, TableDef& def) {
  for (ColumnDef& c : def.columns) {
    const ColumnProperties* match = nullptr;
    for (const ColumnProperties& p : props)
      if (p.column == c.column.name) {
        match = &p;
        break;
      }
    if (!match)
      for (const ColumnProperties& p : props)
        if (EqualsIgnoringAsciiCase(p.column, c.column.name)) {
          match = &p;
          break;
        }
    if (!match) continue;
    if (match->has_required) c.column.required = match->required;
    if (match->has_allow_zero_length) c.column.allow_zero_length = match->allow_zero_length;
  }
}

}  // namespace trundle::jet
