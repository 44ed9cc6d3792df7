// tarvik.convert: the scattered spectrum behind a scatterer to the primary spectrum.
#include "bindings.h"

#include <pybind11/stl.h>

#include <optional>
#include <string>
#include <utility>

namespace tarvikpy {

void bindConv(py::module_& m)
{
    m.def(
        "convert",
        [](const Spectrum& spectrum, double angle, double lengthMm, const PathOrNameArg& scatterer,
           const std::string& method, std::optional<std::pair<std::string, std::string>> comments) {
            const Spectrum s = spectrum;  // holds the counts for the work below
            tarvikcli::ConvertRequest request;
            request.angle = angle;
            request.lengthMm = lengthMm;
            request.method = tarvikcli::methodFromName(method);
            if (comments) {
                request.comment1 = comments->first;
                request.comment2 = comments->second;
            }
            // A name (Carbon, PMMA) or a file: os.fspath gives the text of both.
            const std::string name = py::module_::import("os").attr("fspath")(scatterer.object).cast<std::string>();
            const auto data = tarvikcli::sharedScatterer(name, dataFolder());
            tarvikcli::SpectrumRecord r;
            {
                py::gil_scoped_release unlocked;
                r = tarvikcli::convertInMemory(s.span(), s.info, request, *data);
            }
            return fromRecord(std::move(r));
        },
        py::arg("spectrum"), py::arg("angle"), py::arg("length_mm"), py::arg("scatterer") = "PMMA",
        py::arg("method") = "standard", py::arg("comments") = py::none(), R"doc(Converts a stripped spectrum of radiation scattered at a known angle into
the primary spectrum that struck the scatterer.

spectrum    a stripped Spectrum (from tarvik.strip or a .mca1).
angle       the scattering angle in degrees.
length_mm   the self-attenuation length in the scatterer, mm.
scatterer   "Carbon" or "PMMA" (Carbon.dat / PMMA.dat of the current folder,
            else the shipped ones), or the path of a scatterer file.
method      "standard": tvconv's conversion; "unfold": the maximum-
            likelihood unfolding of the scattering model (needs the Compton
            profile beside the scatterer file, e.g. PMMA_profile.dat).
comments    the two comment lines of the result; by default the spectrum's own.

Returns the converted Spectrum: exactly what tvconv writes (and the
conversion dialog or `tarvik convert` with the same entries) for the .mca1
that tarvik.write makes of the spectrum.  As there, the angle is taken in
whole degrees and the length to 0.01 cm.

Raises tarvik.InputError for a spectrum that is not a stripped one of 1024
whole counts, tarvik.Error with the programs' messages for everything they
refuse.  The work runs without holding the interpreter lock.
)doc");
}

} // namespace tarvikpy
