#include "option_table.h"

#include <string.h>

#include <sstream>

brightloom_option_row option_row(const char* field) {
    brightloom_option_row row = {};
    for (size_t i = 0; i < brightloom_option_count(); ++i) {
        row.size = sizeof row;
        if (brightloom_option_describe(i, &row) == BRIGHTLOOM_OK && strcmp(row.name, field) == 0)
            return row;
    }
    row = {};
    row.name = "";
    return row;
}

CLI::Validator option_range(const char* field) {
    const brightloom_option_row row = option_row(field);
    // The field's own type, so that a value is compared as the library
    // will hold it (a float just above 1 that rounds to 1 is 1).
    if (row.kind == BRIGHTLOOM_OPTION_NUMBER)
        return CLI::Range(static_cast<float>(row.minimum), static_cast<float>(row.maximum));
    return CLI::Range(static_cast<int>(row.minimum), static_cast<int>(row.maximum));
}

OptionBounds option_bounds(const char* field) {
    const brightloom_option_row row = option_row(field);
    return {static_cast<float>(row.minimum), static_cast<float>(row.maximum)};
}

std::vector<std::string> option_choice_texts(const char* field) {
    const brightloom_option_row row = option_row(field);
    std::vector<std::string> texts;
    for (int32_t i = 0; i < row.choice_count; ++i) texts.push_back(std::to_string(row.choices[i]));
    return texts;
}

std::string option_range_text(const char* field) {
    const brightloom_option_row row = option_row(field);
    return shown_number(row.minimum) + ".." + shown_number(row.maximum);
}

std::string shown_number(double value) {
    std::ostringstream text;
    text << static_cast<float>(value);
    return text.str();
}
