// tarvik.characterize and tarvik.Characterization: the detector's energy
// scale, resolution and mu-tau from spectra of calibration sources, through
// what `tarvik characterize` runs (tarvik/characterize_run.h, the fit of
// detector/characterize.h, the result folder of characterize_output.h);
// the result named and valued as characterization.json.
#include "bindings.h"

#include "characterize_run.h"
#include "engine.h"

#include <nlohmann/json.hpp>
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <cmath>
#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tarvikpy {

namespace fs = std::filesystem;

namespace {

struct Characterization {
    tvdet::Characterization fit;
    nlohmann::ordered_json record;  // characterization.json
    std::optional<fs::path> out;
};

// A value of the record as Python holds it: numbers as float (null as NaN,
// as Quality holds them), whole numbers as int, lists and objects as lists
// and dicts.
py::object pythonValue(const nlohmann::ordered_json& v)
{
    if (v.is_string()) return py::str(v.get_ref<const std::string&>());
    if (v.is_number_integer()) return py::int_(v.get<long long>());
    if (v.is_number()) return py::float_(v.get<double>());
    if (v.is_boolean()) return py::bool_(v.get<bool>());
    if (v.is_array()) {
        py::list l;
        for (const auto& e : v) l.append(pythonValue(e));
        return l;
    }
    if (v.is_object()) {
        py::dict d;
        for (const auto& item : v.items()) d[py::str(item.key())] = pythonValue(item.value());
        return d;
    }
    return py::float_(std::nan(""));
}

nlohmann::ordered_json recordOf(const tvdet::Characterization& c)
{
    return nlohmann::ordered_json::parse(tvdet::characterizationJson(c));
}

// A source as a script passes it: (nuclide, path) or (nuclide, Spectrum).
tvdet::CalibrationSpectrum calibrationSource(const py::handle& item, std::size_t k, std::optional<double>& nominal,
                                             double firstLine)
{
    const auto pair = py::reinterpret_borrow<py::sequence>(item);
    if (!py::isinstance<py::sequence>(item) || py::isinstance<py::str>(item) || pair.size() != 2 ||
        !py::isinstance<py::str>(pair[0]))
        throw tarvikcli::InputError("source " + std::to_string(k + 1) +
                                    " is a pair (nuclide, file or Spectrum), e.g. (\"241Am\", \"am.csv\")");
    const std::string nuclide = pair[0].cast<std::string>();
    const py::object what = pair[1];
    if (!py::isinstance<Spectrum>(what)) {
        const fs::path file = py::module_::import("os").attr("fspath")(what).cast<std::string>();
        return tarvikcli::readCalibrationSource(nuclide, file, nominal, firstLine, "kev_per_channel");
    }
    const Spectrum& s = what.cast<const Spectrum&>();
    const std::string name =
        s.info.file.empty() ? nuclide + " (spectrum " + std::to_string(k + 1) + ")" : s.info.file;
    if (s.info.kind != tarvikcli::SpectrumKind::Measured)
        throw tarvikcli::InputError(name + ": the characterization takes measured spectra, this one is " +
                                    tarvikcli::kindName(s.info.kind));
    if (s.counts.size() != 1024)
        throw tarvikcli::InputError(name + " has " + std::to_string(s.counts.size()) +
                                    " channels; the characterization works on the analyser's 1024 channels");
    for (py::ssize_t i = 0; i < s.counts.size(); ++i) {
        const double c = s.counts.data()[i];
        if (!std::isfinite(c) || c < 0)
            throw tarvikcli::InputError(name + ": channel " + std::to_string(i + 1) + " holds " +
                                        py::repr(py::float_(c)).cast<std::string>() +
                                        ": counts must be numbers of at least 0");
    }
    if (!nominal) {
        if (!s.info.kevPerChannel)
            throw tarvikcli::InputError(name + " carries no keV per channel: give kev_per_channel");
        nominal = *s.info.kevPerChannel;
    }
    return {nuclide, name, std::vector<double>(s.counts.data(), s.counts.data() + s.counts.size())};
}

// What an attribute holds, for help().
std::string describe(const std::string& key)
{
    static const std::pair<const char*, const char*> known[] = {
        {"kev_per_channel", "Energy gain: keV per channel of the analyser."},
        {"offset_keV", "Energy offset in keV (the energy of channel 0's upper edge)."},
        {"fwhm2_constant_keV2", "Resolution FWHM^2 = a + b E + (c E)^2: the constant term a in keV^2."},
        {"fwhm2_linear_keV", "Resolution: the linear term b in keV."},
        {"fwhm_proportional", "Resolution: the proportional term c."},
        {"mutau_electrons_cm2_per_V", "Mu-tau product of the electrons in cm2/V."},
        {"mutau_holes_cm2_per_V", "Mu-tau product of the holes in cm2/V."},
        {"fwhm_keV_at_59_54", "Gaussian FWHM at 59.54 keV in keV."},
        {"deviance_per_channel", "Poisson deviance per degree of freedom of the fit."},
        {"sources", "Per source: nuclide, file, fitted channels, counts, deviance, absorber, scatter, background."},
        {"notes", "What to know about the result (a term held at 0, a weakly determined parameter, ...)."},
    };
    for (const auto& [k, text] : known) {
        if (key == k) return text;
        if (key == std::string(k) + "_u") return std::string("Standard uncertainty of: ") + text + " (NaN: none)";
    }
    return "The value of \"" + key + "\" in characterization.json.";
}

} // namespace

void bindCharacterize(py::module_& m)
{
    py::class_<Characterization> cls(m, "Characterization", R"doc(The result of tarvik.characterize.

Its attributes are the keys of characterization.json (`tarvik characterize`)
with the same values: kev_per_channel, offset_keV, fwhm2_constant_keV2,
fwhm2_linear_keV, fwhm_proportional, mutau_electrons_cm2_per_V,
mutau_holes_cm2_per_V, fwhm_keV_at_59_54, each followed by the same name
with "_u" (its standard uncertainty; NaN where the JSON holds null), then
deviance_per_channel, the construction values (bias_V, thickness_mm, ...),
sources (a list of dicts) and notes (a list of texts).  Characterization.KEYS
lists them in order.  str() gives characterization.txt, to_json() the JSON,
as_dict() a dict; res is the folder of the fitted detector's RES when the
result was written (out=...), else None.
)doc");
    cls.attr("__module__") = "tarvik";
    // The attributes are the record's keys, in its order: those of a result
    // of the command (the record of a default characterization has them all).
    const nlohmann::ordered_json sample = recordOf(tvdet::Characterization{});
    static std::deque<std::string> keys;  // the names live as long as the module
    py::list names;
    py::dict kinds;  // for the type stubs (python/make_stubs.py)
    for (const auto& item : sample.items()) {
        const std::string& key = keys.emplace_back(item.key());
        names.append(key);
        const auto& v = item.value();
        kinds[py::str(key)] = v.is_number_integer() ? "int" : v.is_array() ? "list" : v.is_string() ? "str" : "float";
        cls.def_property_readonly(
            key.c_str(),
            [key](const Characterization& c) {
                return c.record.contains(key) ? pythonValue(c.record.at(key)) : py::object(py::none());
            },
            describe(key).c_str());
    }
    cls.attr("KEYS") = py::tuple(names);
    cls.attr("_KINDS") = kinds;
    cls.def("as_dict", [](const Characterization& c) { return pythonValue(c.record); },
            "The record as a dict, in the order of the keys.")
        .def("to_json", [](const Characterization& c) { return c.record.dump(2) + "\n"; },
             "The text of characterization.json.")
        .def_property_readonly(
            "res",
            [](const Characterization& c) { return c.out ? py::object(py::cast(*c.out / "RES")) : py::object(py::none()); },
            "The fitted detector's RES folder (strip(..., res=...)), when the result was written.")
        .def("__getitem__",
             [](const Characterization& c, const std::string& key) {
                 if (!c.record.contains(key)) throw py::key_error(key);
                 return pythonValue(c.record.at(key));
             })
        .def("__str__", [](const Characterization& c) { return tvdet::characterizationText(c.fit); })
        .def("__repr__", [](const Characterization& c) {
            char buf[160];
            std::snprintf(buf, sizeof buf, "<tarvik.Characterization %.6g keV per channel, mu-tau %.4g / %.4g cm2/V>",
                          c.fit.gain.value, c.fit.mutauElectrons.value, c.fit.mutauHoles.value);
            return std::string(buf);
        });

    m.def(
        "characterize",
        [](const SourcesArg& given, std::optional<double> kevPerChannel, std::optional<fs::path> out,
           std::optional<double> bias, std::optional<double> thickness, std::optional<double> window,
           std::optional<fs::path> res, double firstLine, int threads, std::int64_t photonsPerNode,
           double thresholdKeV, double eventsPerCount, bool force) {
            tarvikcli::CharacterizeSettings settings;
            settings.biasVolts = bias;
            settings.thicknessMm = thickness;
            settings.windowUm = window;
            settings.force = force;
            settings.threads = threads;
            settings.photonsPerNode = photonsPerNode;
            settings.thresholdKeV = thresholdKeV;
            settings.eventsPerCount = eventsPerCount;
            if (kevPerChannel && !(*kevPerChannel > 0 && std::isfinite(*kevPerChannel)))
                throw tarvikcli::InputError("kev_per_channel must be a number above 0");
            if (!py::isinstance<py::sequence>(given.object) || py::isinstance<py::str>(given.object))
                throw tarvikcli::InputError("sources is a list of (nuclide, file or Spectrum) pairs");
            const auto sources = py::reinterpret_borrow<py::sequence>(given.object);
            if (py::len(sources) == 0) throw tarvikcli::InputError("no source: give (nuclide, file or Spectrum) pairs");
            // Everything a user can get wrong is checked before the work, as the command does.
            std::error_code ec;
            if (res && !fs::is_directory(*res, ec))
                throw tarvikcli::FileFailure("the response folder " + res->string() + " does not exist");
            const fs::path resDir = res ? *res : tarvikcli::responseFolder(dataFolder());
            if (out) tvdet::checkOutputFolder(*out, force);
            const tvdet::Construction construction = tarvikcli::constructionFor(resDir, settings);
            std::optional<double> nominal = kevPerChannel;
            std::vector<tvdet::CalibrationSpectrum> spectra;
            for (std::size_t k = 0; k < py::len(sources); ++k)
                spectra.push_back(calibrationSource(sources[k], k, nominal, firstLine));
            Characterization c;
            c.out = out;
            {
                py::gil_scoped_release unlocked;
                c.fit = tvdet::characterize(spectra, nominal.value_or(0.0), construction,
                                            tarvikcli::characterizeOptions(settings));
                // The result folder as the command writes it, without the
                // report pictures (they need Qt's painting, which the module
                // does not load); characterization.txt holds the report.
                if (out) tvdet::writeCharacterization(c.fit, *out, tarvikcli::characterizeOutputOptions(settings, resDir));
            }
            c.record = recordOf(c.fit);
            return c;
        },
        py::arg("sources"), py::arg("kev_per_channel") = py::none(), py::arg("out") = py::none(), py::kw_only(),
        py::arg("bias_v") = py::none(), py::arg("thickness_mm") = py::none(), py::arg("window_um") = py::none(),
        py::arg("res") = py::none(), py::arg("first_line") = 32, py::arg("threads") = 0,
        py::arg("photons_per_node") = 0, py::arg("threshold_kev") = 10.0, py::arg("events_per_count") = 0.0,
        py::arg("force") = false,
        R"doc(Characterizes the detector from spectra of calibration sources, as
`tarvik characterize` does: fits the analyser's energy scale (gain and
offset), the resolution FWHM^2 = a + b*E + (c*E)^2 and the mu-tau of
electrons and holes, each with its standard uncertainty, by Poisson maximum
likelihood of every spectrum from threshold_kev up, with line shapes from
the detector Monte Carlo and lines from xraylib's radionuclide table.

sources          pairs (nuclide, file or Spectrum): "241Am", "57Co", "133Ba",
                 "109Cd", "153Gd", ...; a measured .csv, an analyser's file of
                 1024 channels, or a measured Spectrum of 1024 channels.
kev_per_channel  the nominal keV per channel (the fit finds the true gain;
                 more than 20 % off is refused); else the first source's
                 calibration (an analyser's file, a Spectrum's own width).
out              a folder to write as the command does: RES/ (the fitted
                 detector.txt, unfold.rsp made for it, the standard response
                 tables), characterization.json and characterization.txt (no
                 report pictures).  None: only the fit (a few seconds for
                 small spectra; writing unfold.rsp takes minutes by default).
bias_v, thickness_mm, window_um
                 the construction values (not fitted); by default those of
                 the detector profile of the RES in use.
res              the RES whose standard tables are copied into out (and
                 whose profile gives the construction); by default RES/ of
                 the current folder, else the shipped one.
first_line       where the records of a measured .csv start.
threads          0: one per processor.
photons_per_node photons per energy of unfold.rsp (0: 1000000).
threshold_kev    the lowest recorded energy fitted.
events_per_count Monte Carlo events per measured count (0: the command's
                 default; smaller is faster and coarser).
force            replace an existing out folder.

Returns a Characterization.  Raises tarvik.Error with the command's message
when the spectra do not give a trustworthy result (the wrong nuclide, too few
counts, a gain far off the nominal, ...), for a file that cannot be read or
an out folder that exists; nothing is written then.  The work runs without
holding the interpreter lock.
)doc");
}

} // namespace tarvikpy
