// Access fixtures for the tests: where they are, copies with a database password set, and
// mdbtools (a reader we did not write) run as the oracle.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/test_files.h"

namespace trundle::testing {

inline std::string AccessFixture(const std::string& name) {
  return std::string(TRUNDLE_FIXTURES) + "/access/" + name;
}

// Standard output of a shell command; the test fails when it cannot run.
inline std::string CommandOutput(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) {
    ADD_FAILURE() << "cannot run " << command;
    return out;
  }
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  const int status = pclose(pipe);
  EXPECT_EQ(status, 0) << command;
  return out;
}

inline std::string ShellWord(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// RC4 as the Jet header masks bytes 0x18 on with the key C7 DA 39 6B.
inline void Rc4(const uint8_t* key, size_t key_size, uint8_t* data, size_t size) {
  uint8_t s[256];
  for (int i = 0; i < 256; ++i) s[i] = static_cast<uint8_t>(i);
  for (int i = 0, j = 0; i < 256; ++i) {
    j = (j + s[i] + key[static_cast<size_t>(i) % key_size]) & 255;
    std::swap(s[i], s[j]);
  }
  for (size_t k = 0, i = 0, j = 0; k < size; ++k) {
    i = (i + 1) & 255;
    j = (j + s[i]) & 255;
    std::swap(s[i], s[j]);
    data[k] ^= s[(s[i] + s[j]) & 255];
  }
}

// Copies an Access database with a database password set, as Access stores it: in the
// masked header area at 0x42, Jet 3 as 20 bytes of text, Jet 4 as 40 bytes of UTF-16 each
// four XORed with the whole days of the creation date at 0x72. `password` is ASCII
// (Jet 3) or a few Latin-1 letters given as UTF-16 code units (Jet 4). Checked against
// npm's mdb-reader, whose getPassword() reads the same bytes back.
inline void CopyWithPassword(const std::string& from, const std::string& to,
                             const std::u16string& password) {
  std::string file = ReadFile(from);
  ASSERT_GT(file.size(), 0x18u + 128u) << from;
  auto* bytes = reinterpret_cast<uint8_t*>(file.data());
  const bool jet3 = bytes[0x14] == 0;
  const size_t area = jet3 ? 126 : 128;
  const uint8_t key[] = {0xC7, 0xDA, 0x39, 0x6B};
  Rc4(key, 4, bytes + 0x18, area);
  uint8_t* stored = bytes + 0x42;
  if (jet3) {
    std::memset(stored, 0, 20);
    for (size_t i = 0; i < password.size() && i < 20; ++i)
      stored[i] = static_cast<uint8_t>(password[i]);
  } else {
    double created = 0;
    std::memcpy(&created, bytes + 0x72, 8);
    const auto days = static_cast<int32_t>(std::floor(created));
    uint8_t mask[4];
    std::memcpy(mask, &days, 4);
    std::memset(stored, 0, 40);
    for (size_t i = 0; i < password.size() && i < 20; ++i) {
      stored[2 * i] = static_cast<uint8_t>(password[i] & 0xFF);
      stored[2 * i + 1] = static_cast<uint8_t>(password[i] >> 8);
    }
    for (size_t i = 0; i < 40; ++i) stored[i] ^= mask[i % 4];
  }
  Rc4(key, 4, bytes + 0x18, area);
  WriteFile(to, file);
}

}  // namespace trundle::testing
