#include "figures/links.hpp"

#include "platform/error.hpp"

#include <sstream>

namespace quillan {

Links parse_links(const std::string& text, int landmarks, const std::string& source) {
    Links links;
    std::istringstream in(text);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        for (char& c : line)
            if (c == ',' || c == ';' || c == '\t' || c == '\r') c = ' ';
        std::istringstream fields(line);
        std::string a, b, extra;
        if (!(fields >> a)) continue;  // blank line
        fields >> b >> extra;
        const std::string where = source + ", line " + std::to_string(number);
        auto landmark = [&](const std::string& s) {
            std::size_t used = 0;
            long v = 0;
            try {
                v = std::stol(s, &used);
            } catch (const std::exception&) {
                used = 0;
            }
            if (used != s.size())
                throw QuillanError(where + ": \"" + s + "\" is not a landmark number; each line holds two landmark numbers.");
            if (v < 1 || v > landmarks)
                throw QuillanError(where + ": landmark " + s + " does not exist; the shapes have " + std::to_string(landmarks) +
                                   " landmarks.");
            return static_cast<int>(v - 1);
        };
        if (b.empty() || !extra.empty()) throw QuillanError(where + ": each line must hold exactly two landmark numbers.");
        const int p = landmark(a), q = landmark(b);
        if (p == q) throw QuillanError(where + ": landmark " + a + " is linked to itself.");
        links.emplace_back(p, q);
    }
    return links;
}

}  // namespace quillan
