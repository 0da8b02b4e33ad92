// Reading a request's multipart form: its images and its small text fields,
// each number checked for form and range. A problem is returned as the text
// of a 400 answer; "" means the field was fine (or absent, when optional).
#ifndef BL_TOOLS_SERVE_FORM_FIELDS_H
#define BL_TOOLS_SERVE_FORM_FIELDS_H

#include <httplib.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

class Form {
public:
    explicit Form(const httplib::MultipartFormDataMap& parts) : parts_(parts) {}

    // The content of the first part named `name`, or nullptr.
    const std::string* field(const std::string& name) const;

    // Each reads an optional field into `value` when it is present.
    std::string read_number(const std::string& name, float low, float high,
                            std::optional<float>& value) const;
    std::string read_choice(const std::string& name, const std::vector<std::string>& choices,
                            std::string& value) const;
    // One percentage for all four sides, or four: top, right, bottom, left
    // (separated by commas or spaces).
    std::string read_padding(const std::string& name,
                             std::optional<std::array<int, 4>>& value) const;

private:
    const httplib::MultipartFormDataMap& parts_;
};

#endif
