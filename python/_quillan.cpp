// The compiled half of the Python module: the library entry's calls with
// Python's values.  A run goes on a thread of its own while the calling
// thread, without the interpreter's lock, waits for it and looks for
// Ctrl-C every 50 ms, so a run is stopped as quillan-batch stops one.
#include "quillan_api.hpp"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <atomic>
#include <chrono>
#include <future>
#include <optional>

namespace py = pybind11;
namespace api = quillan::api;

namespace {

using Options = std::vector<std::pair<std::string, std::string>>;

std::vector<api::Option> options_of(const Options& given) {
    std::vector<api::Option> options;
    for (const auto& [name, value] : given) options.push_back({name, value});
    return options;
}

// The exception of the quillan package for an error of the entry.
[[noreturn]] void raise_error(const api::Error& e) {
    static const char* const names[] = {"UsageError", "Refused", "Failed", "Cancelled"};
    const py::object cls = py::module_::import("quillan._errors").attr(names[e.kind]);
    PyErr_SetObject(cls.ptr(), py::str(e.what()).ptr());
    throw py::error_already_set();
}

py::dict data_dict(const api::Data& d) {
    py::dict out;
    py::array_t<double> coords({d.specimens, d.landmarks, d.dimensions});
    std::copy(d.coords.begin(), d.coords.end(), coords.mutable_data());
    out["coords"] = coords;
    out["ids"] = d.ids;
    py::list columns;
    for (const api::Column& c : d.columns) {
        if (c.numeric) columns.append(py::make_tuple(c.name, true, py::array_t<double>(c.numbers.size(), c.numbers.data())));
        else columns.append(py::make_tuple(c.name, false, c.text));
    }
    out["columns"] = columns;
    out["source"] = d.source;
    return out;
}

// The dict the Python half makes: coords (n, k, d) as float64, ids,
// columns as (name, numeric, values) and source.
api::Data data_of(const py::dict& given) {
    api::Data d;
    const auto coords = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(given["coords"]);
    if (!coords || coords.ndim() != 3) throw py::value_error("coords must be an array of specimens x landmarks x dimensions");
    d.specimens = static_cast<int>(coords.shape(0));
    d.landmarks = static_cast<int>(coords.shape(1));
    d.dimensions = static_cast<int>(coords.shape(2));
    d.coords.assign(coords.data(), coords.data() + coords.size());
    d.ids = given["ids"].cast<std::vector<std::string>>();
    for (const py::handle column : given["columns"].cast<py::list>()) {
        const auto t = column.cast<py::tuple>();
        api::Column c{t[0].cast<std::string>(), t[1].cast<bool>(), {}, {}};
        if (c.numeric) c.numbers = t[2].cast<std::vector<double>>();
        else c.text = t[2].cast<std::vector<std::string>>();
        d.columns.push_back(std::move(c));
    }
    d.source = given["source"].cast<std::string>();
    return d;
}

py::dict read_file(const std::string& path, const Options& options) {
    api::Data d;
    try {
        py::gil_scoped_release free;
        d = api::read(path, options_of(options));
    } catch (const api::Error& e) {
        raise_error(e);
    }
    return data_dict(d);
}

py::dict result_dict(const api::Result& r) {
    py::dict out;
    out["report"] = r.report;
    out["record_json"] = r.record_json;
    out["messages"] = r.messages;
    out["trace"] = r.trace;
    return out;
}

py::dict run_action(const std::string& action, const py::object& data, const Options& options) {
    std::optional<api::Data> d;
    if (!data.is_none()) d = data_of(data.cast<py::dict>());
    const api::Request request{action, d ? &*d : nullptr, options_of(options)};
    std::atomic<bool> stop{false};
    auto running = std::async(std::launch::async, [&] { return api::run(request, [&] { return !stop.load(); }); });
    std::optional<py::error_already_set> interrupted;
    for (;;) {
        std::future_status status;
        {
            py::gil_scoped_release free;
            status = running.wait_for(std::chrono::milliseconds(50));
        }
        if (status == std::future_status::ready) break;
        if (!interrupted && PyErr_CheckSignals() != 0) {
            interrupted.emplace();  // takes the pending exception (KeyboardInterrupt, say)
            stop = true;
        }
    }
    try {
        const api::Result result = running.get();
        if (interrupted) throw *interrupted;
        return result_dict(result);
    } catch (const api::Error& e) {
        if (interrupted && e.kind == api::Error::Cancelled) throw *interrupted;
        raise_error(e);
    }
}

py::dict option_dict(const api::OptionInfo& o) {
    py::dict out;
    out["name"] = o.name;
    out["kind"] = o.kind;
    out["help"] = o.help;
    out["default"] = o.fallback;
    out["choices"] = o.choices;
    out["repeated"] = o.repeated;
    return out;
}

py::list option_list(const std::vector<api::OptionInfo>& options) {
    py::list out;
    for (const api::OptionInfo& o : options) out.append(option_dict(o));
    return out;
}

py::list action_list() {
    py::list out;
    for (const api::ActionInfo& a : api::actions()) {
        py::dict d;
        d["name"] = a.name;
        d["alias"] = a.alias;
        d["description"] = a.description;
        d["kind"] = a.kind;
        d["needs"] = a.needs;
        d["options"] = option_list(a.options);
        out.append(d);
    }
    return out;
}

}  // namespace

PYBIND11_MODULE(_quillan, m) {
    m.doc() = "The compiled half of quillan: the library entry's calls.";
    m.def("read", &read_file, py::arg("path"), py::arg("options"));
    m.def("run", &run_action, py::arg("action"), py::arg("data"), py::arg("options"));
    m.def("actions", &action_list);
    m.def("run_options", [] { return option_list(api::run_options()); });
    m.def("import_options", [] { return option_list(api::import_options()); });
    m.def("version", &api::version);
}
