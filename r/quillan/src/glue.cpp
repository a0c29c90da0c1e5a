// The R side of the library entry: R values in, the library's request, its
// result back as R values.  Nothing here knows an action, an option or a
// check; a refusal or failure comes back as a list naming its kind, which the
// R code raises as a condition of its class (an R error cannot cross the
// library's C++ frames).
#include <R_ext/Rdynload.h>
#include <Rcpp.h>

#include <atomic>
#include <chrono>
#include <exception>
#include <string>
#include <thread>
#include <vector>

#include "quillan_api.hpp"
#include "record.h"

namespace api = quillan::api;

// Set by R's SIGINT handler until R handles the interrupt; R exports it
// (R_ext/GraphicsDevice.h declares it, among much a package has no use for).
extern "C" int R_interrupts_pending;

namespace {

const char* kind_name(api::Error::Kind kind) {
    switch (kind) {
        case api::Error::Usage:
            return "usage";
        case api::Error::Refused:
            return "refused";
        case api::Error::Cancelled:
            return "cancelled";
        case api::Error::Failed:
            break;
    }
    return "failed";
}

SEXP failure(const char* kind, const char* message) {
    return Rcpp::List::create(Rcpp::Named("quillan_error") = Rcpp::CharacterVector::create(kind),
                              Rcpp::Named("message") = Rcpp::String(message, CE_UTF8));
}

// Runs `body`, turning the library's errors (and any other) into a failure
// list the R code raises.
template <class Body>
SEXP guarded(Body body) {
    try {
        return body();
    } catch (const api::Error& e) {
        return failure(kind_name(e.kind), e.what());
    } catch (const std::exception& e) {
        return failure("failed", e.what());
    }
}

std::string text_of(SEXP s) { return Rcpp::as<std::string>(s); }

// The options as R hands them: two character vectors of equal length.
std::vector<api::Option> options_of(SEXP names, SEXP values) {
    const Rcpp::CharacterVector n(names), v(values);
    std::vector<api::Option> out;
    for (R_xlen_t i = 0; i < n.size(); ++i) out.push_back({std::string(n[i]), std::string(v[i])});
    return out;
}

Rcpp::CharacterVector words(const std::vector<std::string>& w) {
    Rcpp::CharacterVector out(w.size());
    for (std::size_t i = 0; i < w.size(); ++i) out[i] = Rcpp::String(w[i], CE_UTF8);
    return out;
}

// Landmark data for the entry, and the R vector its coordinates are read
// from in place (held, and so kept, for as long as the data).
struct HeldData {
    api::Data data;
    Rcpp::NumericVector coords;
};

// Landmark data made in R: list(coords = p x k x n array, ids, columns = a
// named list of character or numeric vectors, source).  A double array is
// read where R holds it, landmark fastest; an integer one is converted once.
void data_of(const Rcpp::List& d, HeldData& held) {
    held.coords = d["coords"];
    const Rcpp::IntegerVector dim = held.coords.attr("dim");
    api::Data& out = held.data;
    out.landmarks = dim[0];
    out.dimensions = dim[1];
    out.specimens = dim[2];
    const long long p = out.landmarks, k = out.dimensions;
    out.view.data = held.coords.begin();
    out.view.strides[0] = p * k;  // specimen
    out.view.strides[1] = 1;      // landmark
    out.view.strides[2] = p;      // coordinate
    out.ids = Rcpp::as<std::vector<std::string>>(d["ids"]);
    const Rcpp::List columns = d["columns"];
    const Rcpp::CharacterVector names = columns.names();
    for (R_xlen_t i = 0; i < columns.size(); ++i) {
        api::Column col{std::string(names[i]), Rf_isNumeric(columns[i]) != 0, {}, {}};
        if (col.numeric) col.numbers = Rcpp::as<std::vector<double>>(columns[i]);
        else col.text = Rcpp::as<std::vector<std::string>>(columns[i]);
        out.columns.push_back(std::move(col));
    }
    out.source = Rcpp::as<std::string>(d["source"]);
}

// The library's data as R builds it: coordinates as a p x k x n array (the
// layout of geomorph's arrays), columns by name.
SEXP data_value(const api::Data& d) {
    const std::size_t p = d.landmarks, k = d.dimensions, n = d.specimens;
    Rcpp::NumericVector coords(p * k * n);
    for (std::size_t s = 0; s < n; ++s)
        for (std::size_t l = 0; l < p; ++l)
            for (std::size_t c = 0; c < k; ++c) coords[l + p * (c + k * s)] = d.coords[(s * p + l) * k + c];
    coords.attr("dim") = Rcpp::IntegerVector::create(d.landmarks, d.dimensions, d.specimens);
    Rcpp::List columns(d.columns.size());
    Rcpp::CharacterVector names(d.columns.size());
    for (std::size_t i = 0; i < d.columns.size(); ++i) {
        const api::Column& c = d.columns[i];
        names[i] = Rcpp::String(c.name, CE_UTF8);
        columns[i] = c.numeric ? SEXP(Rcpp::wrap(c.numbers)) : SEXP(words(c.text));
    }
    columns.attr("names") = names;
    return Rcpp::List::create(Rcpp::Named("coords") = coords, Rcpp::Named("ids") = words(d.ids), Rcpp::Named("columns") = columns,
                              Rcpp::Named("source") = Rcpp::String(d.source, CE_UTF8),
                              Rcpp::Named("warnings") = words(d.warnings), Rcpp::Named("notices") = words(d.notices));
}

// Whether the user has asked to stop.  R may be asked only on its own
// thread, and then only through R_ToplevelExec, since R_CheckUserInterrupt
// jumps out on an interrupt; the workers look at the interrupt R's signal
// handler has noted.  Asking R at most every 20 ms keeps a run's own calls
// cheap.
class Interrupts {
public:
    bool keep_going() {
        if (stopped_) return false;
        if (std::this_thread::get_id() != main_) {
            if (__atomic_load_n(&R_interrupts_pending, __ATOMIC_RELAXED) != 0) stopped_ = true;
            return !stopped_;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now - last_ < std::chrono::milliseconds(20)) return true;
        last_ = now;
        if (!R_ToplevelExec(check, nullptr)) stopped_ = true;
        return !stopped_;
    }

private:
    static void check(void*) { R_CheckUserInterrupt(); }
    std::thread::id main_ = std::this_thread::get_id();
    std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
    std::atomic<bool> stopped_{false};
};

SEXP option_value(const api::OptionInfo& o) {
    return Rcpp::List::create(Rcpp::Named("name") = o.name, Rcpp::Named("kind") = o.kind,
                              Rcpp::Named("help") = Rcpp::String(o.help, CE_UTF8), Rcpp::Named("fallback") = o.fallback,
                              Rcpp::Named("choices") = words(o.choices), Rcpp::Named("repeated") = o.repeated);
}

SEXP options_value(const std::vector<api::OptionInfo>& options) {
    Rcpp::List out(options.size());
    for (std::size_t i = 0; i < options.size(); ++i) out[i] = option_value(options[i]);
    return out;
}

}  // namespace

extern "C" {

SEXP quillan_read(SEXP path, SEXP names, SEXP values) {
    return guarded([&] { return data_value(api::read(text_of(path), options_of(names, values))); });
}

SEXP quillan_run(SEXP action, SEXP data, SEXP names, SEXP values) {
    return guarded([&] {
        api::Request request{text_of(action), nullptr, options_of(names, values)};
        HeldData given;
        if (!Rf_isNull(data)) {
            data_of(Rcpp::List(data), given);
            request.data = &given.data;
        }
        Interrupts interrupts;
        const api::Result r = api::run(request, [&] { return interrupts.keep_going(); });
        return SEXP(Rcpp::List::create(
            Rcpp::Named("report") = Rcpp::String(r.report, CE_UTF8), Rcpp::Named("record") = record_value(r.record_json),
            Rcpp::Named("messages") = words(r.messages), Rcpp::Named("trace") = Rcpp::String(r.trace, CE_UTF8)));
    });
}

SEXP quillan_actions() {
    return guarded([] {
        const std::vector<api::ActionInfo> all = api::actions();
        Rcpp::List out(all.size());
        for (std::size_t i = 0; i < all.size(); ++i) {
            const api::ActionInfo& a = all[i];
            out[i] = Rcpp::List::create(Rcpp::Named("name") = a.name, Rcpp::Named("alias") = a.alias,
                                        Rcpp::Named("description") = Rcpp::String(a.description, CE_UTF8),
                                        Rcpp::Named("kind") = a.kind, Rcpp::Named("needs") = a.needs,
                                        Rcpp::Named("options") = options_value(a.options));
        }
        return SEXP(out);
    });
}

SEXP quillan_run_options() {
    return guarded([] { return options_value(api::run_options()); });
}

SEXP quillan_version() {
    return guarded([] { return SEXP(Rcpp::wrap(api::version())); });
}

void R_init_quillan(DllInfo* dll) {
    static const R_CallMethodDef calls[] = {
        {"quillan_read", (DL_FUNC)&quillan_read, 3},       {"quillan_run", (DL_FUNC)&quillan_run, 4},
        {"quillan_actions", (DL_FUNC)&quillan_actions, 0}, {"quillan_run_options", (DL_FUNC)&quillan_run_options, 0},
        {"quillan_version", (DL_FUNC)&quillan_version, 0}, {nullptr, nullptr, 0}};
    R_registerRoutines(dll, nullptr, calls, nullptr, nullptr);
    R_useDynamicSymbols(dll, FALSE);
}

}  // extern "C"
