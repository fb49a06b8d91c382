#include "base/base64.h"

#include <array>

namespace base {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Maps a character to its 6-bit value, or -1 outside the alphabet.
constexpr std::array<std::int8_t, 256> makeTable() {
  std::array<std::int8_t, 256> table{};
  for (auto& v : table)
    v = -1;
  for (int i = 0; i < 64; ++i)
    table[static_cast<std::uint8_t>(kAlphabet[i])] = std::int8_t(i);
  return table;
}
constexpr auto kTable = makeTable();

int valueOf(char c) {
  return kTable[static_cast<std::uint8_t>(c)];
}

}  // namespace

std::string base64Encode(std::span<const std::uint8_t> bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const std::uint32_t v = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  const std::size_t rest = bytes.size() - i;
  if (rest == 1) {
    const std::uint32_t v = bytes[i] << 16;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += "==";
  } else if (rest == 2) {
    const std::uint32_t v = (bytes[i] << 16) | (bytes[i + 1] << 8);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += '=';
  }
  return out;
}

std::string base64Encode(std::string_view bytes) {
  return base64Encode(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

std::optional<Bytes> base64Decode(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  std::size_t padding = 0;
  if (!text.empty() && text.back() == '=') padding = text[text.size() - 2] == '=' ? 2 : 1;
  const std::size_t data = text.size() - padding;
  Bytes out;
  out.reserve(text.size() / 4 * 3);
  std::uint32_t acc = 0;
  for (std::size_t i = 0; i < data; ++i) {
    const int v = valueOf(text[i]);
    if (v < 0) return std::nullopt;  // also a "=" before the end
    acc = (acc << 6) | std::uint32_t(v);
    if (i % 4 == 3) {
      out.push_back(std::uint8_t(acc >> 16));
      out.push_back(std::uint8_t(acc >> 8));
      out.push_back(std::uint8_t(acc));
      acc = 0;
    }
  }
  // The last group: 2 characters carry 1 byte (4 spare bits), 3 carry 2 (2 spare
  // bits); the spare bits must be zero for the text to be canonical.
  if (padding == 2) {
    if (acc & 0xF) return std::nullopt;
    out.push_back(std::uint8_t(acc >> 4));
  } else if (padding == 1) {
    if (acc & 0x3) return std::nullopt;
    out.push_back(std::uint8_t(acc >> 10));
    out.push_back(std::uint8_t(acc >> 2));
  }
  return out;
}

Bytes base64DecodeLenient(std::string_view text) {
  Bytes out;
  out.reserve(text.size() / 4 * 3);
  std::uint32_t acc = 0;
  int count = 0;
  for (const char c : text) {
    if (c == '=') break;
    const int v = valueOf(c);
    if (v < 0) continue;
    acc = (acc << 6) | std::uint32_t(v);
    if (++count == 4) {
      out.push_back(std::uint8_t(acc >> 16));
      out.push_back(std::uint8_t(acc >> 8));
      out.push_back(std::uint8_t(acc));
      acc = 0;
      count = 0;
    }
  }
  if (count == 2) {
    out.push_back(std::uint8_t(acc >> 4));
  } else if (count == 3) {
    out.push_back(std::uint8_t(acc >> 10));
    out.push_back(std::uint8_t(acc >> 2));
  }
  return out;
}

}  // namespace base
