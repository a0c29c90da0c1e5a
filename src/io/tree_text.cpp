#include "io/tree_text.hpp"

#include "platform/capped_read.hpp"
#include "platform/error.hpp"
#include "platform/stop_request.hpp"

#include <cctype>

namespace quillan::io {

void TreeText::advance() {
    if (at_end()) return;
    const char c = s_[i_++];
    if (i_ % 65536 == 0) stop_point();
    // LF, CR LF and a bare CR each end one line.
    if (c == '\n' || (c == '\r' && peek() != '\n')) {
        ++line_;
        column_ = 1;
    } else if (at_end() || (static_cast<unsigned char>(peek()) & 0xC0) != 0x80) {
        // The next byte starts a character (it continues none).
        ++column_;
    }
}

void TreeText::skip_space() {
    while (!at_end()) {
        const char c = peek();
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v') {
            advance();
            continue;
        }
        if (c != '[') return;
        // A comment, perhaps holding others: skipped whole, quotes and all.
        const TextPlace opened = place();
        int depth = 0;
        do {
            if (at_end()) refuse(opened, "a comment opened here with '[' is never closed with ']'");
            if (peek() == '[') ++depth;
            if (peek() == ']') --depth;
            advance();
        } while (depth > 0);
    }
}

bool TreeText::ends_word(char c) {
    switch (c) {
        case ' ':
        case '\t':
        case '\n':
        case '\r':
        case '\f':
        case '\v':
        case '(':
        case ')':
        case '[':
        case ']':
        case '\'':
        case ':':
        case ';':
        case ',':
        case '=':
        case '\0':
            return true;
        default:
            return false;
    }
}

bool TreeText::take_keyword(std::string_view keyword) {
    if (s_.size() - i_ < keyword.size()) return false;
    for (std::size_t j = 0; j < keyword.size(); ++j)
        if (std::tolower(static_cast<unsigned char>(s_[i_ + j])) != keyword[j]) return false;
    if (i_ + keyword.size() < s_.size() && !ends_word(s_[i_ + keyword.size()])) return false;
    for (std::size_t j = 0; j < keyword.size(); ++j) advance();
    return true;
}

std::string TreeText::word() {
    std::string w;
    if (peek() != '\'') {
        while (!at_end() && !ends_word(peek())) {
            w += peek();
            advance();
        }
        return w;
    }
    const TextPlace opened = place();
    advance();
    for (;;) {
        if (at_end()) refuse(opened, "a label opened here with a quote is never closed");
        const char c = peek();
        // A line end inside quotes is far more often a quote left out than
        // a label of two lines.
        if (c == '\n' || c == '\r')
            refuse(opened, "a label opened here with a quote runs past the end of its line (is a quote missing?)");
        advance();
        if (c == '\'') {
            if (peek() != '\'') return w;
            advance();
        }
        w += c;
    }
}

std::string quoted_label(const std::string& label) {
    std::string text;
    for (const char c : printable_text(label)) text += c == '\t' ? std::string("\\t") : std::string(1, c);
    return "\"" + text + "\"";
}

void TreeText::refuse(const TextPlace& at, const std::string& what) const {
    refuse_tree_file(path_, "line " + std::to_string(at.line) + ", column " + std::to_string(at.column) + ": " + what);
}

void refuse_tree_file(const std::string& path, const std::string& what) {
    throw QuillanError("The tree file " + printable_text(path) + " could not be loaded: " + what + ". Nothing was loaded.");
}

}  // namespace quillan::io
