// The library's option table as the tool reads it: each number's accepted
// range, which the tool's own checks and help texts show. The tool keeps no
// ranges of its own.
#ifndef BL_TOOLS_COMMON_OPTION_TABLE_H
#define BL_TOOLS_COMMON_OPTION_TABLE_H

#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "brightloom.h"

// The row of the brightloom_options field `field`; a row with no name (and
// a range of 0 ... 0) when the library has none.
brightloom_option_row option_row(const char* field);

// A command-line check of `field`'s range, as CLI::Range of the field's type.
CLI::Validator option_range(const char* field);

// The range as the help shows it: "0..1".
std::string option_range_text(const char* field);

// The range as the field's float holds it, for checks of the tool's own
// (the server's form fields).
struct OptionBounds {
    float low;
    float high;
};
OptionBounds option_bounds(const char* field);

// A choice field's values as text, smallest first: {"2", "4"}.
std::vector<std::string> option_choice_texts(const char* field);

// A number as the help shows it: 0.3, not 0.300000.
std::string shown_number(double value);

#endif
