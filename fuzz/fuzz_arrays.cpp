// The array entry points of the Python module (tarvik/inmemory.h): counts
// and numbers as a script passes them, through the stripping (both
// methods), the conversion (both methods), the beam-quality figures and the
// result layouts.  Every value a double can hold reaches them: NaN,
// infinities, negatives, huge and tiny numbers, any number of channels.
//
// Input: byte 0 chooses the entry point (bits 0-1: strip, convert, quality,
// write), the method (bits 2 and 5 both set: unfold, a quarter of the
// inputs, as an unfolding takes some hundred times a stripping under the
// sanitizers), the scatterer (bit 3: carbon) and how the counts are given
// (bit 4: 16-bit whole numbers, else raw doubles); for the beam quality,
// bits 5-7 are the number of resamples.
// Then four doubles: tube voltage, keV per channel, angle, length in mm.
// The rest: the counts.
#include "fuzz_support.h"
#include "shipped_tables.h"

#include "conv/conversion.h"
#include "fixedio/fixedio.h"
#include "inmemory.h"
#include "quality/beamquality.h"
#include "strip/stripping.h"
#include "strip/unfold.h"
#include "spectrumfiles.h"

#include <cmath>
#include <cstring>
#include <memory>

namespace fs = std::filesystem;

namespace {

std::shared_ptr<tarvikcli::ResponseTables> g_tables;

double takeDouble(const std::uint8_t*& p, const std::uint8_t* end)
{
    double v = 0;
    if (end - p >= 8) {
        std::memcpy(&v, p, 8);
        p += 8;
    }
    return v;
}

// A result must be what its layout holds: 1024 whole counts from 0 up, and
// its bytes read back as the same counts.
void requireResult(const tarvikcli::SpectrumRecord& r, tarvikcli::SpectrumKind kind)
{
    if (r.counts.size() != 1024) fuzzsupport::finding("a result without 1024 channels");
    for (double c : r.counts)
        if (!(c >= 0 && c == std::floor(c))) fuzzsupport::finding("a result count that is not a whole number");
    if (r.info.kind != kind || !r.info.kevPerChannel) fuzzsupport::finding("a result without its kind or width");
    const std::string bytes = tarvikcli::resultBytes(r.counts, r.info, kind);
    fuzzsupport::requireResultLayout(bytes, 22 + 1024, "result");
    const tarvikcli::SpectrumRecord again = tarvikcli::resultRecord("again", bytes, kind);
    if (again.counts != r.counts) fuzzsupport::finding("a result read back with other counts");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    g_tables = tarvikcli::sharedResponseTables(fuzzsupport::dataDir() / "RES");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1) return 0;
    const std::uint8_t* p = data + 1;
    const std::uint8_t* end = data + size;
    const unsigned choice = data[0];
    const double kv = takeDouble(p, end);
    const double width = takeDouble(p, end);
    const double angle = takeDouble(p, end);
    const double lengthMm = takeDouble(p, end);
    std::vector<double> counts;
    if (choice & 0x10) {
        for (; end - p >= 2; p += 2) counts.push_back(static_cast<double>(p[0] | (p[1] << 8)));
    } else {
        for (; end - p >= 8; p += 8) {
            double v;
            std::memcpy(&v, p, 8);
            counts.push_back(v);
        }
    }
    const tarvikcli::Method method =
        (choice & 0x24) == 0x24 ? tarvikcli::Method::Unfold : tarvikcli::Method::Standard;

    FUZZ_REFUSALS_BEGIN
        tarvikcli::SpectrumInfo info;
        switch (choice & 0x03) {
        case 0: {
            tarvikcli::StripRequest request;
            request.kv = kv;
            request.kevPerChannel = width;
            request.method = method;
            requireResult(tarvikcli::stripInMemory(counts, info, request, *g_tables),
                          tarvikcli::SpectrumKind::Stripped);
            break;
        }
        case 1: {
            info.kind = tarvikcli::SpectrumKind::Stripped;
            info.kevPerChannel = width;
            info.tubeVoltage = kv;
            tarvikcli::ConvertRequest request;
            request.angle = angle;
            request.lengthMm = lengthMm;
            request.method = method;
            const auto scatterer = tarvikcli::sharedScatterer((choice & 0x08) ? "Carbon" : "PMMA",
                                                              fuzzsupport::dataDir());
            requireResult(tarvikcli::convertInMemory(counts, info, request, *scatterer),
                          tarvikcli::SpectrumKind::Converted);
            break;
        }
        case 2: {
            quality::Options options;
            options.resamples = static_cast<int>(choice >> 5);  // 0 to 7
            options.lowerLimitKeV = std::isfinite(lengthMm) ? std::fabs(lengthMm) : lengthMm;
            const quality::BeamQuality q = tarvikcli::qualityOf(counts, info, width, options);
            if (!(q.total.value == q.total.value)) fuzzsupport::finding("figures of a spectrum without a total");
            break;
        }
        default: {
            info.kind = (choice & 0x08) ? tarvikcli::SpectrumKind::Converted : tarvikcli::SpectrumKind::Stripped;
            info.kevPerChannel = width;
            info.tubeVoltage = kv;
            const std::string bytes = tarvikcli::resultBytes(counts, info, info.kind);
            const tarvikcli::SpectrumRecord r = tarvikcli::resultRecord("fuzz", bytes, info.kind);
            if (r.counts != counts) fuzzsupport::finding("written counts read back differently");
            break;
        }
        }
    FUZZ_REFUSAL(tarvikcli::InputError)
    FUZZ_REFUSAL(tarvikcli::FileFailure)
    FUZZ_REFUSAL(fixedio::Error)
    FUZZ_REFUSAL(tvstrip::StripInputError)
    FUZZ_REFUSAL(tvstrip::StripArithmeticError)
    FUZZ_REFUSAL(tvstrip::UnfoldError)
    FUZZ_REFUSAL(tvconv::ConversionError)
    FUZZ_REFUSAL(quality::QualityError)
    FUZZ_REFUSALS_END
    return 0;
}
