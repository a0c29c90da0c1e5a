#include "analyses/options.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace quillan {

namespace {

// The value of `text` for an option of `decl`'s kind; a failure names the
// option and what it takes.
OptionValues::Value typed_value(const OptionDecl& decl, const std::string& text, int& choice) {
    const std::string flag = option_flag(decl);
    switch (decl.kind) {
        case OptionKind::Flag:
            if (text == "true" || text == "1" || text.empty()) return true;
            if (text == "false" || text == "0") return false;
            throw Refused("The option " + flag + " is on or off, not \"" + text + "\".");
        case OptionKind::Whole: {
            char* end = nullptr;
            errno = 0;
            const long long v = std::strtoll(text.c_str(), &end, 10);
            if (text.empty() || *end != '\0' || errno == ERANGE)
                throw Refused("The option " + flag + " takes a whole number, not \"" + text + "\".");
            return v;
        }
        case OptionKind::Number: {
            char* end = nullptr;
            const double v = std::strtod(text.c_str(), &end);
            if (text.empty() || *end != '\0' || !std::isfinite(v))
                throw Refused("The option " + flag + " takes a number, not \"" + text + "\".");
            return v;
        }
        case OptionKind::Choice: {
            const auto it = std::find(decl.choices.begin(), decl.choices.end(), text);
            if (it == decl.choices.end())
                throw Refused("The option " + flag + " takes " + choice_list(decl) + ", not \"" + text + "\".");
            choice = static_cast<int>(it - decl.choices.begin());
            return text;
        }
        default:
            return text;
    }
}

}  // namespace

OptionValues OptionValues::read(const std::vector<OptionDecl>& decls, const GivenOptions& given) {
    OptionValues out;
    for (const OptionDecl& decl : decls) {
        const auto it = given.find(decl.name);
        const bool is_given = it != given.end();
        const std::string text = is_given ? it->second : decl.kind == OptionKind::Flag ? "false" : decl.fallback;
        Entry e;
        e.given = is_given;
        try {
            e.value = typed_value(decl, text, e.choice);
        } catch (...) {
            e.failure = std::current_exception();
        }
        out.values_[decl.name] = std::move(e);
    }
    return out;
}

bool OptionValues::given(const std::string& name) const {
    const auto it = values_.find(name);
    return it != values_.end() && it->second.given;
}

int OptionValues::choice_index(const std::string& name) const {
    const Entry& e = entry(name);
    if (e.choice < 0) throw QuillanError("The option " + name + " is not a choice.");
    return e.choice;
}

const OptionValues::Entry& OptionValues::entry(const std::string& name) const {
    const auto it = values_.find(name);
    if (it == values_.end()) throw QuillanError("The option " + name + " was not given to this action.");
    if (it->second.failure) std::rethrow_exception(it->second.failure);
    return it->second;
}

std::string option_flag(const OptionDecl& decl) { return std::string("--") + decl.name; }

const char* option_value_name(OptionKind kind) {
    switch (kind) {
        case OptionKind::Whole:
            return "N";
        case OptionKind::Number:
            return "X";
        case OptionKind::Choice:
            return "WORD";
        case OptionKind::Text:
            return "TEXT";
        case OptionKind::Flag:
            return "";
        case OptionKind::InputFile:
        case OptionKind::OutputFile:
            return "FILE";
    }
    return "";
}

std::string choice_list(const OptionDecl& decl) {
    std::string text;
    for (std::size_t i = 0; i < decl.choices.size(); ++i)
        text += (i == 0 ? "" : i + 1 == decl.choices.size() ? " or " : ", ") + std::string(decl.choices[i]);
    return text;
}

}  // namespace quillan
