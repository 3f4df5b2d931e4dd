# Writes OUTPUT, a C++ source defining the byte array SYMBOL (in namespace trundle) with
# the contents of INPUT, and SYMBOL_size. Run by CMake in script mode at build time.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
  "// Generated from ${INPUT} by embed.cmake; do not edit.\n"
  "#include <cstddef>\n"
  "namespace trundle {\n"
  "extern const unsigned char ${SYMBOL}[];\n"
  "extern const size_t ${SYMBOL}_size;\n"
  "const unsigned char ${SYMBOL}[] = {\n${bytes}};\n"
  "const size_t ${SYMBOL}_size = ${size};\n"
  "}  // namespace trundle\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
