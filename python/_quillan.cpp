// The compiled half of the Python module: the library entry's calls with
// Python's values.  A run releases the interpreter's lock and looks for
// Ctrl-C every 50 ms, so a run is stopped as quillan-batch stops one.
#include "quillan_api.hpp"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <thread>

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
    out["warnings"] = d.warnings;
    out["notices"] = d.notices;
    return out;
}

// Landmark data for the entry, and the array its coordinates are read
// from in place (kept alive, and so unchanged, for as long as the data).
struct HeldData {
    api::Data data;
    py::array coords;
};

// The dict the Python half makes: coords (n, k, d), ids, columns as (name,
// numeric, values) and source.  An array of float64 is read where it lies,
// whatever its strides; another is converted once.
HeldData data_of(const py::dict& given) {
    HeldData held;
    api::Data& d = held.data;
    py::array coords = py::array::ensure(given["coords"]);
    if (coords && !coords.dtype().is(py::dtype::of<double>()))
        coords = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(coords);
    if (!coords || coords.ndim() != 3) throw py::value_error("coords must be an array of specimens x landmarks x dimensions");
    d.specimens = static_cast<int>(coords.shape(0));
    d.landmarks = static_cast<int>(coords.shape(1));
    d.dimensions = static_cast<int>(coords.shape(2));
    for (int axis = 0; axis < 3; ++axis) {
        if (coords.strides(axis) % static_cast<py::ssize_t>(sizeof(double)) != 0)
            coords = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(coords);  // unaligned: copied
    }
    d.view.data = static_cast<const double*>(coords.data());
    for (int axis = 0; axis < 3; ++axis) d.view.strides[axis] = coords.strides(axis) / static_cast<py::ssize_t>(sizeof(double));
    held.coords = coords;
    d.ids = given["ids"].cast<std::vector<std::string>>();
    for (const py::handle column : given["columns"].cast<py::list>()) {
        const auto t = column.cast<py::tuple>();
        api::Column c{t[0].cast<std::string>(), t[1].cast<bool>(), {}, {}};
        if (c.numeric) c.numbers = t[2].cast<std::vector<double>>();
        else c.text = t[2].cast<std::vector<std::string>>();
        d.columns.push_back(std::move(c));
    }
    d.source = given["source"].cast<std::string>();
    return held;
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

// Runs on the calling thread without the interpreter's lock.  The entry
// asks keep_going where quillan-batch looks for its stop signals: on this
// thread at least every 50 ms while permutations run, and there (only
// there: Python handles signals on its main thread) the lock is taken back
// at most every 50 ms to let Python see a Ctrl-C.
py::dict run_action(const std::string& action, const py::object& data, const Options& options) {
    std::optional<HeldData> d;
    if (!data.is_none()) d = data_of(data.cast<py::dict>());
    const api::Request request{action, d ? &d->data : nullptr, options_of(options)};
    const std::thread::id caller = std::this_thread::get_id();
    auto last_look = std::chrono::steady_clock::now();
    std::atomic<bool> stop{false};
    std::optional<py::error_already_set> interrupted;  // set on the calling thread only
    const auto keep_going = [&] {
        if (stop.load()) return false;
        if (std::this_thread::get_id() != caller) return true;
        const auto now = std::chrono::steady_clock::now();
        if (now - last_look < std::chrono::milliseconds(50)) return true;
        last_look = now;
        const py::gil_scoped_acquire lock;
        if (PyErr_CheckSignals() == 0) return true;
        interrupted.emplace();  // takes the pending exception (KeyboardInterrupt, say)
        stop = true;
        return false;
    };
    api::Result result;
    try {
        const py::gil_scoped_release free;
        result = api::run(request, keep_going);
    } catch (const api::Error& e) {
        if (interrupted) throw *interrupted;
        raise_error(e);
    }
    if (interrupted) throw *interrupted;
    return result_dict(result);
}

// One call of the entry alone, on this thread, timed: what the binding's
// own cost is measured against (bench/python_binding.py).
double entry_call_seconds(const std::string& action, const py::dict& data, const Options& options) {
    const HeldData d = data_of(data);
    const api::Request request{action, &d.data, options_of(options)};
    py::gil_scoped_release free;
    const auto start = std::chrono::steady_clock::now();
    static_cast<void>(api::run(request));
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
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
    m.def("_entry_call_seconds", &entry_call_seconds);
}
