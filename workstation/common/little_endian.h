// Little-endian byte order for the binary files the workstation exchanges
// (extract bundles, feature files, dumps), whatever the machine's own order.
// Values are appended to, or read from, plain byte strings.
#pragma once

#include <bit>
#include <cstdint>
#include <string>

namespace velmora {

template <typename Unsigned>
void store_le(Unsigned v, std::string* out) {
  for (std::size_t b = 0; b < sizeof(Unsigned); ++b)
    out->push_back(static_cast<char>((v >> (8 * b)) & 0xFF));
}

template <typename Unsigned>
Unsigned load_le(const unsigned char* p) {
  Unsigned v = 0;
  for (std::size_t b = sizeof(Unsigned); b-- > 0;) v = static_cast<Unsigned>((v << 8) | p[b]);
  return v;
}

inline void store_le16(std::int16_t v, std::string* out) {
  store_le(std::bit_cast<std::uint16_t>(v), out);
}
inline void store_le32(std::uint32_t v, std::string* out) {
  store_le(v, out);
}
inline void store_le64(std::uint64_t v, std::string* out) {
  store_le(v, out);
}
inline void store_le_float(float v, std::string* out) {
  store_le(std::bit_cast<std::uint32_t>(v), out);
}
inline void store_le_double(double v, std::string* out) {
  store_le(std::bit_cast<std::uint64_t>(v), out);
}

inline std::int16_t load_le16(const unsigned char* p) {
  return std::bit_cast<std::int16_t>(load_le<std::uint16_t>(p));
}
inline std::uint32_t load_le32(const unsigned char* p) {
  return load_le<std::uint32_t>(p);
}
inline std::uint64_t load_le64(const unsigned char* p) {
  return load_le<std::uint64_t>(p);
}

}  // namespace velmora
