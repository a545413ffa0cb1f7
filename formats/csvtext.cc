// formats/csvtext.cc: CSV text fields.
#include "formats/csvtext.h"

std::string csvfield(const std::string& text) {
  const bool formula = !text.empty() && std::string("=+-@\t\r").find(text[0]) !=
                                            std::string::npos;
  if (!formula && text.find_first_of(",\"\n\r") == std::string::npos) return text;
  std::string quoted = formula ? "\"'" : "\"";
  for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}
