// tarvik.quality and tarvik.Quality: the beam-quality figures of a spectrum,
// named and valued as the keys of `tarvik quality --json`.
#include "bindings.h"

#include "quality/json.h"
#include "quality/rates.h"

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
    quality::Exposure exposure;
    quality::Rates rates;
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
    static const std::pair<const char*, const char*> measurement[] = {
        {"live_time_s", "Live time in seconds (the spectrum's own; NaN when unknown)."},
        {"real_time_s", "Real time in seconds (NaN when unknown)."},
        {"dead_time_fraction", "Dead time: 1 - live time / real time."},
        {"pileup_share", "Share of the recorded events that are piled up, where a correction estimated it."},
        {"aperture_mm2", "The detector's entrance area in mm2 (aperture_mm2 given)."},
        {"mAs", "The tube's mAs during the real time (mas given)."},
        {"count_rate_per_s", "Photons per second of live time."},
        {"fluence_rate_per_mm2_s", "Photon fluence rate at the detector per mm2 and second (needs aperture_mm2)."},
        {"air_kerma_rate_uGy_per_s", "Air-kerma rate at the detector in uGy per second (needs aperture_mm2)."},
        {"counts_per_mAs", "Photons per mAs (needs mas)."},
        {"fluence_per_mm2_per_mAs", "Photon fluence per mm2 and mAs (needs aperture_mm2 and mas)."},
        {"air_kerma_per_mAs_uGy", "Air kerma per mAs in uGy (needs aperture_mm2 and mas)."},
    };
    for (const auto& [k, text] : measurement) {
        if (key == k) return text;
        if (key == std::string(k) + "_u") return std::string("Standard uncertainty of: ") + text;
    }
    return "The value of \"" + key + "\" in the record of `tarvik quality --json`.";
}

} // namespace

void bindQuality(py::module_& m)
{
    py::class_<Quality> cls(m, "Quality", R"doc(The beam-quality figures of a spectrum (tarvik.quality).

Its attributes are the keys of `tarvik quality --json` with the same values:
file, kev_per_channel, then each figure and its standard uncertainty (the
same name with "_u"): total, mean_energy_keV, kerma_mean_energy_keV,
hvl1_al_mm, ..., then what is known of the measurement: live_time_s,
real_time_s, dead_time_fraction, pileup_share, aperture_mm2, mAs and the
rates (count_rate_per_s, air_kerma_rate_uGy_per_s, ..., each with "_u")
(Quality.KEYS lists them in order).  Where the JSON record holds null (no
uncertainty without resamples, a figure that does not exist, a time that is
not known) the attribute is NaN.  str() gives the text record of `tarvik quality`,
to_json() the JSON line, as_dict() a dict in the order of the keys.
)doc");
    // The attributes are the record's keys, in its order: made from the
    // record itself, so that a key added to it is an attribute too.
    const nlohmann::ordered_json sample = quality::qualityRecord(quality::BeamQuality{}, "", quality::Rates{});
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
            return quality::formatText(q.figures, q.record.at("file").get<std::string>(),
                                       quality::formatRatesText(q.rates, q.exposure));
        })
        .def("__repr__", [](const Quality& q) {
            return "<tarvik.Quality " + quality::jsonLine(q.record) + ">";
        });

    m.def(
        "quality",
        [](const SpectrumOrCountsArg& spectrum, std::optional<double> kevPerChannel, int resamples, std::uint64_t seed,
           double fromKev, std::optional<double> apertureMm2, std::optional<double> mAs) {
            const Spectrum s = spectrumOrCounts(spectrum.object);  // holds the counts for the work below
            quality::Options options;
            options.resamples = resamples;
            options.seed = seed;
            options.lowerLimitKeV = fromKev;
            Quality q;
            // What the rates are computed with, as `tarvik quality` takes
            // them: the spectrum's times, the area and mAs given.
            q.exposure.liveTimeS = s.info.liveTimeS;
            q.exposure.realTimeS = s.info.realTimeS;
            q.exposure.apertureMm2 = apertureMm2;
            q.exposure.mAs = mAs;
            if (s.info.kind == tarvikcli::SpectrumKind::Converted) {
                if (apertureMm2 || mAs)
                    throw tarvikcli::InputError(
                        "aperture_mm2 and mas give figures at the detector; a converted spectrum is the primary "
                        "beam's shape scaled to the scattered counts");
                q.exposure.countsAtDetector = false;
            }
            {
                py::gil_scoped_release unlocked;
                q.figures = tarvikcli::qualityOf(s.span(), s.info, kevPerChannel, options);
                q.rates = quality::computeRates(q.figures, q.exposure);
                q.record = quality::qualityRecord(q.figures, s.info.file, q.rates);
            }
            return q;
        },
        py::arg("spectrum"), py::arg("kev_per_channel") = py::none(), py::arg("resamples") = 100,
        py::arg("seed") = 1, py::arg("from_kev") = 0.0, py::arg("aperture_mm2") = py::none(),
        py::arg("mas") = py::none(), R"doc(The beam-quality figures of a spectrum, as `tarvik quality` computes them.

spectrum         a Spectrum, or counts (any number of channels from 0 keV).
kev_per_channel  the channel width in keV: needed for counts and a .csv; a
                 result file's own width cannot be changed.
resamples        Poisson resamples of the counts for the standard
                 uncertainties (0: none, the uncertainties are NaN).
seed             seed of the resampling.
from_kev         leave out the channels whose centre lies below this energy.
aperture_mm2     the detector's entrance area (the collimator's aperture) in
                 mm2: with the live time, the photon fluence rate and the
                 air-kerma rate at the detector.
mas              the tube's mAs during the real time: counts (and with
                 aperture_mm2 fluence and air kerma) per mAs.

A spectrum that knows its live and real time (an analyser's file, its .csv
of `tarvik import`, or live_time/real_time set) adds them, the dead time and
the count rate; without them those keys are NaN.  A converted spectrum has
no rates.

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
