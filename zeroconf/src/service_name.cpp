#include "service_name.h"

namespace zeroconf {
namespace {

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

std::size_t first_unescaped_dot(const std::string& full_name) {
    std::size_t backslashes = 0;
    for (std::size_t i = 0; i < full_name.size(); ++i) {
        if (full_name[i] == '.' && backslashes % 2 == 0) {
            return i;
        }
        backslashes = full_name[i] == '\\' ? backslashes + 1 : 0;
    }
    return std::string::npos;
}

std::string unescape_service_name(const std::string& label) {
    std::string name;
    name.reserve(label.size());
    for (std::size_t i = 0; i < label.size(); ++i) {
        if (label[i] != '\\') {
            name += label[i];
            continue;
        }
        if (i + 1 < label.size() && (label[i + 1] == '\\' || label[i + 1] == '.')) {
            name += label[++i];
            continue;
        }
        if (i + 3 >= label.size() || !is_digit(label[i + 1]) || !is_digit(label[i + 2]) ||
            !is_digit(label[i + 3])) {
            return std::string();
        }
        const int value =
            (label[i + 1] - '0') * 100 + (label[i + 2] - '0') * 10 + (label[i + 3] - '0');
        if (value > 255) {
            return std::string();
        }
        name += static_cast<char>(value);
        i += 3;
    }
    return name;
}

} // namespace zeroconf
