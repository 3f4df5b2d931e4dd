// Text between a Paradox table's code page and UTF-8, with the counts the run log needs.
// Most text in real tables is plain ASCII, which every code page Paradox uses keeps as
// it is, so that case skips iconv.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/codepage.h"
#include "engine/variant.h"

namespace trundle::paradox {

// "1 value", "3 values".
std::string CountOf(int64_t n, const char* noun);
// The iconv name of a Paradox header's code page number: 1252 gives "CP1252", 65001 gives
// "UTF-8".
std::string CodePageName(int code_page);
// The number a header stores for an iconv or user name ("UTF-8" gives 65001, "CP1251" or
// "windows-1251" give 1251); 0 for names without a Windows or DOS code page number.
int CodePageNumber(std::string_view name);
// True when every byte is below 0x80.
bool IsAscii(std::string_view text);

// Decodes a table's text. Not thread-safe.
class PxText {
 public:
  // encoding: the user's choice (wins when not empty); code_page: the header's (0: none).
  // A header code page iconv does not know falls back to FallbackDecoder and is noted.
  void Init(const std::string& encoding, int code_page, size_t field_count);
  void DecodeName(std::string_view raw, std::string& out);
  // Sets v to the text of raw; counts values with characters invalid in the code page.
  void Decode(size_t field, std::string_view raw, Variant& v);
  // Appends the note for one field (if any) and resets its count.
  void TakeNote(size_t field, const std::string& field_name, std::vector<std::string>& notes);
  void TakeTableNote(const std::string& path, std::vector<std::string>& notes);

 private:
  std::unique_ptr<TextCodec> codec_;
  std::unique_ptr<FallbackDecoder> fallback_;
  std::vector<int64_t> invalid_;
  std::string unknown_code_page_;
  std::string buffer_;
};

// Encodes text for a table. Not thread-safe.
class PxTextEncoder {
 public:
  // Throws TrundleError "Unknown code page NAME" when iconv does not know it.
  explicit PxTextEncoder(const std::string& code_page);
  // Replaces out with utf8 in the table's code page. Returns false when some character
  // could not be held (it becomes '?').
  bool Encode(std::string_view utf8, std::string& out);
  // Replaces out with the longest start of utf8, cut between characters, whose encoding
  // takes at most limit bytes, encoded. Returns false as Encode does.
  bool EncodeCut(std::string_view utf8, size_t limit, std::string& out);
  const std::string& code_page() const { return codec_->code_page(); }

 private:
  std::unique_ptr<TextCodec> codec_;
};

}  // namespace trundle::paradox
