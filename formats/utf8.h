// formats/utf8.h: text that may not be valid UTF-8, such as a file name
// given on the command line, made safe to print and to store in JSON.
#ifndef COMBOSIM_FORMATS_UTF8_H_
#define COMBOSIM_FORMATS_UTF8_H_

#include <streambuf>
#include <string>

// True when `text` is valid UTF-8 (overlong forms, surrogates and code
// points above U+10FFFF are not).
bool validutf8(const std::string& text);

// `text` with each byte that does not belong to a valid UTF-8 sequence
// written as \xNN (two lower-case hexadecimal digits); valid text is
// returned as it is.
std::string utf8escaped(const std::string& text);

// An output buffer that passes what is written on to `to` through
// utf8escaped, a line at a time, and all that is pending when flushed (which
// flushes `to`). A stream on it fails when `to` does.
class Utf8EscapingBuf : public std::streambuf {
 public:
  explicit Utf8EscapingBuf(std::streambuf* to) : to_(to) {}
  ~Utf8EscapingBuf() override { sync(); }

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* s, std::streamsize n) override;
  int sync() override;

 private:
  // Passes the pending text on; false when `to` takes less.
  bool passon();

  std::streambuf* to_;
  std::string pending_;  // written since the last line end or flush
};

#endif  // COMBOSIM_FORMATS_UTF8_H_
