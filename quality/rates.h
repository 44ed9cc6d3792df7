// Rates of a measured spectrum: what the analyser's live and real time, the
// detector's entrance area and the tube's current-time product make of the
// beam-quality record.
//
// The counts were recorded during the live time, so N / live time is the
// rate at which photons reached the detector.  The tube delivered its mAs
// during the real time (the beam on for the whole acquisition), so the
// photons per mAs are that rate times the real time over the mAs.  The
// photon fluence is the photons over the entrance area (the aperture of the
// collimator in front of the detector), and the air kerma of that fluence
//     K = sum_i (N_i / A) E_i (mu_en/rho)_air(E_i)
// with the energy-absorption data the half-value layers use
// (BeamQuality::kermaSumKeVCm2PerG).
#pragma once

#include "quality/beamquality.h"

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace quality {

// What is known of a measurement besides its counts; empty where unknown.
struct Exposure {
    std::optional<double> liveTimeS;
    std::optional<double> realTimeS;
    std::optional<double> apertureMm2;  // detector's entrance area (mm2)
    std::optional<double> mAs;          // tube current-time product during the real time
    // The share of recorded events that are piled up, where the correction
    // estimated it (the unfolding's pile-up model); empty otherwise.
    std::optional<Value> pileupShare;
    // False when the record's total is not the number of photons that
    // reached the detector (a converted spectrum: the primary beam's shape
    // scaled to the scattered counts); no rate is computed then.
    bool countsAtDetector = true;
};

// The figures; NaN where they cannot be known.
struct Rates {
    Value liveTimeS, realTimeS;
    Value deadTimeFraction;  // 1 - live / real
    Value pileupShare;
    double apertureMm2 = std::numeric_limits<double>::quiet_NaN();
    double mAs = std::numeric_limits<double>::quiet_NaN();
    Value countRatePerS;              // N / live
    Value fluenceRatePerMm2S;         // N / live / A
    Value airKermaRateUGyPerS;        // K / live
    Value countsPerMAs;               // N / live * real / mAs
    Value fluencePerMm2PerMAs;
    Value airKermaPerMAsUGy;
};

// Joule per keV: the elementary charge of the SI (exact since 2019) times 1000.
inline constexpr double kJoulePerKeV = 1.602176634e-16;

// 1 - live / real when both are known and above 0 (0 when the live time
// exceeds the real time by the rounding readers allow); empty otherwise.
std::optional<double> deadTimeFraction(std::optional<double> liveTimeS, std::optional<double> realTimeS);

// The rates of the record q (value and uncertainty scale with the total or
// the kerma sum; the times, area and mAs are taken as exact).  Throws
// QualityError for an area or mAs not above 0, a live time not above 0 or
// a live time above the real time.
Rates computeRates(const BeamQuality& q, const Exposure& e);

// Lines for formatText's report: the times and rates that are known, and
// what is missing for the others; empty when nothing is known (a file
// without times, no area, no mAs).
std::string formatRatesText(const Rates& r, const Exposure& e);

// The keys of the rates, appended to jsonRecord's (live_time_s,
// real_time_s, dead_time_fraction, pileup_share, pileup_share_u,
// aperture_mm2, mas, then each rate and its "_u"), null where unknown.
void addRatesJson(nlohmann::ordered_json& record, const Rates& r);
// The whole record of `tarvik quality --json`: jsonRecord's keys, then the rates'.
nlohmann::ordered_json qualityRecord(const BeamQuality& q, const std::string& file, const Rates& r);
// The same as CSV columns, for after csvHeader() / toCsv().
std::string ratesCsvHeader();
std::string ratesCsv(const Rates& r);

} // namespace quality
