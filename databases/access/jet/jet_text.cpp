#include "databases/access/jet/jet_text.h"

namespace trundle::jet {
namespace {

void AppendCodePoint(uint32_t c, std::string& out) {
  if (c < 0x80) {
    out.push_back(char(c));
  } else if (c < 0x800) {
    out.push_back(char(0xC0 | (c >> 6)));
    out.push_back(char(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(char(0xE0 | (c >> 12)));
    out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(char(0x80 | (c & 0x3F)));
  } else {
    out.push_back(char(0xF0 | (c >> 18)));
    out.push_back(char(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(char(0x80 | (c & 0x3F)));
  }
}

constexpr uint32_t kReplacement = 0xFFFD;

}  // namespace

bool AppendUtf16(const uint8_t* data, size_t size, std::string& out) {
  bool ok = (size % 2) == 0;
  const size_t units = size / 2;
  for (size_t i = 0; i < units; ++i) {
    const uint32_t u = uint32_t(data[2 * i] | (data[2 * i + 1] << 8));
    if (u < 0x80) {
      out.push_back(char(u));
    } else if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
      const uint32_t v = uint32_t(data[2 * i + 2] | (data[2 * i + 3] << 8));
      if (v >= 0xDC00 && v <= 0xDFFF) {
        AppendCodePoint(0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00), out);
        ++i;
      } else {
        AppendCodePoint(kReplacement, out);
        ok = false;
      }
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      AppendCodePoint(kReplacement, out);
      ok = false;
    } else {
      AppendCodePoint(u, out);
    }
  }
  return ok;
}

bool AppendJet4Text(const uint8_t* data, size_t size, std::string& out) {
  if (size < 2 || data[0] != 0xFF || data[1] != 0xFE) return AppendUtf16(data, size, out);
  bool ok = true;
  bool compressed = true;
  size_t i = 2;
  while (i < size) {
    if (data[i] == 0) {
      compressed = !compressed;
      ++i;
    } else if (compressed) {
      AppendCodePoint(data[i], out);
      ++i;
    } else {
      // A run of UTF-16 characters up to the next marker.
      size_t end = i;
      while (end + 1 < size && data[end] != 0) end += 2;
      if (end + 1 >= size && end < size && data[end] != 0) {
        ok = false;  // an odd byte at the end
        end = size;
      }
      ok = AppendUtf16(data + i, (end - i) & ~size_t(1), out) && ok;
      i = end;
    }
  }
  return ok;
}

bool Utf8ToUtf16(std::string_view text, std::u16string& out) {
  const auto* p = reinterpret_cast<const uint8_t*>(text.data());
  const size_t n = text.size();
  // No UTF-8 sequence gives more UTF-16 units than it has bytes, so the units are written
  // in place and the string cut to their number at the end.
  out.resize(n);
  char16_t* o = out.data();
  size_t i = 0;
  bool ok = true;
  while (i < n) {
    const uint8_t b = p[i];
    if (b < 0x80) {
      *o++ = char16_t(b);
      ++i;
      continue;
    }
    int more = 0;
    uint32_t c = 0, least = 0;
    if ((b & 0xE0) == 0xC0) {
      more = 1, c = b & 0x1Fu, least = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
      more = 2, c = b & 0x0Fu, least = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
      more = 3, c = b & 0x07u, least = 0x10000;
    } else {
      more = -1;
    }
    bool good = more > 0 && i + size_t(more) < n;
    for (int k = 1; good && k <= more; ++k) {
      if ((p[i + size_t(k)] & 0xC0) != 0x80) good = false;
      else c = (c << 6) | (p[i + size_t(k)] & 0x3Fu);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not valid UTF-8.
    if (good && (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))) good = false;
    if (!good) {
      *o++ = char16_t(kReplacement);
      ok = false;
      ++i;
      continue;
    }
    if (c >= 0x10000) {  // four bytes, two units
      c -= 0x10000;
      *o++ = char16_t(0xD800 + (c >> 10));
      *o++ = char16_t(0xDC00 + (c & 0x3FF));
    } else {
      *o++ = char16_t(c);
    }
    i += size_t(more) + 1;
  }
  out.resize(size_t(o - out.data()));
  return ok;
}

void EncodeJet4Text(const std::u16string& units, bool compress, std::string& out) {
  out.clear();
  if (compress && !units.empty()) {
    // A unit whose low byte is zero would read as a switch in either kind of run.
    bool can = true;
    size_t size = 2;
    bool one_byte = true;
    for (char16_t u : units) {
      if ((u & 0xFF) == 0) {
        can = false;
        break;
      }
      const bool narrow = u < 0x100;
      if (narrow != one_byte) ++size, one_byte = narrow;
      size += narrow ? 1 : 2;
    }
    if (can && size < 2 * units.size()) {
      out.resize(size);
      char* o = out.data();
      *o++ = char(0xFF);
      *o++ = char(0xFE);
      one_byte = true;
      for (char16_t u : units) {
        const bool narrow = u < 0x100;
        if (narrow != one_byte) *o++ = '\0', one_byte = narrow;
        *o++ = char(u & 0xFF);
        if (!narrow) *o++ = char(u >> 8);
      }
      return;
    }
  }
  out.resize(2 * units.size());
  for (size_t i = 0; i < units.size(); ++i) {
    out[2 * i] = char(units[i] & 0xFF);
    out[2 * i + 1] = char(units[i] >> 8);
  }
}

}  // namespace trundle::jet
