// formats/csvtext.h: text fields of the CSV files the programs write, safe
// to open in a spreadsheet.
#ifndef COMBOSIM_FORMATS_CSVTEXT_H_
#define COMBOSIM_FORMATS_CSVTEXT_H_

#include <string>

// `text` as one CSV field: as it is, or quoted (inner quotes doubled) when it
// holds a comma, quote or line break. A text that starts with =, +, -, @, a
// tab or a carriage return, which a spreadsheet would take for a formula, is
// quoted with a ' before it: "'=1+2". For text fields only: numbers are
// written as they are.
std::string csvfield(const std::string& text);

#endif  // COMBOSIM_FORMATS_CSVTEXT_H_
