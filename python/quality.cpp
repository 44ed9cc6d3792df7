// tarvik.quality and tarvik.Quality: the beam-quality figures of a spectrum,
// named and valued as the keys of `tarvik quality --json`.
#include "bindings.h"

#include "quality/json.h"

#include <pybind11/stl.h>

#include <cmath>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>

namespace tarvikpy {

namespace {

struct Quality {
    quality::BeamQuality figures;
    nlohmann::ordered_json record;  // the record of `tarvik quality --json`
};

py::object value(const nlohmann::ordered_json& v)
{
    if (v.is_string()) return py::str(v.get_ref<const std::string&>());
    if (v.is_number()) return py::float_(v.get<double>());
    return py::float_(std::nan(""));
}

// What an attribute holds, for help(): from the figure list of the records.
std::string describe(const std::string& key)
{
    if (key == "file") return "The spectrum's file (\"\" for one made in Python).";
    if (key == "kev_per_channel") return "The channel width in keV the figures were computed with.";
    for (const quality::Figure& f : quality::figures()) {
        const std::string unit = *f.unit ? std::string(" in ") + f.unit : std::string();
        std::string label = f.label;
        if (key == f.key) {
            if (!label.empty() && label[0] >= 'a' && label[0] <= 'z') label[0] = static_cast<char>(label[0] - 'a' + 'A');
            return label + unit + ".";
        }
        if (key == std::string(f.key) + "_u")
            return std::string("Standard uncertainty of the ") + f.label + unit + " (NaN without resamples).";
    }
    return key;
}

} // namespace

void bindQuality(py::module_& m)
{
    py::class_<Quality> cls(m, "Quality", R"doc(The beam-quality figures of a spectrum (tarvik.quality).

Its attributes are the keys of `tarvik quality --json` with the same values:
file, kev_per_channel, then each figure and its standard uncertainty (the
same name with "_u"): total, mean_energy_keV, kerma_mean_energy_keV,
hvl1_al_mm, ... (Quality.KEYS lists them in order).  Where the JSON record
holds null (no uncertainty without resamples, a figure that does not exist)
the attribute is NaN.  str() gives the text record of `tarvik quality`,
to_json() the JSON line, as_dict() a dict in the order of the keys.
)doc");
    // The attributes are the record's keys, in its order.
    const nlohmann::ordered_json sample = quality::jsonRecord(quality::BeamQuality{}, "");
    static std::deque<std::string> keys;  // the names live as long as the module
    py::list names;
    for (const auto& item : sample.items()) {
        const std::string& key = keys.emplace_back(item.key());
        names.append(key);
        cls.def_property_readonly(
            key.c_str(), [key](const Quality& q) { return value(q.record.at(key)); }, describe(key).c_str());
    }
    cls.attr("KEYS") = py::tuple(names);
    cls.attr("__module__") = "tarvik";  // the package as a script names it
    cls.def("as_dict",
            [](const Quality& q) {
                py::dict d;
                for (const auto& item : q.record.items()) d[py::str(item.key())] = value(item.value());
                return d;
            },
            "The figures as a dict, in the order of the keys.")
        .def("to_json", [](const Quality& q) { return quality::jsonLine(q.record); },
             "The JSON line that `tarvik quality --json` prints for the spectrum.")
        .def_property_readonly(
            "resamples_used", [](const Quality& q) { return q.figures.resamplesUsed; },
            "The Poisson resamples that gave every figure (0 without uncertainties).")
        .def("__getitem__", [](const Quality& q, const std::string& key) {
            if (!q.record.contains(key)) throw py::key_error(key);
            return value(q.record.at(key));
        })
        .def("__str__", [](const Quality& q) {
            return quality::formatText(q.figures, q.record.at("file").get<std::string>());
        })
        .def("__repr__", [](const Quality& q) {
            return "<tarvik.Quality " + quality::jsonLine(q.record) + ">";
        });

    m.def(
        "quality",
        [](const SpectrumOrCountsArg& spectrum, std::optional<double> kevPerChannel, int resamples, std::uint64_t seed,
           double fromKev) {
            const Spectrum s = spectrumOrCounts(spectrum.object);  // holds the counts for the work below
            quality::Options options;
            options.resamples = resamples;
            options.seed = seed;
            options.lowerLimitKeV = fromKev;
            Quality q;
            {
                py::gil_scoped_release unlocked;
                q.figures = tarvikcli::qualityOf(s.span(), s.info, kevPerChannel, options);
                q.record = quality::jsonRecord(q.figures, s.info.file);
            }
            return q;
        },
        py::arg("spectrum"), py::arg("kev_per_channel") = py::none(), py::arg("resamples") = 100,
        py::arg("seed") = 1, py::arg("from_kev") = 0.0, R"doc(The beam-quality figures of a spectrum, as `tarvik quality` computes them.

spectrum         a Spectrum, or counts (any number of channels from 0 keV).
kev_per_channel  the channel width in keV: needed for counts and a .csv; a
                 result file's own width cannot be changed.
resamples        Poisson resamples of the counts for the standard
                 uncertainties (0: none, the uncertainties are NaN).
seed             seed of the resampling.
from_kev         leave out the channels whose centre lies below this energy.

Channel i is taken at its centre (i - 0.5) * w.  Figures: total photons,
mean energy (fluence and air kerma), first and second half-value layers of
air kerma in aluminium and copper (narrow beam), homogeneity coefficients,
effective energy (Al) and end point.  Attenuation data from xraylib.

Returns a Quality.  Raises tarvik.Error with the command line's message for
a spectrum without counts, a half-value layer beyond 100 mm Al or counts
that are no numbers.  Negative counts are taken as they are (resampled as
minus a Poisson count of their size).
)doc");
}

} // namespace tarvikpy
