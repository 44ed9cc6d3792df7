// Files of each format written here from the formats' public descriptions,
// independently of the readers: text by snprintf, the binary header and
// trailer byte by byte.  Tests read them back and compare with what went in.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace formats::testing {

// What a test spectrum is: counts, a linear calibration in the format's own
// terms (keV of the channel number x), times and a start.
struct Truth {
    std::vector<std::uint64_t> counts;
    double offsetKeV = 0.05;
    double gainKeV = 0.1;
    double quadratic = 0;
    double liveS = 9.5;
    double realS = 10.0;
};

// Deterministic counts with a continuum, a line and empty channels at both ends.
inline std::vector<std::uint64_t> someCounts(std::size_t n, std::uint64_t seed = 1)
{
    std::vector<std::uint64_t> c(n, 0);
    std::uint64_t x = seed * 6364136223846793005ULL + 1442695040888963407ULL;
    for (std::size_t k = n / 20; k < n - n / 10; ++k) {
        x = x * 6364136223846793005ULL + 1442695040888963407ULL;
        const double shape = 1000.0 * static_cast<double>(k) / static_cast<double>(n) *
                             (1.0 - static_cast<double>(k) / static_cast<double>(n));
        c[k] = static_cast<std::uint64_t>(shape) + ((x >> 33) % 17);
        if (k == n / 2) c[k] += 5000;
    }
    return c;
}

inline std::string fmt(const char* pattern, double v)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, pattern, v);
    return buf;
}

// ---- "<<PMCA SPECTRUM>>" .mca ----
// Calibration points at channels 100 and 900 in eV (the label says so).
inline std::string pmcaFile(const Truth& t, bool withSettings = true, const char* eol = "\r\n")
{
    std::string s = std::string("<<PMCA SPECTRUM>>") + eol;
    s += std::string("TAG - test spectrum") + eol;
    s += std::string("DESCRIPTION - written by the test") + eol;
    s += std::string("GAIN - 2") + eol;
    s += std::string("THRESHOLD - 0") + eol;
    s += std::string("LIVE_MODE - 0") + eol;
    s += std::string("PRESET_TIME - 10") + eol;
    s += "LIVE_TIME - " + fmt("%.6f", t.liveS) + eol;
    s += "REAL_TIME - " + fmt("%.6f", t.realS) + eol;
    s += std::string("START_TIME - 05/01/2024 10:20:30") + eol;
    s += std::string("SERIAL_NUMBER - 4711") + eol;
    s += std::string("<<CALIBRATION>>") + eol;
    s += std::string("LABEL - Energy (eV)") + eol;
    for (double ch : {100.0, 900.0})
        s += fmt("%.0f ", ch) + fmt("%.6f", 1000.0 * (t.offsetKeV + t.gainKeV * ch)) + eol;
    s += std::string("<<ROI>>") + eol + "10 20" + eol;
    s += std::string("<<DATA>>") + eol;
    for (std::uint64_t c : t.counts) s += std::to_string(c) + eol;
    s += std::string("<<END>>") + eol;
    if (withSettings) {
        s += std::string("<<DP5 CONFIGURATION>>") + eol;
        s += std::string("RESC=Y;") + eol;
        s += std::string("TPEA=6.400;    Peaking Time") + eol;
        s += std::string("TFLA=0.200;    Flat Top Width") + eol;
        s += std::string("TPFA=100;      Fast Channel Peaking Time") + eol;
        s += std::string("PURE=ON;       Pile-up Reject") + eol;
        s += std::string("RTDE=OFF;      Risetime Discrimination") + eol;
        s += std::string("THSL=1.953;    Slow Threshold") + eol;
        s += std::string("THFA=12.5;     Fast Threshold") + eol;
        s += "MCAC=" + std::to_string(t.counts.size()) + ";      MCA/MCS Channels" + eol;
        s += std::string("<<DP5 CONFIGURATION END>>") + eol;
        s += std::string("<<DPP STATUS>>") + eol;
        s += std::string("Device Type: DP5") + eol;
        s += std::string("Serial Number: 4711") + eol;
        s += std::string("Fast Count: 123456") + eol;
        s += std::string("Slow Count: 120001") + eol;
        s += std::string("Accumulation Time: 9.985") + eol;
        s += std::string("Dead Time: 2.8%") + eol;
        s += std::string("<<DPP STATUS END>>") + eol;
    }
    return s;
}

// ---- .Spe ----
inline std::string speFile(const Truth& t, int firstChannel = 0, bool mcaCal = false)
{
    std::string s = "$SPEC_ID:\r\nspe test\r\n$SPEC_REM:\r\nremark one\r\n";
    s += "$DATE_MEA:\r\n05/01/2024 10:20:30\r\n";
    s += "$MEAS_TIM:\r\n" + fmt("%.3f", t.liveS) + " " + fmt("%.3f", t.realS) + "\r\n";
    s += "$DATA:\r\n" + std::to_string(firstChannel) + " " +
         std::to_string(firstChannel + static_cast<int>(t.counts.size()) - 1) + "\r\n";
    // Eight counts a line, right-aligned, as some software writes them.
    for (std::size_t k = 0; k < t.counts.size(); ++k) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%8llu", static_cast<unsigned long long>(t.counts[k]));
        s += buf;
        if (k % 8 == 7 || k + 1 == t.counts.size()) s += "\r\n";
    }
    s += "$ROI:\r\n0\r\n";
    if (mcaCal) {
        s += "$MCA_CAL:\r\n3\r\n" + fmt("%.9E ", t.offsetKeV) + fmt("%.9E ", t.gainKeV) + fmt("%.9E", t.quadratic) +
             " keV\r\n";
    } else {
        s += "$ENER_FIT:\r\n" + fmt("%.9f ", t.offsetKeV) + fmt("%.9f", t.gainKeV) + "\r\n";
    }
    return s;
}

// ---- .Chn: 32-byte header, 32-bit counts, 512-byte trailer ----
inline void put16(std::string& b, int v)
{
    const auto u = static_cast<std::uint16_t>(v);
    b += static_cast<char>(u & 0xFF);
    b += static_cast<char>(u >> 8);
}
inline void put32(std::string& b, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) b += static_cast<char>((v >> (8 * i)) & 0xFF);
}
inline void putFloat(std::string& b, float f)
{
    std::uint32_t u = 0;
    std::memcpy(&u, &f, 4);
    put32(b, u);
}

inline std::string chnFile(const Truth& t, bool trailer = true, int firstChannel = 0)
{
    std::string b;
    put16(b, -1);   // mark
    put16(b, 1);    // MCA number
    put16(b, 2);    // segment
    b += "30";      // seconds
    put32(b, static_cast<std::uint32_t>(t.realS / 0.02 + 0.5));
    put32(b, static_cast<std::uint32_t>(t.liveS / 0.02 + 0.5));
    b += "01MAY241";  // date, '1': from 2000 on
    b += "1020";      // HHMM
    put16(b, firstChannel);
    put16(b, static_cast<int>(t.counts.size()));
    for (std::uint64_t c : t.counts) put32(b, static_cast<std::uint32_t>(c));
    if (trailer) {
        const std::size_t start = b.size();
        put16(b, t.quadratic != 0 ? -102 : -101);
        put16(b, 0);
        putFloat(b, static_cast<float>(t.offsetKeV));
        putFloat(b, static_cast<float>(t.gainKeV));
        putFloat(b, static_cast<float>(t.quadratic));
        b.resize(start + 256, '\0');
        const std::string det = "CdTe 3x3x1 mm", sample = "tube 80 kV";
        b += static_cast<char>(det.size());
        b += det;
        b.resize(start + 320, '\0');
        b += static_cast<char>(sample.size());
        b += sample;
        b.resize(start + 512, '\0');
    }
    return b;
}

// ---- N42 (2012): one RadMeasurement per spectrum, one shared calibration ----
inline std::string n42File(const std::vector<Truth>& spectra, bool countedZeroes = false)
{
    const Truth& t0 = spectra.front();
    std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                    "<RadInstrumentData xmlns=\"http://physics.nist.gov/N42/2011/N42\" n42DocUUID=\"x\">\n"
                    "  <RadInstrumentInformation id=\"I1\">\n"
                    "    <RadInstrumentManufacturerName>Test maker</RadInstrumentManufacturerName>\n"
                    "    <RadInstrumentModelName>Model 1</RadInstrumentModelName>\n"
                    "  </RadInstrumentInformation>\n"
                    "  <EnergyCalibration id=\"EC1\">\n"
                    "    <CoefficientValues>" +
                    fmt("%.9g ", t0.offsetKeV) + fmt("%.9g ", t0.gainKeV) + fmt("%.9g", t0.quadratic) +
                    "</CoefficientValues>\n"
                    "  </EnergyCalibration>\n";
    for (std::size_t i = 0; i < spectra.size(); ++i) {
        const Truth& t = spectra[i];
        std::string id = "M";
        id += std::to_string(i + 1);
        s += "  <RadMeasurement id=\"" + id + "\">\n"
             "    <MeasurementClassCode>Foreground</MeasurementClassCode>\n"
             "    <StartDateTime>2024-05-01T10:20:30+09:00</StartDateTime>\n"
             "    <RealTimeDuration>PT" + fmt("%.3f", t.realS) + "S</RealTimeDuration>\n"
             "    <Spectrum id=\"" + id + "S\" energyCalibrationReference=\"EC1\">\n"
             "      <LiveTimeDuration>PT" + fmt("%.3f", t.liveS) + "S</LiveTimeDuration>\n"
             "      <ChannelData compressionCode=\"" + (countedZeroes ? "CountedZeroes" : "None") + "\">";
        std::size_t k = 0;
        while (k < t.counts.size()) {
            if (countedZeroes && t.counts[k] == 0) {
                std::size_t run = 0;
                while (k < t.counts.size() && t.counts[k] == 0) ++k, ++run;
                s += "0 " + std::to_string(run) + " ";
            } else {
                s += std::to_string(t.counts[k++]) + " ";
            }
        }
        s += "</ChannelData>\n    </Spectrum>\n  </RadMeasurement>\n";
    }
    s += "</RadInstrumentData>\n";
    return s;
}

} // namespace formats::testing
