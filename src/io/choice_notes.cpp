#include "io/choice_notes.hpp"

#include "platform/error.hpp"

#include <string_view>

namespace quillan::io {

namespace {

constexpr std::string_view kNothingImported = ". Nothing was imported.";

}  // namespace

std::string curves_choice_note(const std::string& refusal, const ImportOptions& options) {
    // Every refusal about kept curve points or their sliding speaks of semilandmarks.
    if (!options.semilandmarks || refusal.find("semilandmark") == std::string::npos) return {};
    const std::string slide = options.slide == "procd" ? "procd" : "be";
    const std::string chosen = "\"Curves: slide " + slide + (options.strict_sliding ? ", strict" : "") + "\" (--semilandmarks" +
                               (slide == "procd" ? " --slide procd" : "") + (options.strict_sliding ? " --slide-strict" : "") +
                               ")";
    if (options.strict_sliding && refusal.find("strict sliding") != std::string::npos)
        return "; the choice " + chosen + " refuses sliding that has not settled: \"Curves: slide " + slide +
               "\" (without --slide-strict) uses the coordinates at the limit, as gpagen does";
    return "; the choice " + chosen +
           " keeps the curve points as semilandmarks: \"Curves: skip\" (without --semilandmarks) imports the LM= landmarks "
           "alone";
}

ImportedData import_naming_choices(const std::string& path, const ImportOptions& options) {
    try {
        return import_file(path, options);
    } catch (const Cancelled&) {
        throw;
    } catch (const Refused&) {
        throw;
    } catch (const QuillanError& e) {
        const std::string text = e.what();
        const std::string note = curves_choice_note(text, options);
        if (note.empty() || text.size() < kNothingImported.size() ||
            text.compare(text.size() - kNothingImported.size(), kNothingImported.size(), kNothingImported) != 0)
            throw;
        throw QuillanError(text.substr(0, text.size() - kNothingImported.size()) + note + std::string(kNothingImported));
    }
}

}  // namespace quillan::io
