#include "support/base64.h"

#include <cstdint>

namespace corvane {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::uint32_t Value(char ch) {
  auto c = static_cast<unsigned char>(ch);
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  return 63;
}

}  // namespace

std::string Base64Encode(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  auto byte = [&](std::size_t k) { return std::uint32_t{static_cast<unsigned char>(bytes[k])}; };
  for (; i + 3 <= bytes.size(); i += 3) {
    std::uint32_t v = byte(i) << 16 | byte(i + 1) << 8 | byte(i + 2);
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  std::size_t rest = bytes.size() - i;
  if (rest != 0) {
    std::uint32_t v = byte(i) << 16 | (rest == 2 ? byte(i + 1) << 8 : 0);
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string Base64Decode(std::string_view text) {
  if (text.size() % 4 != 0) throw Base64Error("Base64: Incorrect string format");
  std::string out;
  out.reserve(text.size() / 4 * 3);
  for (std::size_t i = 0; i < text.size(); i += 4) {
    std::uint32_t v = Value(text[i]) << 18 | Value(text[i + 1]) << 12 | Value(text[i + 2]) << 6 |
                      Value(text[i + 3]);
    std::size_t count = 3;
    if (i + 4 == text.size()) {
      if (text[i + 2] == '=') {
        count = 1;
      } else if (text[i + 3] == '=') {
        count = 2;
      }
    }
    out += static_cast<char>(v >> 16);
    if (count >= 2) out += static_cast<char>((v >> 8) & 0xFF);
    if (count == 3) out += static_cast<char>(v & 0xFF);
  }
  return out;
}

}  // namespace corvane
