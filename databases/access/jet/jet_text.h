// Jet 4 text: UTF-16LE, or "compressed Unicode" (FF FE, then runs of one-byte characters
// and of UTF-16 characters, each switch marked by a 0x00 byte).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace trundle::jet {

// Appends the UTF-8 of UTF-16LE text (an odd last byte is dropped). Returns false when
// the text held an unpaired surrogate or an odd byte; such a character becomes U+FFFD.
bool AppendUtf16(const uint8_t* data, size_t size, std::string& out);

// Appends the UTF-8 of a Jet 4 text value, compressed or not. Same return as above.
bool AppendJet4Text(const uint8_t* data, size_t size, std::string& out);

// The UTF-16 code units of UTF-8 text (out replaced). Returns false when the text was not
// valid UTF-8; each byte that does not begin a valid sequence becomes U+FFFD.
bool Utf8ToUtf16(std::string_view text, std::u16string& out);

// The bytes of a Jet 4 text value (out replaced): compressed Unicode when compress is set,
// no unit has a zero low byte (the byte that switches between the one-byte and two-byte
// runs) and the result is shorter than UTF-16; else UTF-16LE.
void EncodeJet4Text(const std::u16string& units, bool compress, std::string& out);

}  // namespace trundle::jet
