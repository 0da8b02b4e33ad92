#include "form_fields.h"

#include <cmath>
#include <cstdlib>
#include <sstream>

namespace {

// Digits with at most one decimal point ("0.5", "80", ".5"), after an
// optional minus: strtof alone would also take blanks, hex and exponents.
bool plain_decimal(const std::string& text) {
    const size_t start = !text.empty() && text[0] == '-' ? 1 : 0;
    size_t digits = 0, points = 0;
    for (size_t i = start; i < text.size(); ++i) {
        if (text[i] == '.')
            ++points;
        else if (text[i] >= '0' && text[i] <= '9')
            ++digits;
        else
            return false;
    }
    return digits > 0 && points <= 1;
}

bool parse_float(const std::string& text, float& value) {
    if (text.size() > 32 || !plain_decimal(text)) return false;
    value = std::strtof(text.c_str(), nullptr);
    return std::isfinite(value);
}

// Digits only, a few of them.
bool parse_whole(const std::string& text, int& value) {
    if (text.empty() || text.size() > 9) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

std::string range_text(float low, float high) {
    std::ostringstream text;
    text << low << " to " << high;
    return text.str();
}

std::vector<std::string> split_list(const std::string& text) {
    std::string spaced = text;
    for (char& c : spaced)
        if (c == ',') c = ' ';
    std::istringstream in(spaced);
    std::vector<std::string> items;
    for (std::string item; in >> item;) items.push_back(item);
    return items;
}

}  // namespace

const std::string* Form::field(const std::string& name) const {
    auto part = parts_.find(name);
    return part == parts_.end() ? nullptr : &part->second.content;
}

std::string Form::read_number(const std::string& name, float low, float high,
                              std::optional<float>& value) const {
    const std::string* text = field(name);
    if (!text) return "";
    float number = 0.0f;
    if (!parse_float(*text, number) || number < low || number > high)
        return "Field " + name + " must be a number from " + range_text(low, high);
    value = number;
    return "";
}

std::string Form::read_choice(const std::string& name, const std::vector<std::string>& choices,
                              std::string& value) const {
    const std::string* text = field(name);
    if (!text) return "";
    for (const std::string& choice : choices)
        if (*text == choice) {
            value = choice;
            return "";
        }
    std::string list;
    for (const std::string& choice : choices) list += (list.empty() ? "" : ", ") + choice;
    return "Field " + name + " must be one of: " + list;
}

std::string Form::read_padding(const std::string& name,
                               std::optional<std::array<int, 4>>& value) const {
    const std::string* text = field(name);
    if (!text) return "";
    const std::string problem =
        "Field " + name +
        " must be one or four whole percentages from 0 to 100 (top right bottom left)";
    std::vector<std::string> items = split_list(text->substr(0, 64));
    if (text->size() > 64 || (items.size() != 1 && items.size() != 4)) return problem;
    std::array<int, 4> sides{};
    for (size_t i = 0; i < 4; ++i) {
        const std::string& item = items[items.size() == 1 ? 0 : i];
        if (!parse_whole(item, sides[i]) || sides[i] > 100) return problem;
    }
    value = sides;
    return "";
}
