// batch/cliparse.cc: command-line values of the batch programs.
#include "batch/cliparse.h"

#include <charconv>
#include <regex>

std::string atleastone(const std::string& text) {
  int n = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, error] = std::from_chars(text.data(), end, n);
  if (text.empty() || ptr != end || error != std::errc()) {
    return "\"" + text + "\" is not a whole number";
  }
  return n < 1 ? "must be at least 1" : "";
}

std::string readshard(const std::string& text, int& k, int& n) {
  static const std::regex form("([0-9]{1,9})/([0-9]{1,9})");
  std::smatch match;
  if (!std::regex_match(text, match, form)) return "expected K/N, e.g. 3/8";
  k = std::stoi(match[1]);
  n = std::stoi(match[2]);
  if (n < 1 || k < 1 || k > n) return "K/N needs 1 <= K <= N";
  return "";
}
