#include "strip/detector_profile.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>

#include "fixedio/files.h"

namespace tvstrip {

namespace {

constexpr std::size_t kMaxProfileBytes = 64 * 1024;

std::string_view trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

enum class Rule { Positive, NonNegative };

struct NumberKey {
    const char* key;
    double DetectorProfile::*field;
    Rule rule;
    double upper;  // largest sensible value
    const char* what;
};

// Upper limits keep a typing slip (mm for um, V for kV) from becoming a
// simulation of hours: they lie far beyond any spectrometry detector.
constexpr NumberKey kNumberKeys[] = {
    {"crystal_side_mm", &DetectorProfile::crystalSideMm, Rule::Positive, 100.0, "the crystal side"},
    {"crystal_thickness_mm", &DetectorProfile::crystalThicknessMm, Rule::Positive, 50.0, "the crystal thickness"},
    {"density_g_per_cm3", &DetectorProfile::densityGPerCm3, Rule::Positive, 25.0, "the crystal density"},
    {"window_thickness_um", &DetectorProfile::windowThicknessUm, Rule::NonNegative, 10000.0,
     "the window thickness"},
    {"mutau_electrons_cm2_per_V", &DetectorProfile::mutauElectrons, Rule::Positive, 1.0,
     "the mu-tau product of the electrons"},
    {"mutau_holes_cm2_per_V", &DetectorProfile::mutauHoles, Rule::Positive, 1.0, "the mu-tau product of the holes"},
    {"bias_V", &DetectorProfile::biasVolts, Rule::Positive, 100000.0, "the bias voltage"},
    {"fwhm2_constant_keV2", &DetectorProfile::fwhm2Constant, Rule::Positive, 100.0,
     "the constant term of the resolution (FWHM squared at 0 keV)"},
    {"fwhm2_linear_keV", &DetectorProfile::fwhm2Linear, Rule::NonNegative, 10.0,
     "the linear term of the resolution"},
    {"fwhm_proportional", &DetectorProfile::fwhmProportional, Rule::NonNegative, 1.0,
     "the proportional term of the resolution"},
};

// Keys a profile may leave out.
struct OptionalKey {
    const char* key;
    std::optional<double> DetectorProfile::*field;
    double lower, upper;  // sensible range; lower is excluded when `positive`
    bool positive;
    const char* what;
};

constexpr OptionalKey kOptionalKeys[] = {
    {"energy_gain_kev_per_channel", &DetectorProfile::energyGainKevPerChannel, 0.0, 10.0, true,
     "the energy gain of the analyser"},
    {"energy_offset_keV", &DetectorProfile::energyOffsetKeV, -100.0, 100.0, false,
     "the energy offset of the analyser"},
    {"pulse_pair_resolving_time_us", &DetectorProfile::pulsePairResolvingTimeUs, 0.0, 1000.0, true,
     "the pulse-pair resolving time"},
};

double parseNumber(const std::string& v, const std::string& where, const char* what, const char* key)
{
    double x = 0;
    const auto r = std::from_chars(v.data(), v.data() + v.size(), x);
    if (v.empty() || r.ec != std::errc{} || r.ptr != v.data() + v.size() || !std::isfinite(x))
        throw ProfileError(where + what + " (" + key + ") must be a number, found \"" + v + "\"");
    return x;
}

std::string shortest(double v)
{
    char buf[64];
    // Shortest text that reads back as the same double.
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

std::string inQuotes(std::string_view s)
{
    std::string q;
    q.reserve(s.size() + 2);
    q += '"';
    q.append(s);
    q += '"';
    return q;
}

} // namespace

double DetectorProfile::fwhmKeV(double e) const
{
    const double c = fwhmProportional * e;
    return std::sqrt(fwhm2Constant + fwhm2Linear * e + c * c);
}

std::uint64_t DetectorProfile::transportFingerprint() const
{
    std::uint64_t h = 0xcbf29ce484222325ULL;  // FNV-1a, 64 bit
    auto add = [&](std::string_view s) {
        for (unsigned char ch : s) {
            h ^= ch;
            h *= 0x100000001b3ULL;
        }
        h ^= 0xff;
        h *= 0x100000001b3ULL;
    };
    auto addNumber = [&](double v) {
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.17g", v);
        add(buf);
    };
    add(material);
    addNumber(crystalSideMm);
    addNumber(crystalThicknessMm);
    addNumber(densityGPerCm3);
    add(windowMaterial);
    addNumber(windowThicknessUm);
    addNumber(mutauElectrons);
    addNumber(mutauHoles);
    addNumber(biasVolts);
    return h;
}

DetectorProfile parseDetectorProfile(std::string_view text, const std::string& fileName)
{
    std::map<std::string, std::pair<std::string, int>> values;  // key -> value, line
    int lineNo = 0;
    while (!text.empty()) {
        const auto nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
        ++lineNo;
        line = trim(line);
        if (line.empty() || line.front() == '#')
            continue;
        const auto eq = line.find('=');
        const auto where = fileName + ", line " + std::to_string(lineNo) + ": ";
        if (eq == std::string_view::npos)
            throw ProfileError(where + "expected \"key = value\", found " + inQuotes(line));
        const std::string key(trim(line.substr(0, eq)));
        const std::string value(trim(line.substr(eq + 1)));
        if (!values.emplace(key, std::make_pair(value, lineNo)).second)
            throw ProfileError(where + "the key " + key + " appears a second time");
    }

    DetectorProfile p;
    auto take = [&](const char* key) -> std::pair<std::string, int> {
        const auto it = values.find(key);
        if (it == values.end())
            throw ProfileError(fileName + ": the key " + key + " is missing");
        auto v = it->second;
        values.erase(it);
        return v;
    };
    {
        const auto [v, line] = take("material");
        if (v != "CdTe")
            throw ProfileError(fileName + ", line " + std::to_string(line) + ": material " + inQuotes(v) +
                               " is not modelled (the simulation knows CdTe)");
        p.material = v;
    }
    {
        const auto [v, line] = take("window_material");
        if (v != "Be")
            throw ProfileError(fileName + ", line " + std::to_string(line) + ": window material " + inQuotes(v) +
                               " is not modelled (the simulation knows Be)");
        p.windowMaterial = v;
    }
    for (const NumberKey& k : kNumberKeys) {
        const auto [v, line] = take(k.key);
        const auto where = fileName + ", line " + std::to_string(line) + ": ";
        const double x = parseNumber(v, where, k.what, k.key);
        if (k.rule == Rule::Positive && !(x > 0))
            throw ProfileError(where + k.what + " (" + k.key + ") must be above 0, found " + v);
        if (k.rule == Rule::NonNegative && x < 0)
            throw ProfileError(where + k.what + " (" + k.key + ") must not be negative, found " + v);
        if (x > k.upper) {
            char buf[40];
            std::snprintf(buf, sizeof buf, "%g", k.upper);
            throw ProfileError(where + k.what + " (" + k.key + ") = " + v + " is beyond " + buf +
                               ", not a detector this system can model");
        }
        p.*(k.field) = x;
    }
    for (const OptionalKey& k : kOptionalKeys) {
        const auto it = values.find(k.key);
        if (it == values.end())
            continue;
        const auto [v, line] = it->second;
        values.erase(it);
        const auto where = fileName + ", line " + std::to_string(line) + ": ";
        const double x = parseNumber(v, where, k.what, k.key);
        if (k.positive && !(x > k.lower))
            throw ProfileError(where + k.what + " (" + k.key + ") must be above 0, found " + v);
        if (x < k.lower || x > k.upper)
            throw ProfileError(where + k.what + " (" + k.key + ") = " + v + " lies outside " + shortest(k.lower) +
                               " to " + shortest(k.upper) + ", not a detector this system can model");
        p.*(k.field) = x;
    }
    if (p.energyGainKevPerChannel.has_value() != p.energyOffsetKeV.has_value())
        throw ProfileError(fileName + ": the energy scale needs both energy_gain_kev_per_channel and "
                                      "energy_offset_keV, the profile has only one of them");
    if (!values.empty()) {
        const auto& [key, v] = *values.begin();
        throw ProfileError(fileName + ", line " + std::to_string(v.second) + ": unknown key " + key);
    }
    return p;
}

DetectorProfile loadDetectorProfile(const std::string& path)
{
    std::string text;
    bool complete = false;
    switch (fixedio::readFileHead(path, kMaxProfileBytes, text, complete)) {
    case fixedio::ReadStatus::Ok:
        break;
    case fixedio::ReadStatus::Missing:
        throw ProfileError(path + ": the detector profile does not exist");
    case fixedio::ReadStatus::NotAFile:
    case fixedio::ReadStatus::Special:
        throw ProfileError(path + ": not a file; a detector profile is a text file");
    default:
        throw ProfileError(path + ": cannot read the detector profile");
    }
    if (!complete)
        throw ProfileError(path + ": larger than any detector profile (more than 64 KB)");
    return parseDetectorProfile(text, path);
}

std::string formatDetectorProfile(const DetectorProfile& p, std::string_view comment)
{
    std::string out = "# Detector profile (key = value); see strip/detector_profile.h\n";
    if (!comment.empty()) {
        std::string_view c = comment;
        while (!c.empty()) {
            const auto nl = c.find('\n');
            out += "# ";
            out += c.substr(0, nl);
            out += '\n';
            c = nl == std::string_view::npos ? std::string_view{} : c.substr(nl + 1);
        }
    }
    out += "material = " + p.material + "\n";
    out += "window_material = " + p.windowMaterial + "\n";
    for (const NumberKey& k : kNumberKeys)
        out += std::string(k.key) + " = " + shortest(p.*(k.field)) + "\n";
    for (const OptionalKey& k : kOptionalKeys)
        if (const auto& v = p.*(k.field))
            out += std::string(k.key) + " = " + shortest(*v) + "\n";
    return out;
}

} // namespace tvstrip
