// 3D Slicer's markups: a file per specimen, its control points the
// landmarks in order.  A .fcsv file is comma separated with '#' comment
// lines (one of them naming the columns); a .mrk.json file holds the points
// under markups[0].controlPoints, each with its position [x, y, z].
#include "io/import.hpp"
#include "io/import_reading.hpp"
#include "io/import_refusal.hpp"

#include "platform/capped_read.hpp"
#include "platform/stop_request.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>

namespace quillan::io {

namespace {

bool ends_with(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// The specimen a markups file holds: its name without the extension.
std::string markups_stem(const std::string& name) {
    const std::string l = lower(name);
    for (const char* ext : {".mrk.json", ".fcsv", ".json"})
        if (ends_with(l, ext)) return name.substr(0, name.size() - std::string(ext).size());
    return name;
}

SpecimenTable one_specimen(const TextFile& f) {
    SpecimenTable t;
    t.path = f.path;
    t.name = f.name;
    t.dimensions = 3;
    t.ids = {markups_stem(f.name)};
    t.coords.emplace_back();
    t.sizes.emplace_back();
    t.lines.push_back(0);
    return t;
}

// Where the columns of a .fcsv file are: from its "# columns = ..." line,
// else Slicer's own order (id,x,y,z,ow,ox,oy,oz,vis,sel,lock,label,...).
struct FcsvColumns {
    std::size_t x = 1, y = 2, z = 3;
};

// A columns line must name each of x, y and z once: a name given twice or
// left out would read one coordinate where another belongs.
void read_fcsv_columns(const TextFile& f, int number, const std::string& comment, FcsvColumns& c) {
    const std::string l = lower(comment);
    const auto at = l.find("columns");
    const auto eq = l.find('=', at == std::string::npos ? 0 : at);
    if (at == std::string::npos || eq == std::string::npos) return;
    const auto names = split_delimited(l.substr(eq + 1), ',');
    std::size_t* const place[] = {&c.x, &c.y, &c.z};
    const char* const axis[] = {"x", "y", "z"};
    for (int a = 0; a < 3; ++a) {
        const auto n = std::count(names.begin(), names.end(), axis[a]);
        if (n != 1)
            refuse(f.path, number, markups_stem(f.name),
                   std::string("the columns line names the column ") + axis[a] + (n ? " more than once" : " nowhere") +
                       "; it needs each of x, y and z once");
        *place[a] = static_cast<std::size_t>(std::find(names.begin(), names.end(), axis[a]) - names.begin());
    }
}

SpecimenTable read_fcsv(const TextFile& f) {
    SpecimenTable t = one_specimen(f);
    FcsvColumns columns;
    for (std::size_t i = 0; i < f.lines.size(); ++i) {
        const std::string line = trim(f.lines[i]);
        const int number = static_cast<int>(i) + 1;
        if (line.empty()) continue;
        if (line.front() == '#') {
            if (t.landmarks == 0) read_fcsv_columns(f, number, line, columns);
            continue;
        }
        const auto cells = split_delimited(line, ',');
        const int landmark = ++t.landmarks;
        if (cells.size() <= std::max({columns.x, columns.y, columns.z}))
            refuse(t.path, number, t.ids[0],
                   "control point " + std::to_string(landmark) + " has " + std::to_string(cells.size()) +
                       " cells, too few for its x, y and z");
        if (t.lines[0] == 0) t.lines[0] = number;
        for (std::size_t c : {columns.x, columns.y, columns.z})
            t.coords[0].push_back(coordinate(t, number, t.ids[0], landmark, cells[c]));
    }
    return t;
}

// JSON nested deeper than any markups file is refused before it is parsed,
// so that no file can take the parser's depth beyond reason.
void require_shallow_json(const TextFile& f) {
    constexpr int kDeepest = 64;
    int depth = 0;
    for (std::size_t i = 0; i < f.lines.size(); ++i) {
        bool in_string = false, escaped = false;
        for (const char c : f.lines[i]) {
            if (in_string) {
                in_string = escaped || c != '"';
                escaped = !escaped && c == '\\';
            } else if (c == '"') {
                in_string = true;
            } else if (c == '[' || c == '{') {
                if (++depth > kDeepest)
                    refuse(f.path, static_cast<int>(i) + 1, "",
                           "the JSON is nested more than " + std::to_string(kDeepest) + " levels deep");
            } else if (c == ']' || c == '}') {
                --depth;
            }
        }
    }
}

// A control point named as the user sees it in Slicer: its place in the
// list and, where it has one, its label.
std::string point_name(const nlohmann::json& point, int landmark) {
    std::string name = "control point " + std::to_string(landmark);
    if (point.is_object() && point.contains("label") && point["label"].is_string())
        name += " (label " + in_quotes(point["label"].get<std::string>()) + ")";
    return name;
}

// Which control point holds the number at `at` of `text` that no double can
// hold: the text is parsed again with that number (and any other such) read
// as null, and the first markups node's point whose position holds a null
// is it.  Empty when the number stands elsewhere.
std::string point_holding(std::string text, std::size_t at, std::size_t length) {
    constexpr int kTries = 8;
    for (int tries = 0; tries < kTries; ++tries) {
        text.replace(at, length, "null");
        try {
            const nlohmann::json j = nlohmann::json::parse(text);
            if (!j.is_object() || !j.contains("markups") || !j["markups"].is_array() || j["markups"].empty()) return "";
            const nlohmann::json& first = j["markups"][0];
            if (!first.is_object() || !first.contains("controlPoints") || !first["controlPoints"].is_array()) return "";
            int landmark = 0;
            for (const auto& point : first["controlPoints"]) {
                ++landmark;
                const nlohmann::json* p = point.is_object() && point.contains("position") ? &point["position"] : nullptr;
                if (p && p->is_array() && std::any_of(p->begin(), p->end(), [](const auto& v) { return v.is_null(); }))
                    return point_name(point, landmark);
            }
            return "";
        } catch (const nlohmann::json::out_of_range& e) {
            const std::string what = e.what();
            const auto open = what.find('\''), close = what.rfind('\'');
            if (open >= close) return "";
            const std::string number = what.substr(open + 1, close - open - 1);
            at = text.find(number);
            if (at == std::string::npos) return "";
            length = number.size();
        } catch (const nlohmann::json::exception&) {
            return "";
        }
    }
    return "";
}

nlohmann::json parse_json(const TextFile& f) {
    require_shallow_json(f);
    std::string text;
    for (const auto& line : f.lines) text += line + "\n";
    try {
        return nlohmann::json::parse(text);
    } catch (const nlohmann::json::parse_error& e) {
        // e.byte counts from 1 and points at the byte where reading failed.
        const std::size_t before = std::min<std::size_t>(e.byte > 0 ? e.byte - 1 : 0, text.size());
        const int line = static_cast<int>(std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(before), '\n')) + 1;
        refuse(f.path, line, "", "it is not valid JSON (" + quoted_snippet(e.what()) + ")");
    } catch (const nlohmann::json::out_of_range& e) {
        // A number past the range of a double (1e400): the parser names the
        // number but not its place, so the line is where it first stands.
        const std::string what = e.what();
        const auto open = what.find('\''), close = what.rfind('\'');
        const std::string number = open < close ? what.substr(open + 1, close - open - 1) : "";
        const std::size_t at = number.empty() ? std::string::npos : text.find(number);
        const int line =
            at == std::string::npos
                ? 0
                : static_cast<int>(std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(at), '\n')) + 1;
        const std::string point = at == std::string::npos ? "" : point_holding(text, at, number.size());
        refuse(
            f.path, line, markups_stem(f.name),
            (point.empty() ? "" : point + ": ") + "the number " + in_quotes(number) + " is beyond the range of any coordinate");
    }
}

// A control point's position, or a gap where Slicer marks it missing or
// not yet placed.
void read_control_point(SpecimenTable& t, const nlohmann::json& point, int landmark) {
    const std::string& specimen = t.ids[0];
    const std::string status = point.is_object() && point.contains("positionStatus") && point["positionStatus"].is_string()
                                   ? point["positionStatus"].get<std::string>()
                                   : "";
    if (status == "missing" || status == "undefined") {
        for (int a = 0; a < 3; ++a) t.coords[0].push_back(gap(t, 0, landmark, status));
        return;
    }
    const nlohmann::json* p = point.is_object() && point.contains("position") ? &point["position"] : nullptr;
    if (!p || !p->is_array() || p->size() != 3 || !std::all_of(p->begin(), p->end(), [](const auto& v) { return v.is_number(); }))
        refuse(t.path, 0, specimen, point_name(point, landmark) + " has no position of three numbers");
    for (const auto& v : *p) t.coords[0].push_back(v.get<double>());
}

SpecimenTable read_mrk_json(const TextFile& f) {
    SpecimenTable t = one_specimen(f);
    const nlohmann::json j = parse_json(f);
    const nlohmann::json* markups = j.is_object() && j.contains("markups") ? &j["markups"] : nullptr;
    if (!markups || !markups->is_array() || markups->empty())
        refuse(t.path, 0, t.ids[0], "it holds no markups (a \"markups\" list)");
    const nlohmann::json& first = (*markups)[0];
    const nlohmann::json* points = first.is_object() && first.contains("controlPoints") ? &first["controlPoints"] : nullptr;
    if (!points || !points->is_array()) refuse(t.path, 0, t.ids[0], "its first markups node has no control points");
    for (const auto& point : *points) read_control_point(t, point, ++t.landmarks);
    if (markups->size() > 1)
        t.notices.push_back(t.name + " holds " + std::to_string(markups->size()) +
                            " markups nodes; the control points of the first were read.");
    return t;
}

// Adds the one specimen of `one` to the folder's table.
void append_specimen(SpecimenTable& t, SpecimenTable&& one) {
    if (t.coords.empty()) t.landmarks = one.landmarks;
    if (one.landmarks != t.landmarks)
        refuse(one.path, 0, one.ids[0],
               "has " + std::to_string(one.landmarks) + " landmarks, but the first specimen (" + quoted_snippet(t.ids[0]) +
                   ") has " + std::to_string(t.landmarks) + "; every specimen needs the same landmarks");
    for (auto g : one.gaps) {
        g.specimen = t.coords.size();
        g.line = 0;  // a line of its own file, not of the folder
        t.gaps.push_back(std::move(g));
    }
    t.ids.push_back(std::move(one.ids[0]));
    t.coords.push_back(std::move(one.coords[0]));
    t.sizes.emplace_back();
    t.lines.push_back(0);
    for (auto& n : one.notices) t.notices.push_back(std::move(n));
}

}  // namespace

bool markups_name(const std::string& name) {
    const std::string l = lower(name);
    return ends_with(l, ".fcsv") || ends_with(l, ".mrk.json");
}

SpecimenTable read_markups(const TextFile& f) {
    SpecimenTable t = ends_with(lower(f.name), ".fcsv") ? read_fcsv(f) : read_mrk_json(f);
    if (t.landmarks == 0) refuse(t.path, 0, t.ids[0], "it holds no control points");
    return t;
}

SpecimenTable read_markups_folder(const std::string& folder) {
    namespace fs = std::filesystem;
    std::vector<fs::path> files;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (markups_name(it->path().filename().string()) && it->is_regular_file(ec)) files.push_back(it->path());
    if (ec) refuse(folder, 0, "", "the folder cannot be read (" + quoted_snippet(ec.message()) + ")");
    if (files.empty()) refuse(folder, 0, "", "the folder holds no 3D Slicer markups files (.fcsv or .mrk.json)");
    std::sort(files.begin(), files.end());
    SpecimenTable t;
    t.path = folder;
    t.name = fs::path(folder).filename().empty() ? fs::path(folder).parent_path().filename().string()
                                                 : fs::path(folder).filename().string();
    t.dimensions = 3;
    for (const auto& file : files) {
        stop_point();
        append_specimen(t, read_markups(read_text_file(file.string())));
    }
    t.notices.push_back(std::to_string(files.size()) + " markups files of the folder " + t.name +
                        " were read, a specimen each, in order of their names.");
    return t;
}

}  // namespace quillan::io
