// One beam-quality record as text, JSON or CSV.
#include "quality/beamquality.h"

#include <cmath>
#include <cstdio>

namespace quality {

namespace {

struct Field {
    const char* key;    // JSON / CSV key of the value; the uncertainty adds "_u"
    const char* label;  // text label
    const char* unit;
    const char* textFormat;
    Value BeamQuality::*member;
};

const Field kFields[] = {
    {"total", "total photons", "", "%.0f", &BeamQuality::total},
    {"mean_energy_keV", "mean energy (fluence)", "keV", "%.3f", &BeamQuality::meanEnergyKeV},
    {"kerma_mean_energy_keV", "mean energy (air kerma)", "keV", "%.3f", &BeamQuality::kermaMeanEnergyKeV},
    {"hvl1_al_mm", "HVL1 Al", "mm", "%.4f", &BeamQuality::hvl1AlMm},
    {"hvl2_al_mm", "HVL2 Al", "mm", "%.4f", &BeamQuality::hvl2AlMm},
    {"hvl1_cu_mm", "HVL1 Cu", "mm", "%.5f", &BeamQuality::hvl1CuMm},
    {"hvl2_cu_mm", "HVL2 Cu", "mm", "%.5f", &BeamQuality::hvl2CuMm},
    {"homogeneity_al", "homogeneity Al (HVL1/HVL2)", "", "%.4f", &BeamQuality::homogeneityAl},
    {"homogeneity_cu", "homogeneity Cu (HVL1/HVL2)", "", "%.4f", &BeamQuality::homogeneityCu},
    {"effective_energy_keV", "effective energy (Al)", "keV", "%.3f", &BeamQuality::effectiveEnergyKeV},
    {"end_point_keV", "end point", "keV", "%.2f", &BeamQuality::endPointKeV},
};

std::string number(double v)
{
    if (!std::isfinite(v)) return "null";
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.10g", v);
    return buf;
}

std::string formatted(const char* fmt, double v)
{
    if (!std::isfinite(v)) return "n/a";
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, v);
    return buf;
}

// A JSON string.  Valid UTF-8 passes; a byte that is not (a name in another
// encoding) becomes the code point of the same number, so nothing is lost.
std::string jsonString(const std::string& s)
{
    std::string out = "\"";
    auto hex = [&](unsigned c) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\u%04x", c);
        out += buf;
    };
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c == '"' || c == '\\') { out += '\\'; out += static_cast<char>(c); ++i; continue; }
        if (c < 0x20) { hex(c); ++i; continue; }
        if (c < 0x80) { out += static_cast<char>(c); ++i; continue; }
        std::size_t len = (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
        bool ok = len > 0 && i + len <= s.size();
        for (std::size_t k = 1; ok && k < len; ++k) ok = (static_cast<unsigned char>(s[i + k]) >> 6) == 0x2;
        if (ok) { out.append(s, i, len); i += len; }
        else { hex(c); ++i; }
    }
    return out + "\"";
}

std::string csvField(const std::string& s)
{
    if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
    std::string out = "\"";
    for (char c : s) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::string csvNumber(double v)
{
    return std::isfinite(v) ? number(v) : std::string();
}

} // namespace

std::string formatText(const BeamQuality& q, const std::string& name)
{
    std::string out;
    if (!name.empty()) out += name + "\n";
    out += "  keV per channel: " + number(q.kevPerChannel) + "\n";
    for (const auto& f : kFields) {
        const Value& v = q.*f.member;
        std::string line = std::string("  ") + f.label + ": " + formatted(f.textFormat, v.value);
        if (std::isfinite(v.uncertainty)) line += " ± " + formatted(f.textFormat, v.uncertainty);
        if (*f.unit) line += std::string(" ") + f.unit;
        out += line + "\n";
    }
    if (q.resamplesUsed > 0)
        out += "  (uncertainties from " + std::to_string(q.resamplesUsed) + " Poisson resamples)\n";
    return out;
}

std::string toJson(const BeamQuality& q, const std::string& file)
{
    std::string out = "{\"file\":" + jsonString(file) + ",\"kev_per_channel\":" + number(q.kevPerChannel);
    for (const auto& f : kFields) {
        const Value& v = q.*f.member;
        out += ",\"" + std::string(f.key) + "\":" + number(v.value);
        out += ",\"" + std::string(f.key) + "_u\":" + number(v.uncertainty);
    }
    return out + "}";
}

std::string csvHeader()
{
    std::string out = "file,kev_per_channel";
    for (const auto& f : kFields) {
        out += ',';
        out += f.key;
        out += ',';
        out += f.key;
        out += "_u";
    }
    return out;
}

std::string toCsv(const BeamQuality& q, const std::string& file)
{
    std::string out = csvField(file);
    out += ',';
    out += csvNumber(q.kevPerChannel);
    for (const auto& f : kFields) {
        const Value& v = q.*f.member;
        out += ',';
        out += csvNumber(v.value);
        out += ',';
        out += csvNumber(v.uncertainty);
    }
    return out;
}

} // namespace quality
