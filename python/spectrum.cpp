// tarvik.Spectrum, tarvik.read and tarvik.write.
#include "bindings.h"

#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <dlfcn.h>

#include <optional>
#include <string>
#include <vector>

namespace tarvikpy {

namespace fs = std::filesystem;
using tarvikcli::InputError;

CountArray countArray(py::handle values)
{
    CountArray a = CountArray::ensure(values);
    if (!a) {
        // NumPy's own words on why these are no numbers.
        py::module_::import("numpy").attr("asarray")(values, "float64");
        throw InputError("counts are numbers, one per channel");
    }
    if (a.ndim() != 1) {
        std::string shape;
        for (py::ssize_t d = 0; d < a.ndim(); ++d) shape += (d ? ", " : "") + std::to_string(a.shape(d));
        throw InputError("counts are one number per channel (a one-dimensional array), not an array of shape (" +
                         shape + ")");
    }
    tarvikcli::requireChannelCount(static_cast<std::size_t>(a.size()));
    return a;
}

CountArray adopt(std::vector<double>&& values)
{
    auto* owned = new std::vector<double>(std::move(values));
    py::capsule owner(owned, [](void* p) { delete static_cast<std::vector<double>*>(p); });
    return CountArray(static_cast<py::ssize_t>(owned->size()), owned->data(), owner);
}

Spectrum spectrumOrCounts(py::handle object)
{
    if (py::isinstance<Spectrum>(object)) return object.cast<const Spectrum&>();
    return Spectrum{countArray(object), {}};
}

Spectrum fromRecord(tarvikcli::SpectrumRecord&& record)
{
    return Spectrum{adopt(std::move(record.counts)), std::move(record.info)};
}

const fs::path& dataFolder()
{
    static const fs::path folder = [] {
        Dl_info info{};
        if (dladdr(reinterpret_cast<void*>(&dataFolder), &info) && info.dli_fname) {
            // <prefix>/lib/python3/dist-packages/tarvik/_core...so
            const fs::path installed =
                fs::path(info.dli_fname).parent_path() / ".." / ".." / ".." / ".." / "share" / "tarvik";
            std::error_code ec;
            if (fs::is_directory(installed / "RES", ec)) return fs::weakly_canonical(installed, ec);
        }
        return fs::path(TARVIK_BUILD_DATA_DIR);
    }();
    return folder;
}

namespace {

std::optional<double> positiveOrNone(std::optional<double> v, const char* what)
{
    if (v && !(*v > 0 && std::isfinite(*v))) throw InputError(std::string(what) + " must be a number above 0");
    return v;
}

std::optional<double> finiteOrNone(std::optional<double> v, const char* what)
{
    if (v && !std::isfinite(*v)) throw InputError(std::string(what) + " must be a number");
    return v;
}

std::vector<std::string> readable(const std::vector<std::string>& lines)
{
    std::vector<std::string> out;
    out.reserve(lines.size());
    for (const auto& l : lines) out.push_back(tarvikcli::readableText(l));
    return out;
}

std::vector<std::string> fileTexts(const std::vector<std::string>& lines, const char* what)
{
    std::vector<std::string> out;
    out.reserve(lines.size());
    for (const auto& l : lines) out.push_back(tarvikcli::fileText(l, what));
    return out;
}

Spectrum copyOf(const Spectrum& s)
{
    Spectrum c = s;
    c.counts = CountArray(py::array(s.counts).attr("copy")());
    return c;
}

std::optional<formats::Format> formatNamed(const std::optional<std::string>& key)
{
    if (!key) return std::nullopt;
    if (auto f = formats::formatFromKey(*key)) return f;
    throw InputError("the format is \"mca\", \"spe\", \"chn\", \"n42\", \"text\" or \"csv\", not \"" + *key + "\"");
}

std::string repr(const Spectrum& s)
{
    std::string out = "<tarvik.Spectrum ";
    out += tarvikcli::kindName(s.info.kind);
    out += ", " + std::to_string(s.counts.size()) + " channels";
    if (s.info.kevPerChannel) out += ", " + py::repr(py::float_(*s.info.kevPerChannel)).cast<std::string>() + " keV per channel";
    if (s.info.tubeVoltage) out += ", " + py::repr(py::float_(*s.info.tubeVoltage)).cast<std::string>() + " kV";
    if (!s.info.file.empty()) out += ", from " + s.info.file;
    return out + ">";
}

} // namespace

void bindSpectrum(py::module_& m)
{
    py::class_<Spectrum> cls(m, "Spectrum", R"doc(A spectrum: counts per channel and what is known about them.

Channel i (counting from 1) holds the photons of energies between
offset_kev + (i-1)*w and offset_kev + i*w, w the keV per channel.

Spectrum(counts, kev_per_channel=None, *, offset_kev=0.0, kind="measured",
         kv=None, comments=("", ""), header=(), live_time=None, real_time=None)

counts      one number per channel (list or NumPy array).  A float64 array
            in C order is kept as it is, not copied: changing it changes the
            spectrum.  Anything else is converted to one once.
kind        "measured" (as recorded, a .csv), "stripped" (corrected for the
            detector's response, a .mca1) or "converted" (the primary
            spectrum behind a scatterer, a .mca2).
kv          the tube voltage that a result file records.
comments    the two comment lines of a result file.
header      descriptive lines: a .csv's lines before the data, a result
            file's lines 5 to 21.
live_time, real_time   seconds, when known.
)doc");
    // The package as a script names it, also in the signatures below.
    cls.attr("__module__") = "tarvik";
    cls.def(py::init([](const CountsArg& counts, std::optional<double> kevPerChannel, double offsetKeV,
                         const std::string& kind, std::optional<double> kv, std::pair<std::string, std::string> comments,
                         std::vector<std::string> header, std::optional<double> liveTime,
                         std::optional<double> realTime) {
                 Spectrum s{countArray(counts.object), {}};
                 s.info.kevPerChannel = positiveOrNone(kevPerChannel, "kev_per_channel");
                 if (!std::isfinite(offsetKeV)) throw InputError("offset_kev must be a number");
                 s.info.offsetKeV = offsetKeV;
                 s.info.kind = tarvikcli::kindFromName(kind);
                 s.info.tubeVoltage = finiteOrNone(kv, "kv");
                 s.info.comments = {tarvikcli::fileText(comments.first, "the first comment"),
                                    tarvikcli::fileText(comments.second, "the second comment")};
                 s.info.header = fileTexts(header, "a header line");
                 s.info.liveTimeS = finiteOrNone(liveTime, "live_time");
                 s.info.realTimeS = finiteOrNone(realTime, "real_time");
                 return s;
             }),
             py::arg("counts"), py::arg("kev_per_channel") = py::none(), py::kw_only(), py::arg("offset_kev") = 0.0,
             py::arg("kind") = "measured", py::arg("kv") = py::none(),
             py::arg("comments") = std::make_pair(std::string(), std::string()),
             py::arg("header") = std::vector<std::string>{}, py::arg("live_time") = py::none(),
             py::arg("real_time") = py::none())
        .def_property(
            "counts", [](const Spectrum& s) { return s.counts; },
            [](Spectrum& s, const CountsArg& v) { s.counts = countArray(v.object); },
            "Counts per channel, channel 1 first (a float64 NumPy array; changes to it change the spectrum).")
        .def_property(
            "kev_per_channel", [](const Spectrum& s) { return s.info.kevPerChannel; },
            [](Spectrum& s, std::optional<double> v) { s.info.kevPerChannel = positiveOrNone(v, "kev_per_channel"); },
            "Channel width in keV, or None (a measured .csv carries none).")
        .def_property(
            "offset_kev", [](const Spectrum& s) { return s.info.offsetKeV; },
            [](Spectrum& s, double v) {
                if (!std::isfinite(v)) throw InputError("offset_kev must be a number");
                s.info.offsetKeV = v;
            },
            "Energy in keV where channel 1 starts (0 for the files of this system).")
        .def_property(
            "kind", [](const Spectrum& s) { return std::string(tarvikcli::kindName(s.info.kind)); },
            [](Spectrum& s, const std::string& v) { s.info.kind = tarvikcli::kindFromName(v); },
            "\"measured\", \"stripped\" or \"converted\".")
        .def_property_readonly(
            "format", [](const Spectrum& s) { return s.info.format; },
            "The layout of the file it was read from: \"csv\", \"mca1\", \"mca2\", or an analyser's\n"
            "format (\"mca\", \"spe\", \"chn\", \"n42\", \"text\"); \"\" when made in Python.")
        .def_property(
            "kv", [](const Spectrum& s) { return s.info.tubeVoltage; },
            [](Spectrum& s, std::optional<double> v) { s.info.tubeVoltage = finiteOrNone(v, "kv"); },
            "Tube voltage in kV recorded in a result file, or None.")
        .def_property(
            "comments",
            [](const Spectrum& s) {
                return py::make_tuple(tarvikcli::readableText(s.info.comments[0]),
                                      tarvikcli::readableText(s.info.comments[1]));
            },
            [](Spectrum& s, std::pair<std::string, std::string> v) {
                s.info.comments = {tarvikcli::fileText(v.first, "the first comment"),
                                   tarvikcli::fileText(v.second, "the second comment")};
            },
            "The two comment lines of a result file (blanks at their ends not shown).")
        .def_property(
            "header", [](const Spectrum& s) { return readable(s.info.header); },
            [](Spectrum& s, const std::vector<std::string>& v) { s.info.header = fileTexts(v, "a header line"); },
            "Descriptive lines: a .csv's lines before the data, a result file's lines 5 to 21.\n"
            "The file's own bytes are kept; what cannot be shown reads as U+FFFD.")
        .def_property(
            "live_time", [](const Spectrum& s) { return s.info.liveTimeS; },
            [](Spectrum& s, std::optional<double> v) { s.info.liveTimeS = finiteOrNone(v, "live_time"); },
            "Live time in seconds, or None.")
        .def_property(
            "real_time", [](const Spectrum& s) { return s.info.realTimeS; },
            [](Spectrum& s, std::optional<double> v) { s.info.realTimeS = finiteOrNone(v, "real_time"); },
            "Real time in seconds, or None.")
        .def_property_readonly(
            "name", [](const Spectrum& s) { return s.info.name; },
            "The spectrum's title in a file of an analyser's software (tag, id), else \"\".")
        .def_property_readonly(
            "path", [](const Spectrum& s) { return s.info.file.empty() ? py::object(py::none()) : py::str(s.info.file); },
            "The file it was read from, or None.")
        .def_property_readonly(
            "energies_kev",
            [](const Spectrum& s) {
                const double w = tarvikcli::channelWidth(s.info, std::nullopt);
                std::vector<double> e(static_cast<std::size_t>(s.counts.size()));
                for (std::size_t i = 0; i < e.size(); ++i) e[i] = s.info.offsetKeV + (static_cast<double>(i) + 0.5) * w;
                return adopt(std::move(e));
            },
            "The centre energy of each channel in keV (needs kev_per_channel).")
        .def("copy", &copyOf, "A copy with counts of its own.")
        .def("__copy__", &copyOf)
        .def("__deepcopy__", [](const Spectrum& s, const py::dict&) { return copyOf(s); }, py::arg("memo"))
        .def("__len__", [](const Spectrum& s) { return s.counts.size(); })
        .def("__repr__", &repr);

    m.def(
        "read",
        [](const fs::path& file, double firstLine, std::optional<std::string> format) {
            const auto forced = formatNamed(format);
            tarvikcli::SpectrumRecord r;
            {
                py::gil_scoped_release unlocked;
                r = tarvikcli::readSpectrumFile(file, firstLine, forced);
            }
            return fromRecord(std::move(r));
        },
        py::arg("path"), py::arg("first_line") = 32, py::arg("format") = py::none(), R"doc(Reads a spectrum file.

path        a measured ".csv" (records of channel, energy, count from line
            first_line on; the lines before are its header; it carries no
            keV per channel), a stripping result ".mca1" or a conversion
            result ".mca2" (their keV per channel, tube voltage, comments and
            header lines), all read as the front end reads them; or a file
            of an analyser's software, recognised from its content:
            <<PMCA SPECTRUM>> ".mca", ".Spe", ".Chn", N42 XML, text columns
            (any number of channels, the straight line of its calibration as
            kev_per_channel and offset_kev, live and real time).
first_line  where the records of a measured .csv start (the dialog's box, 32).
format      read every file but .mca1/.mca2 as this format: "mca", "spe",
            "chn", "n42", "text" or "csv" (`tarvik --format`).

Returns a Spectrum.  Raises tarvik.Error with the front end's or the format
reader's message (file, line or byte, what was expected) when the file
cannot be read, and for an N42 file of several spectra (tarvik.read_all).
)doc");

    m.def(
        "read_all",
        [](const fs::path& file, double firstLine, std::optional<std::string> format) {
            const auto forced = formatNamed(format);
            std::vector<tarvikcli::SpectrumRecord> all;
            {
                py::gil_scoped_release unlocked;
                all = tarvikcli::readSpectrumFiles(file, firstLine, forced);
            }
            std::vector<Spectrum> out;
            out.reserve(all.size());
            for (auto& r : all) out.push_back(fromRecord(std::move(r)));
            return out;
        },
        py::arg("path"), py::arg("first_line") = 32, py::arg("format") = py::none(),
        "Every spectrum of a file, as a list of Spectrum (an N42 file may hold several; the\n"
        "path of each is the file's with #1, #2, ... as `tarvik` names them).  See tarvik.read.");

    m.def(
        "write",
        [](const Spectrum& s, const fs::path& file, bool overwrite) {
            std::error_code ec;
            if (!overwrite && fs::exists(fs::symlink_status(file, ec)))
                throw tarvikcli::FileFailure(file.string() + " exists (overwrite=True replaces it)");
            const Spectrum held = s;
            py::gil_scoped_release unlocked;
            tarvikcli::writeSpectrumFile(held.span(), held.info, file);
        },
        py::arg("spectrum"), py::arg("path"), py::arg("overwrite") = false, R"doc(Writes a spectrum in the layout of the result files.

A stripped spectrum is written as ".mca1" exactly as tvstrip writes it, a
converted one as ".mca2" exactly as tvconv writes it (comments, tube
voltage, keV per channel, 17 header lines, 1024 channel records); the front
end, tvconv and `tarvik` read them.  The counts must be 1024 whole numbers
from 0 to 9999999.  The file is written aside and renamed into place when
complete; an existing file is kept unless overwrite=True.
)doc");

    m.def(
        "data_folder", [] { return dataFolder(); },
        "The folder of the shipped data (RES/, Carbon.dat, PMMA.dat, Tarvik_data/) used when the\n"
        "current folder holds none.");
    m.def("forget_data", &tarvikcli::forgetSharedData,
          "Forgets the response tables and scatterer files read so far: the next call reads them\n"
          "again (after they were changed on disk).  They are otherwise read once per process.");
}

} // namespace tarvikpy
