// Text conversion between the code pages of table and text files and UTF-8, the text of
// every value inside the program. Built on iconv.
#pragma once

#include <iconv.h>

#include <memory>
#include <string>
#include <string_view>

namespace trundle {

// True when every byte sequence of text is well-formed UTF-8.
bool IsValidUtf8(std::string_view text);

// The Windows code page that goes with the user's locale (LC_CTYPE, LANG): 1251 for
// Russian, 1250 for Polish, ... and 1252 where the locale names none. Returns the iconv
// name, such as "CP1252".
std::string LocaleWindowsCodePage();

// Turns user-given names into iconv's ("1251", "cp1251", "windows-1251" and
// "WINDOWS-1251" all give "CP1251"; "utf8" gives "UTF-8"). Unknown names pass unchanged.
std::string NormalizeCodePageName(std::string_view name);

// True for names that mean UTF-8.
bool IsUtf8Name(std::string_view name);

// One direction of conversion. Not thread-safe; make one per reader or writer.
class TextCodec {
 public:
  // Throws TrundleError "Unknown code page NAME" when iconv does not know the name.
  static std::unique_ptr<TextCodec> ToUtf8From(std::string_view code_page);
  static std::unique_ptr<TextCodec> FromUtf8To(std::string_view code_page);
  ~TextCodec();
  TextCodec(const TextCodec&) = delete;
  TextCodec& operator=(const TextCodec&) = delete;

  // Converts in and appends to out. Returns false when some character could not be
  // converted (not valid in the source, or not held by the target); such a character
  // becomes '?' in out and conversion goes on, so the caller can report it.
  bool Convert(std::string_view in, std::string& out);
  // Converts the next piece of a text that arrives in pieces, appending to out (the
  // first piece after Convert or construction starts the text afresh). Unless last, a
  // character cut short at the end of in is not converted: used tells how many bytes
  // were, and the rest belongs at the front of the next piece. With last, the text ends
  // here and a character cut short becomes '?'. Returns false as Convert does.
  bool ConvertPiece(std::string_view in, bool last, std::string& out, size_t& used);

  const std::string& code_page() const { return code_page_; }
  // True when the conversion is the identity (UTF-8 to UTF-8): Convert only checks.
  bool identity() const { return identity_; }

 private:
  TextCodec(std::string code_page, iconv_t cd, bool identity, bool source_is_utf8);
  std::string code_page_;  // the side that is not UTF-8
  iconv_t cd_;
  bool identity_;
  bool source_is_utf8_;
};

// Decoding for files that name no code page: text that is valid UTF-8 stays as it is,
// anything else is read in the fallback code page (by default LocaleWindowsCodePage()).
class FallbackDecoder {
 public:
  explicit FallbackDecoder(std::string_view fallback_code_page = {});
  void Decode(std::string_view in, std::string& out);

 private:
  std::unique_ptr<TextCodec> fallback_;
};

}  // namespace trundle
