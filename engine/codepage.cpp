#include "engine/codepage.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "engine/ascii.h"
#include "engine/errors.h"

namespace trundle {
namespace {

bool AllDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

}  // namespace

bool IsValidUtf8(std::string_view text) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    // Fast path over plain ASCII, eight bytes at a time.
    while (i + 8 <= n) {
      uint64_t w;
      std::memcpy(&w, s + i, 8);
      if (w & 0x8080808080808080ULL) break;
      i += 8;
    }
    if (i >= n) break;
    const unsigned char c = s[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    int len;
    uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF)
      len = 2, cp = c & 0x1F;
    else if (c >= 0xE0 && c <= 0xEF)
      len = 3, cp = c & 0x0F;
    else if (c >= 0xF0 && c <= 0xF4)
      len = 4, cp = c & 0x07;
    else
      return false;
    if (i + len > n) return false;
    for (int k = 1; k < len; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (s[i + k] & 0x3F);
    }
    if ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
        (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
      return false;
    i += len;
  }
  return true;
}

std::string LocaleWindowsCodePage() {
  const char* names[] = {"LC_ALL", "LC_CTYPE", "LANG"};
  std::string locale;
  for (const char* n : names) {
    const char* v = std::getenv(n);
    if (v && *v) {
      locale = v;
      break;
    }
  }
  const std::string lang = locale.substr(0, locale.find_first_of("_.@"));
  const std::string region =
      locale.find('_') == std::string::npos ? "" : locale.substr(locale.find('_') + 1, 2);
  struct Entry {
    const char* lang;
    const char* cp;
  };
  static constexpr Entry kTable[] = {
      {"ru", "CP1251"}, {"uk", "CP1251"}, {"be", "CP1251"}, {"bg", "CP1251"}, {"sr", "CP1251"},
      {"mk", "CP1251"}, {"pl", "CP1250"}, {"cs", "CP1250"}, {"sk", "CP1250"}, {"hu", "CP1250"},
      {"hr", "CP1250"}, {"sl", "CP1250"}, {"ro", "CP1250"}, {"bs", "CP1250"}, {"sq", "CP1250"},
      {"el", "CP1253"}, {"tr", "CP1254"}, {"az", "CP1254"}, {"he", "CP1255"}, {"ar", "CP1256"},
      {"fa", "CP1256"}, {"ur", "CP1256"}, {"et", "CP1257"}, {"lv", "CP1257"}, {"lt", "CP1257"},
      {"vi", "CP1258"}, {"th", "CP874"},  {"ja", "CP932"},  {"ko", "CP949"},
  };
  for (const Entry& e : kTable)
    if (lang == e.lang) return e.cp;
  if (lang == "zh") return region == "TW" || region == "HK" ? "CP950" : "CP936";
  return "CP1252";
}

bool IsUtf8Name(std::string_view name) {
  const std::string u = UpperAscii(name);
  return u == "UTF-8" || u == "UTF8" || u == "65001" || u == "CP65001";
}

std::string NormalizeCodePageName(std::string_view name) {
  std::string u = UpperAscii(name);
  if (IsUtf8Name(u)) return "UTF-8";
  for (const char* prefix : {"WINDOWS-", "WINDOWS", "CP-", "CP", "WIN", "IBM", "DOS"}) {
    const size_t len = std::strlen(prefix);
    if (u.size() > len && u.compare(0, len, prefix) == 0 && AllDigits(u.substr(len)))
      return "CP" + u.substr(len);
  }
  if (AllDigits(u)) return "CP" + u;
  if (u == "LATIN1" || u == "LATIN-1") return "ISO-8859-1";
  return u;
}

TextCodec::TextCodec(std::string code_page, iconv_t cd, bool identity, bool source_is_utf8)
    : code_page_(std::move(code_page)),
      cd_(cd),
      identity_(identity),
      source_is_utf8_(source_is_utf8) {}

TextCodec::~TextCodec() {
  if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
}

std::unique_ptr<TextCodec> TextCodec::ToUtf8From(std::string_view code_page) {
  const std::string name = NormalizeCodePageName(code_page);
  if (name == "UTF-8")
    return std::unique_ptr<TextCodec>(
        new TextCodec(name, reinterpret_cast<iconv_t>(-1), true, true));
  iconv_t cd = iconv_open("UTF-8", name.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1))
    throw TrundleError("Unknown code page " + std::string(code_page));
  return std::unique_ptr<TextCodec>(new TextCodec(name, cd, false, false));
}

std::unique_ptr<TextCodec> TextCodec::FromUtf8To(std::string_view code_page) {
  const std::string name = NormalizeCodePageName(code_page);
  if (name == "UTF-8")
    return std::unique_ptr<TextCodec>(
        new TextCodec(name, reinterpret_cast<iconv_t>(-1), true, true));
  iconv_t cd = iconv_open(name.c_str(), "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1))
    throw TrundleError("Unknown code page " + std::string(code_page));
  return std::unique_ptr<TextCodec>(new TextCodec(name, cd, false, true));
}

bool TextCodec::Convert(std::string_view in, std::string& out) {
  size_t used = 0;
  if (!identity_) iconv(cd_, nullptr, nullptr, nullptr, nullptr);
  return ConvertPiece(in, true, out, used);
}

namespace {

// Bytes at the end of text that begin a UTF-8 sequence but not all of it (0 to 3).
size_t CutUtf8Tail(std::string_view text) {
  for (size_t back = 1; back <= std::min<size_t>(3, text.size()); ++back) {
    const auto c = static_cast<unsigned char>(text[text.size() - back]);
    if ((c & 0xC0) == 0x80) continue;  // a continuation byte: look further back
    const size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    return length > back ? back : 0;
  }
  return 0;
}

}  // namespace

bool TextCodec::ConvertPiece(std::string_view in, bool last, std::string& out, size_t& used) {
  if (identity_) {
    const size_t keep = last ? 0 : CutUtf8Tail(in);
    used = in.size() - keep;
    out.append(in.substr(0, used));
    return IsValidUtf8(in.substr(0, used));
  }
  bool all_ok = true;
  char* src = const_cast<char*>(in.data());
  size_t src_left = in.size();
  char buf[4096];
  while (src_left > 0) {
    char* dst = buf;
    size_t dst_left = sizeof buf;
    const size_t r = iconv(cd_, &src, &src_left, &dst, &dst_left);
    out.append(buf, static_cast<size_t>(dst - buf));
    if (r == static_cast<size_t>(-1)) {
      if (errno == E2BIG) continue;
      // EINVAL: a sequence cut short at the end, which the next piece completes.
      if (errno == EINVAL && !last) break;
      // EILSEQ: a character the source cannot hold or the target cannot take; or the
      // text ends in the middle of one. Either way, mark it and move on.
      all_ok = false;
      out += '?';
      // Skip the whole UTF-8 sequence when reading UTF-8, else one byte.
      size_t skip = 1;
      if (source_is_utf8_) {
        const unsigned char c = static_cast<unsigned char>(*src);
        if (c >= 0xF0)
          skip = 4;
        else if (c >= 0xE0)
          skip = 3;
        else if (c >= 0xC0)
          skip = 2;
        if (skip > src_left) skip = src_left;
      }
      src += skip;
      src_left -= skip;
      iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    }
  }
  used = in.size() - src_left;
  if (!last) return all_ok;
  // The end of the text: a stateful code page's closing shift, and a fresh start for
  // the next text.
  char* dst = buf;
  size_t dst_left = sizeof buf;
  iconv(cd_, nullptr, nullptr, &dst, &dst_left);
  out.append(buf, static_cast<size_t>(dst - buf));
  iconv(cd_, nullptr, nullptr, nullptr, nullptr);
  return all_ok;
}

FallbackDecoder::FallbackDecoder(std::string_view fallback_code_page)
    : fallback_(TextCodec::ToUtf8From(fallback_code_page.empty() ? LocaleWindowsCodePage()
                                                                 : fallback_code_page)) {}

void FallbackDecoder::Decode(std::string_view in, std::string& out) {
  if (IsValidUtf8(in)) {
    out.append(in);
    return;
  }
  fallback_->Convert(in, out);
}

}  // namespace trundle
