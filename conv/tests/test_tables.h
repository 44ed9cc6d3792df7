// Synthetic scatterer data and spectra for the conversion tests: smooth
// tables that cover every lookup of a run with W up to 0.2 keV per channel
// at any angle, and the same tables written in the file layout.
#pragma once

#include "conv/conversion.h"
#include "conv/scatterer.h"
#include "fixedio/fixedio.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace tvconv::testing {

// Energies 1 keV to 5 MeV, x from 0.005 to 500 per Å, both log-spaced;
// coefficients falling and S rising with saturation, like a light element.
inline ScattererData syntheticScatterer(float density = 1.7f)
{
    ScattererData d;
    d.file = "Synthetic.dat";
    d.density = density;
    const int n = 30;
    for (int k = 0; k < n; ++k) {
        const double e = 1.0 * std::pow(5000.0, k / double(n - 1));  // keV
        CoefficientRow r{};
        r.energy = static_cast<float>(e);
        r.c1 = static_cast<float>(0.5 * std::pow(e, -0.9));
        r.c2 = static_cast<float>(0.2 / (1.0 + e / 300.0));
        r.c3 = static_cast<float>(400.0 * std::pow(e, -3.0));
        r.mu = static_cast<float>((double(r.c1) + double(r.c2) + double(r.c3)) * double(density));
        d.coefficients.push_back(r);
    }
    for (int k = 0; k < scatteringRows; ++k) {
        const double x = 0.005 * std::pow(1e5, k / double(scatteringRows - 1));
        d.scattering.push_back(ScatteringRow{static_cast<float>(x), 0.0f,
                                             static_cast<float>(6.0 * (1.0 - std::exp(-2.5 * x * x)))});
    }
    return d;
}

// The data in the file layout: the energy in MeV as E9.3, the coefficients
// as E9.2, x as E10.3 and S as E12.5 (values are rounded by the layout).
inline std::string scattererFileText(const ScattererData& d)
{
    fixedio::LineWriter w;
    w.line(fixedio::formatI(static_cast<std::int64_t>(d.coefficients.size()), 3));
    w.line(fixedio::formatF(d.density, 9, 6));
    for (const CoefficientRow& r : d.coefficients)
        w.line(fixedio::formatE(r.energy / 1000.0, 9, 3) + fixedio::formatE(r.c1, 9, 2) +
               fixedio::formatE(r.c2, 9, 2) + fixedio::formatE(r.c3, 9, 2) + fixedio::formatE(0.0, 9, 2) +
               fixedio::formatE(0.0, 9, 2));
    for (const ScatteringRow& r : d.scattering)
        w.line(fixedio::formatE(r.x, 10, 3) + fixedio::formatE(r.unused, 12, 5) + fixedio::formatE(r.s, 12, 5));
    return w.content();
}

inline void writeFile(const std::filesystem::path& file, const std::string& content)
{
    std::ofstream out(file, std::ios::binary);
    out << content;
}

// A measured-looking spectrum: a broad hump with noise, zero below 5 keV,
// counts everywhere up to `lastNonZero` (0 after it).
inline Spectrum humpSpectrum(float width, int lastNonZero, std::uint32_t seed, int peak = 200000)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> noise(0.9, 1.1);
    Spectrum s{};
    for (int i = 1; i <= lastNonZero && i <= channelCount; ++i) {
        const double e = (i - 0.5) * width;
        if (e < 5.0) continue;
        const double hump = std::exp(-std::pow((e - 45.0) / 25.0, 2.0));
        s[static_cast<std::size_t>(i - 1)] = 1 + static_cast<std::int32_t>(peak * hump * noise(rng));
    }
    return s;
}

} // namespace tvconv::testing
