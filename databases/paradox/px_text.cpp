#include "databases/paradox/px_text.h"

#include <cstring>

#include "engine/errors.h"

namespace trundle::paradox {
namespace {

bool IsContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The longest start of text no longer than limit bytes that ends between characters.
size_t Utf8Cut(std::string_view text, size_t limit) {
  if (text.size() <= limit) return text.size();
  size_t cut = limit;
  while (cut > 0 && IsContinuation(text[cut])) --cut;
  return cut;
}

}  // namespace

std::string CountOf(int64_t n, const char* noun) {
  return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

std::string CodePageName(int code_page) {
  return code_page == 65001 ? "UTF-8" : "CP" + std::to_string(code_page);
}

int CodePageNumber(std::string_view name) {
  const std::string n = NormalizeCodePageName(name);
  if (n == "UTF-8") return 65001;
  if (n.size() < 3 || n.compare(0, 2, "CP") != 0) return 0;
  int number = 0;
  for (size_t i = 2; i < n.size(); ++i) {
    if (n[i] < '0' || n[i] > '9' || number > 6553) return 0;
    number = number * 10 + (n[i] - '0');
  }
  return number <= 65535 ? number : 0;
}

bool IsAscii(std::string_view text) {
  size_t i = 0;
  for (; i + 8 <= text.size(); i += 8) {
    uint64_t w;
    std::memcpy(&w, text.data() + i, 8);
    if (w & 0x8080808080808080ULL) return false;
  }
  for (; i < text.size(); ++i)
    if (static_cast<unsigned char>(text[i]) & 0x80) return false;
  return true;
}

void PxText::Init(const std::string& encoding, int code_page, size_t field_count) {
  invalid_.assign(field_count, 0);
  if (!encoding.empty()) {
    codec_ = TextCodec::ToUtf8From(encoding);
    return;
  }
  if (code_page != 0) {
    try {
      codec_ = TextCodec::ToUtf8From(CodePageName(code_page));
      return;
    } catch (const TrundleError&) {
      unknown_code_page_ = std::to_string(code_page);
    }
  }
  fallback_ = std::make_unique<FallbackDecoder>();
}

void PxText::DecodeName(std::string_view raw, std::string& out) {
  out.clear();
  if (IsAscii(raw)) {
    out.assign(raw);
  } else if (codec_) {
    codec_->Convert(raw, out);
  } else {
    fallback_->Decode(raw, out);
  }
}

void PxText::Decode(size_t field, std::string_view raw, Variant& v) {
  if (IsAscii(raw)) return v.SetString(raw);
  buffer_.clear();
  if (codec_) {
    if (!codec_->Convert(raw, buffer_)) ++invalid_[field];
  } else {
    fallback_->Decode(raw, buffer_);
  }
  v.SetString(buffer_);
}

void PxText::TakeNote(size_t field, const std::string& field_name,
                      std::vector<std::string>& notes) {
  if (invalid_[field] == 0) return;
  notes.push_back("Field " + field_name + ": " + CountOf(invalid_[field], "value") + " held text " +
                  "not valid in code page " + codec_->code_page() +
                  "; the bad characters were read as '?'");
  invalid_[field] = 0;
}

void PxText::TakeTableNote(const std::string& path, std::vector<std::string>& notes) {
  if (unknown_code_page_.empty()) return;
  notes.push_back("Table " + path + " names code page " + unknown_code_page_ +
                  ", which this system does not know; its text was read as UTF-8 where valid, "
                  "else in the locale's Windows code page");
  unknown_code_page_.clear();
}

PxTextEncoder::PxTextEncoder(const std::string& code_page)
    : codec_(TextCodec::FromUtf8To(code_page)) {}

bool PxTextEncoder::Encode(std::string_view utf8, std::string& out) {
  out.clear();
  if (IsAscii(utf8)) {
    out.assign(utf8);
    return true;
  }
  return codec_->Convert(utf8, out);
}

bool PxTextEncoder::EncodeCut(std::string_view utf8, size_t limit, std::string& out) {
  // No code page takes more than 4 bytes per character or fewer than 1 per UTF-8 byte
  // sequence, so the cut lies within the first 4 * limit bytes; drop characters from the
  // end until the encoding fits.
  size_t cut = Utf8Cut(utf8, 4 * limit);
  bool ok = Encode(utf8.substr(0, cut), out);
  while (out.size() > limit && cut > 0) {
    const size_t step = std::max<size_t>(1, (out.size() - limit) / 4);
    cut = Utf8Cut(utf8, cut > step ? cut - step : 0);
    ok = Encode(utf8.substr(0, cut), out);
  }
  return ok;
}

}  // namespace trundle::paradox
