// formats/utf8.cc: UTF-8 checked byte by byte.
#include "formats/utf8.h"

#include <cstring>

namespace {

// The length of the valid UTF-8 sequence that starts at text[i], or 0 when
// none does. The second byte's range depends on the first (no overlong
// forms, no surrogates, nothing above U+10FFFF); later ones are 80 to BF.
std::size_t sequenceat(const std::string& text, std::size_t i) {
  const auto byte = [&text](std::size_t k) {
    return static_cast<unsigned char>(text[k]);
  };
  const unsigned char b = byte(i);
  if (b < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (b >= 0xC2 && b <= 0xDF) {
    length = 2;
  } else if (b >= 0xE0 && b <= 0xEF) {
    length = 3;
    if (b == 0xE0) low = 0xA0;
    if (b == 0xED) high = 0x9F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    length = 4;
    if (b == 0xF0) low = 0x90;
    if (b == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  if (byte(i + 1) < low || byte(i + 1) > high) return 0;
  for (std::size_t k = 2; k < length; ++k) {
    if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
  }
  return length;
}

}  // namespace

bool validutf8(const std::string& text) {
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t n = sequenceat(text, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

std::string utf8escaped(const std::string& text) {
  static const char kHex[] = "0123456789abcdef";
  std::string escaped;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t n = sequenceat(text, i);
    if (n > 0) {
      escaped.append(text, i, n);
      i += n;
      continue;
    }
    const auto b = static_cast<unsigned char>(text[i]);
    escaped += "\\x";
    escaped += kHex[b >> 4];
    escaped += kHex[b & 0xF];
    ++i;
  }
  return escaped;
}

Utf8EscapingBuf::int_type Utf8EscapingBuf::overflow(int_type c) {
  if (traits_type::eq_int_type(c, traits_type::eof())) {
    return sync() == 0 ? traits_type::not_eof(c) : traits_type::eof();
  }
  pending_ += traits_type::to_char_type(c);
  if (c == '\n' && !passon()) return traits_type::eof();
  return c;
}

std::streamsize Utf8EscapingBuf::xsputn(const char* s, std::streamsize n) {
  pending_.append(s, static_cast<std::size_t>(n));
  if (std::memchr(s, '\n', static_cast<std::size_t>(n)) != nullptr && !passon()) {
    return 0;
  }
  return n;
}

int Utf8EscapingBuf::sync() { return passon() ? to_->pubsync() : -1; }

bool Utf8EscapingBuf::passon() {
  const std::string text = utf8escaped(pending_);
  pending_.clear();
  const auto size = static_cast<std::streamsize>(text.size());
  return to_->sputn(text.data(), size) == size;
}
