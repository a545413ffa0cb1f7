// formats/cli.cc: command-line values.
#include "formats/cli.h"

#include <charconv>

std::string readseed(const std::string& text, std::uint64_t& seed) {
  const char* end = text.data() + text.size();
  const auto [ptr, error] = std::from_chars(text.data(), end, seed);
  if (text.empty() || error != std::errc() || ptr != end) {
    return "expected a whole number from 0 to 18446744073709551615";
  }
  return "";
}
