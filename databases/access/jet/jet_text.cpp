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

}  // namespace trundle::jet
