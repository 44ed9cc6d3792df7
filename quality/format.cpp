// One beam-quality record as text, JSON or CSV.
#include "quality/beamquality.h"
#include "quality/json.h"

#include <cmath>
#include <cstdio>

namespace quality {

namespace {

const Figure kFields[] = {
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

std::span<const Figure> figures() { return kFields; }

std::string formatText(const BeamQuality& q, const std::string& name) { return formatText(q, name, {}); }

std::string formatText(const BeamQuality& q, const std::string& name, const std::string& moreLines)
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
    out += moreLines;
    if (q.resamplesUsed > 0)
        out += "  (uncertainties from " + std::to_string(q.resamplesUsed) + " Poisson resamples)\n";
    return out;
}

nlohmann::ordered_json jsonRecord(const BeamQuality& q, const std::string& file)
{
    nlohmann::ordered_json j;
    j["file"] = file;
    j["kev_per_channel"] = q.kevPerChannel;
    for (const auto& f : kFields) {
        j[f.key] = (q.*f.member).value;
        j[std::string(f.key) + "_u"] = (q.*f.member).uncertainty;
    }
    return j;
}

std::string toJson(const BeamQuality& q, const std::string& file) { return jsonLine(jsonRecord(q, file)); }

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
