#include "window/gui.hpp"

#include "platform/format.hpp"

#include <cctype>

namespace quillan {

bool same_property(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
    return true;
}

std::vector<std::string> string_lines(const Value& v) {
    if (v.is_text()) return split_lines(v.text());
    std::vector<std::string> out;
    if (v.is_list())
        for (const auto& e : v.list()) out.push_back(e.is_text() ? e.text() : describe(e));
    return out;
}

}  // namespace quillan
