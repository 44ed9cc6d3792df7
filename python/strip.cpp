// tarvik.strip: the stripping correction or the unfolding of a measured spectrum.
#include "bindings.h"

#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <optional>
#include <string>
#include <utility>

namespace tarvikpy {

namespace fs = std::filesystem;

void bindStrip(py::module_& m)
{
    m.def(
        "strip",
        [](const SpectrumOrCountsArg& spectrum, double kv, std::optional<double> kevPerChannel, const std::string& method,
           std::optional<fs::path> res, std::optional<std::pair<std::string, std::string>> comments,
           std::optional<double> rebin) {
            // Holds the counts for the work below, also if another thread
            // replaces the spectrum's counts meanwhile.
            const Spectrum s = spectrumOrCounts(spectrum.object);
            tarvikcli::StripRequest request;
            request.kv = kv;
            request.kevPerChannel = kevPerChannel;
            request.method = tarvikcli::methodFromName(method);
            if (comments) std::tie(request.comment1, request.comment2) = *comments;
            request.rebinKevPerChannel = rebin;
            const auto tables = tarvikcli::sharedResponseTables(res ? *res : tarvikcli::responseFolder(dataFolder()));
            tarvikcli::SpectrumRecord r;
            {
                py::gil_scoped_release unlocked;
                r = tarvikcli::stripInMemory(s.span(), s.info, request, *tables);
            }
            return fromRecord(std::move(r));
        },
        py::arg("spectrum"), py::arg("kv"), py::arg("kev_per_channel") = py::none(), py::arg("method") = "standard",
        py::arg("res") = py::none(), py::arg("comments") = py::none(), py::arg("rebin_kev_per_channel") = py::none(),
        R"doc(Corrects a measured spectrum for the CdTe detector's response.

spectrum         a measured Spectrum, or its 1024 counts (list or array).
kv               the tube voltage in kV.
kev_per_channel  the channel width in keV (a .csv carries none); replaces the
                 spectrum's own when given.
method           "standard": the stripping correction of tvstrip (full-energy
                 efficiency, Cd/Te K escape peaks, low-energy continuum,
                 channel by channel from the top); "unfold": the maximum-
                 likelihood unfolding with the detector's full response
                 (RES/unfold.rsp, RES/detector.txt).
res              the folder of the response data; by default RES of the
                 current folder, else the shipped one (tarvik.data_folder()).
comments         the two comment lines of the result; by default
                 "-- No comment --".
rebin_kev_per_channel
                 for a spectrum of an analyser's format: share its counts
                 onto 1024 channels of this width by its calibration first
                 (`tarvik strip --rebin-kev-per-channel`).

Returns the stripped Spectrum: exactly what tvstrip writes (and the stripping
dialog or `tarvik strip` with the same entries) for a .csv holding these
counts and header lines; for a spectrum of an analyser's format, what
`tarvik strip` writes for its file (through its .csv of `tarvik import`).
As there, the voltage is taken in whole kV and the width to 0.001 keV,
counts are rounded to whole numbers, channels up to 10 keV and above the
tube voltage come out as 0.

Raises tarvik.InputError for counts that are not 1024 numbers of at least 0,
tarvik.Error with the programs' messages for everything they refuse (a
voltage or width out of range, counts above 999999, missing response data).
The work runs without holding the interpreter lock.
)doc");
}

} // namespace tarvikpy
