// An action's own options, declared once in its row of the action table:
// name, kind, default, choices and help.  From that declaration come the
// batch command line and its checks, the help and completion, the option
// tables of the documentation and the window's binding of its controls (a
// control whose "option" property names the option); the analysis reads the
// typed values below and never a control or a command line.
#pragma once

#include "platform/error.hpp"

#include <exception>
#include <map>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace quillan {

enum class OptionKind {
    Whole,       // a whole number
    Number,      // a real number
    Choice,      // one word of `choices`
    Text,        // free text (a formula, a factor's name)
    Flag,        // on when given
    InputFile,   // a file the action reads: guarded against outputs, recorded with its SHA-256
    OutputFile,  // a file the action writes
};

struct OptionDecl {
    const char* name;  // "partition": --partition on the command line, option="partition" on a window control
    OptionKind kind = OptionKind::Text;
    const char* help = "";
    const char* fallback = "";              // the default as text; "" for none (a flag: off)
    std::vector<const char*> choices = {};  // a choice's words, in the order of its enumeration and of its window entries
    // Also read by the specimens' export (the alignment of its coordinates),
    // so a run that exports specimens takes it whatever its action.
    bool for_exports = false;
    // Also read by an import's steps (the sliding of semilandmarks, the
    // estimation of gaps), so a run that imports takes it whatever its action.
    bool for_imports = false;
    // How messages name an input file ("The partition file"); empty: "The
    // file of --name".
    const char* noun = "";
};

// What a front end read for an action's options: the text of each option
// given, by name.  A flag given is "true" ("false" when a window's box is
// unticked).
using GivenOptions = std::map<std::string, std::string>;

// The typed values of an action's options: every option its row declares,
// the given ones as read, the others at their defaults.  An option given a
// value it cannot take raises its refusal only where the analysis asks for
// it, so an action that refuses for another reason first still says that.
class OptionValues {
public:
    using Value = std::variant<std::string, long long, double, bool>;

    // Reads `given` against `decls`; options not in `decls` are not kept.
    static OptionValues read(const std::vector<OptionDecl>& decls, const GivenOptions& given);
    void set(const std::string& name, Value value) { values_[name] = Entry{std::move(value), nullptr, -1, true}; }

    bool has(const std::string& name) const { return values_.count(name) > 0; }
    // Whether the front end gave it (not only its default).
    bool given(const std::string& name) const;
    const std::string& text(const std::string& name) const { return get<std::string>(name); }
    // An input file's path; empty when none was given.
    const std::string& file(const std::string& name) const { return text(name); }
    long long whole(const std::string& name) const { return get<long long>(name); }
    double number(const std::string& name) const { return get<double>(name); }
    bool flag(const std::string& name) const { return get<bool>(name); }
    // The place of a choice's word among its row's choices, which is the
    // value of the enumeration declared in the same order.
    int choice_index(const std::string& name) const;
    template <class E>
    E choice(const std::string& name) const {
        return static_cast<E>(choice_index(name));
    }

private:
    struct Entry {
        Value value;
        std::exception_ptr failure;
        int choice = -1;
        bool given = false;
    };
    template <class T>
    const T& get(const std::string& name) const {
        const Entry& e = entry(name);
        if (!std::holds_alternative<T>(e.value)) throw QuillanError("The option " + name + " is not of this kind.");
        return std::get<T>(e.value);
    }
    const Entry& entry(const std::string& name) const;
    std::map<std::string, Entry> values_;
};

// "--partition", as the command line spells an option.
std::string option_flag(const OptionDecl& decl);
// "FILE", "WORD", "N": what the help shows after the option.
const char* option_value_name(OptionKind kind);
// "full or partial", "I, II or III".
std::string choice_list(const OptionDecl& decl);

}  // namespace quillan
