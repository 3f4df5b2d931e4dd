// The sort codes of Jet's text indexes: for each character, the bytes an index key holds
// for it. Two sort orders: "General Legacy" (Jet 4, every character of the Basic
// Multilingual Plane but the surrogates) and "General 97" (Jet 3, the 256 characters of
// code page 1252).
#pragma once

#include <cstddef>
#include <cstdint>

namespace trundle::jet {

// How a character enters a key.
enum SortKind : uint8_t {
  kIgnored,       // no trace in the key
  kPlain,         // its code bytes, in line
  kAccented,      // its base letter's code in line; its accent (extra) after the text
  kHidden,        // nothing in line; its extra bytes in the key's tail of hidden characters
  kHiddenMod,     // nothing in line; its extra byte added to the previous accent byte
  kAccentedFlag,  // in line, accent optional, and a flag in the key's tail of flags
  kVowel,         // General 97: in line, and each letter of its code (ss for a sharp s, ae
                  // for a ligature) counts as a position for the accents
};

struct SortCode {
  SortKind kind;
  uint8_t size;  // code bytes in line
  uint8_t code[4];
  uint8_t extra_size;
  uint8_t extra[2];
  uint8_t flag;  // kAccentedFlag: 2 or 3
};

// A range of characters [first, last]: ignored, or plain with codes counting up from
// code.code (a big-endian number) one a character; otherwise first == last.
struct SortRun {
  uint16_t first, last;
  SortCode code;
};

extern const SortRun kGeneralLegacyRuns[];
extern const size_t kGeneralLegacyRunCount;
// Indexed by the code page 1252 byte.
extern const SortCode kGeneral97Codes[256];
// Characters beyond U+00FF that code page 1252 holds, and their bytes.
extern const uint16_t kGeneral97Unicode[][2];
extern const size_t kGeneral97UnicodeCount;

}  // namespace trundle::jet
