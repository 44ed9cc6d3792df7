#include "formats_support.h"

#include "frontend_support.h"
#include "fuzz_support.h"

#include "formats/measuredcsv_writer.h"
#include "formats/rebin.h"

#include "displaylogic.h"
#include "otherformat.h"
#include "spectrumfiles.h"

#include <cmath>
#include <string>
#include <string_view>

namespace fuzzsupport {

namespace {

using formats::Spectrum;

void checkRecord(const Spectrum& s, formats::Format format)
{
    if (s.format != format) finding("a spectrum of another format came back");
    if (s.file != "fuzz") finding("the spectrum does not name its file");
    if (s.counts.empty() || s.counts.size() > formats::kMaxChannels)
        finding("an accepted spectrum of " + std::to_string(s.counts.size()) + " channels");
    for (std::uint64_t c : s.counts)
        if (c > (std::uint64_t{1} << 53)) finding("a count above 2^53");
    auto positive = [](const std::optional<double>& t) { return !t || (std::isfinite(*t) && *t > 0); };
    if (!positive(s.liveTimeS) || !positive(s.realTimeS)) finding("a live or real time that is not above 0");
    if (s.liveTimeS && s.realTimeS && *s.liveTimeS > *s.realTimeS + 1e-3)
        finding("a live time above the real time was accepted");
    if (s.startTime && s.startTime->size() != 19) finding("a start time not in ISO 8601 form: " + *s.startTime);
    if (s.calibration) {
        const formats::Calibration& c = *s.calibration;
        if (!(c.gainKeV > 0) || !std::isfinite(c.gainKeV) || !std::isfinite(c.offsetKeV) ||
            !std::isfinite(c.linearityKeV))
            finding("an accepted calibration without a finite rising line");
        double previous = c.edgeKeV(0);
        for (std::size_t k = 1; k <= s.counts.size(); ++k) {
            const double e = c.edgeKeV(static_cast<double>(k));
            if (!(e > previous)) finding("accepted calibration energies stop rising at channel " + std::to_string(k));
            previous = e;
        }
    }
    if (s.processor) {
        const auto& p = *s.processor;
        if (p.deadTimePercent && !(*p.deadTimePercent >= 0 && *p.deadTimePercent <= 100))
            finding("a dead time outside 0..100 %");
        if (p.accumulationTimeS && !(*p.accumulationTimeS >= 0)) finding("a negative accumulation time");
    }
}

// The import's file: 31 lines of at most 60 bytes without commas, then the
// records; read back here and by the front end with the same counts.
void checkImport(const Spectrum& s)
{
    formats::MeasuredCsvOptions o;
    o.sourceName = "fuzz.src";
    if (s.counts.size() != formats::kDialogChannels && s.calibration)
        o.rebinKevPerChannel = s.calibration->gainKeV;
    formats::MeasuredCsv csv;
    try {
        csv = formats::toMeasuredCsv(s, o);
    } catch (const formats::ImportError& e) {
        requireMessage(e);
        return;
    }
    std::size_t pos = 0;
    for (int line = 1; line <= formats::kDialogHeaderLines; ++line) {
        const std::size_t end = csv.bytes.find("\r\n", pos);
        if (end == std::string::npos) finding("the imported file ends inside its header");
        const std::string_view text = std::string_view(csv.bytes).substr(pos, end - pos);
        if (text.size() > formats::kDialogLineBytes) finding("an imported header line of more than 60 bytes");
        if (text.find(',') != std::string_view::npos || text.find('\r') != std::string_view::npos ||
            text.find('\n') != std::string_view::npos)
            finding("an imported header line with a comma or a line end: " + std::string(text));
        pos = end + 2;
    }
    std::vector<std::uint64_t> expected = s.counts;
    if (csv.rebinned) expected = formats::wholeCounts(formats::shareOnto(s, *o.rebinKevPerChannel, 1024).counts);
    try {
        formats::ReadOptions ro;
        ro.format = formats::Format::MeasuredCsv;
        const std::vector<Spectrum> back = formats::parseSpectra(csv.bytes, "import", ro);
        if (back.size() != 1 || back.front().counts != expected) finding("the imported file reads back other counts");
    } catch (const formats::FormatError& e) {
        finding(std::string("the imported file is refused by its own reader: ") + e.what());
    }
    const auto file = writeInput("import.csv", reinterpret_cast<const std::uint8_t*>(csv.bytes.data()), csv.bytes.size());
    try {
        const tarvik::MeasuredSpectrum m = tarvik::readMeasuredFile(file, 32);
        for (std::size_t k = 0; k < expected.size(); ++k)
            if (m.counts[k + 1] != static_cast<double>(expected[k]))
                finding("the front end reads channel " + std::to_string(k + 1) + " of the imported file differently");
    } catch (const tarvik::SpectrumFileError& e) {
        finding(std::string("the front end cannot read the imported file: ") + e.what());
    }
}

// "他の形式を開く…": with nothing loaded, and onto spectra of 0.1 keV.
void checkDisplay(const Spectrum& s)
{
    for (double inUse : {0.0, 0.1}) {
        tarvik::AppState state;
        tarvik::DisplayLogic logic(state);
        NullSurface picture;
        logic.open(picture);
        tarvik::OtherFormatPlacement p;
        try {
            p = tarvik::placeOtherFormat(s, inUse, 0.2);
        } catch (const std::invalid_argument& e) {
            finding(std::string("no place on the display: ") + e.what());
        }
        if (p.counts.size() > 1024) finding("more than 1024 channels for the display");
        for (double c : p.counts)
            if (!std::isfinite(c) || c < 0) finding("a count for the display that is negative or not finite");
        if (inUse > 0) {
            // Put a spectrum of 0.1 keV there first, then this one.
            tarvik::OtherFormatPlacement first;
            first.kevPerChannel = 0.1;
            first.counts.assign(1024, 1.0);
            logic.addOtherFormat("first", first, picture);
        }
        logic.addOtherFormat("fuzz", p, picture);
    }
}

} // namespace

void exerciseSpectrumFile(const std::uint8_t* data, std::size_t size, formats::Format format)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    (void)formats::recogniseFormat(bytes);
    std::vector<Spectrum> spectra;
    FUZZ_REFUSALS_BEGIN
        formats::ReadOptions o;
        o.format = format;
        spectra = formats::parseSpectra(bytes, "fuzz", o);
    FUZZ_REFUSAL(formats::FormatError)
        if (e.file() != "fuzz") finding("a refusal that does not name the file");
        return;
    FUZZ_REFUSALS_END
    if (spectra.empty()) finding("a file accepted without a spectrum");
    for (const Spectrum& s : spectra) {
        checkRecord(s, format);
        FUZZ_REFUSALS_BEGIN
            checkImport(s);
            checkDisplay(s);
        FUZZ_REFUSALS_END
    }
}

} // namespace fuzzsupport
