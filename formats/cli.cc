// formats/cli.cc: command-line values.
#include "formats/cli.h"

#include <charconv>

std::string readseed(const std::string& text, std::uint64_t& seed) {
  const char* end = text.data() + text.size();
  const auto [ptr, error] = std::from_chars(text.data(), end, seed);
  if (text.empty() || ptr != end ||
      (error != std::errc() && error != std::errc::result_out_of_range)) {
    return "\"" + text + "\" is not a whole number from 0 to 4294967295";
  }
  if (error == std::errc::result_out_of_range || seed > kMaxSeed) {
    return text + " is above 4294967295 (2^32 - 1): the streams use 32 bits "
                  "of the seed";
  }
  return "";
}
