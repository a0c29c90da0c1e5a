// The option tables of the documentation, written from the rows: the page
// docs/analyses.md holds them between its "options" markers, and a test
// fails when the page and the rows differ.
#include "shell/action_table.hpp"

namespace quillan {

namespace {

std::string cell(std::string text) {
    for (std::size_t at = 0; (at = text.find('|', at)) != std::string::npos; at += 2) text.replace(at, 1, "\\|");
    return text;
}

std::string value_text(const OptionDecl& o) {
    if (o.kind == OptionKind::Choice) {
        std::string words;
        for (const char* c : o.choices) words += (words.empty() ? "" : ", ") + std::string("`") + c + "`";
        return words;
    }
    return o.kind == OptionKind::Flag ? "(a flag)" : option_value_name(o.kind);
}

}  // namespace

std::string option_tables_markdown() {
    std::string text;
    for (const ActionRow& row : action_table()) {
        if (row.options.empty()) continue;
        text += "\n### `" + std::string(row.alias) + "`\n\n| option | value | default | what it does |\n|---|---|---|---|\n";
        for (const OptionDecl& o : row.options)
            text += "| `" + option_flag(o) + "` | " + value_text(o) + " | " +
                    (*o.fallback ? "`" + std::string(o.fallback) + "`" : "") + " | " + cell(o.help) + " |\n";
    }
    return text;
}

}  // namespace quillan
