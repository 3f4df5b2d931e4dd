// Jet 4 text: UTF-16LE, or "compressed Unicode" (FF FE, then runs of one-byte characters
// and of UTF-16 characters, each switch marked by a 0x00 byte).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace trundle::jet {

// Appends the UTF-8 of UTF-16LE text (an odd last byte is dropped). Returns false when
// the text held an unpaired surrogate or an odd byte; such a character becomes U+FFFD.
bool AppendUtf16(const uint8_t* data, size_t size, std::string& out);

// Appends the UTF-8 of a Jet 4 text value, compressed or not. Same return as above.
bool AppendJet4Text(const uint8_t* data, size_t size, std::string& out);

}  // namespace trundle::jet
